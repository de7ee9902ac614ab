// Figures of the panel: one search keystroke over 10,000 rows, loading the rows of a history of
// 10,000 items, and the grouping of such a history by the store.

#include "panel/PanelModel.h"
#include "store/ClipStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <random>

using namespace snipjar;

namespace {

const QString thisMac = QStringLiteral("BENCH-MAC");

const QStringList vocabulary = {
    QStringLiteral("the"),        QStringLiteral("meeting"), QStringLiteral("notes"),
    QStringLiteral("Project"),    QStringLiteral("invoice"), QStringLiteral("https://"),
    QStringLiteral("example"),    QStringLiteral(".com/"),   QStringLiteral("function"),
    QStringLiteral("return"),     QStringLiteral("value;"),  QStringLiteral("Größe"),
    QStringLiteral("café"),       QStringLiteral("address"), QStringLiteral("Tuesday"),
    QStringLiteral("password"),   QStringLiteral("const"),   QStringLiteral("auto"),
    QStringLiteral("{"),          QStringLiteral("}"),       QStringLiteral("deployment"),
    QStringLiteral("ticket"),     QStringLiteral("#4711"),   QStringLiteral("and"),
    QStringLiteral("of"),         QStringLiteral("review"),  QStringLiteral("draft"),
    QStringLiteral("final"),      QStringLiteral("summary"), QStringLiteral("budget"),
    QStringLiteral("2025-03-10"), QStringLiteral("ok"),
};

// Titles as a clipboard history holds them: mostly a line or two, some paragraphs, a few pages
// (titles are cut at 5000 characters).
QString historyText(std::mt19937& random) {
    std::uniform_int_distribution<int> share(0, 99);
    const int roll = share(random);
    const int length = roll < 70   ? std::uniform_int_distribution<int>(10, 120)(random)
                       : roll < 95 ? std::uniform_int_distribution<int>(120, 1000)(random)
                                   : std::uniform_int_distribution<int>(1000, 5000)(random);
    std::uniform_int_distribution<qsizetype> word(0, vocabulary.size() - 1);
    QString text;
    text.reserve(length + 16);
    while (text.size() < length) {
        text += vocabulary[word(random)];
        text += random() % 9 == 0 ? QLatin1Char('\n') : QLatin1Char(' ');
    }
    text.truncate(length);
    return text;
}

QList<PanelRow> tenThousandRows() {
    std::mt19937 random(42);
    QList<PanelRow> rows;
    const QDateTime start = QDateTime::currentDateTimeUtc();
    const QList<MacRef> origins{MacRef{thisMac, QStringLiteral("Desk")}};
    for (int index = 0; index < 10'000; ++index) {
        PanelRow row;
        row.id = QUuid::createUuid();
        row.kind = index % 10 == 0 ? ClipKind::image : ClipKind::text;
        row.text = historyText(random);
        row.createdAt = start.addSecs(-index);
        row.deviceID = thisMac;
        row.origins = origins;
        rows.append(std::move(row));
    }
    return rows;
}

// One keystroke: the query grows by its last letter, or loses it again, and the rows are filtered.
void searchKeystroke(benchmark::State& state, const QString& query) {
    ClipStore store(ClipStore::Location::inMemory, ClipStore::Options{thisMac, {}});
    PanelModel model(store, PreviewCache());
    model.setRows(tenThousandRows());
    const QString shorter = query.chopped(1);
    bool longer = false;
    for (auto _ : state) {
        longer = !longer;
        model.setQuery(longer ? query : shorter);
        benchmark::DoNotOptimize(model.visibleCount());
    }
    model.setQuery(query);
    state.counters["visibleRows"] = double(model.visibleCount());
}

void BM_SearchKeystroke(benchmark::State& state, const char* query) {
    searchKeystroke(state, QString::fromUtf8(query));
}
BENCHMARK_CAPTURE(BM_SearchKeystroke, first_letter, "p")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SearchKeystroke, second_letter, "pr")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SearchKeystroke, word, "budget")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SearchKeystroke, accented, "café")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SearchKeystroke, no_match, "zebra")->Unit(benchmark::kMicrosecond);

// Replacing the rows, which folds every title once for the searches that follow.
void BM_SetRows10000(benchmark::State& state) {
    ClipStore store(ClipStore::Location::inMemory, ClipStore::Options{thisMac, {}});
    PanelModel model(store, PreviewCache());
    const QList<PanelRow> rows = tenThousandRows();
    for (auto _ : state) {
        model.setRows(rows);
        benchmark::DoNotOptimize(model.visibleCount());
    }
}
BENCHMARK(BM_SetRows10000)->Unit(benchmark::kMillisecond);

Clip textClip(const QString& words) {
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = words;
    clip.sourceName = QStringLiteral("Editor");
    return clip;
}

// The history of the store benchmark: 10,000 items, a third of them copied on two computers, as
// fetched from one store (newest first) or as two stores' lists joined in no order.
QList<ClipItem> historyOfTenThousand(bool newestFirst) {
    QList<ClipItem> items;
    const QDateTime start = QDateTime::currentDateTimeUtc();
    for (int index = 0; index < 10'000; ++index) {
        const int content = index % 3 == 0 ? index / 3 : index;
        ClipItem item = ClipItem::fromClip(textClip(QStringLiteral("content %1").arg(content)), std::nullopt,
                                           index % 2 ? thisMac : QStringLiteral("OTHER"));
        item.createdAt = start.addSecs(newestFirst ? -index : -(index * 7919 % 10'000));
        items.append(item);
    }
    return items;
}

// The rows of a store on disk holding 10,000 items: both fetches, the computer names, the groups.
void BM_LoadRows10000(benchmark::State& state) {
    QTemporaryDir folder;
    qputenv("XDG_DATA_HOME", QFile::encodeName(folder.path()));
    ClipStore store(ClipStore::Location::onDisk, ClipStore::Options{thisMac, {}});
    {
        const std::unique_ptr<ModelContext> context = store.syncContainer().newContext();
        for (const ClipItem& item : historyOfTenThousand(true)) {
            context->insert(item);
        }
        context->save();
    }
    store.registerThisMac();
    PanelModel model(store, PreviewCache());
    for (auto _ : state) {
        benchmark::DoNotOptimize(model.loadRows().size());
    }
}
BENCHMARK(BM_LoadRows10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir environment;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
        qputenv(name, QFile::encodeName(environment.path()));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
