#include "PanelTestSupport.h"
#include "TestImages.h"
#include "image/ImageTranscode.h"

namespace snipjar::test {
namespace {

using namespace Qt::StringLiterals;
using PanelModelTest = PanelTest;
using PanelPreviewTest = PanelTest;

const MacRef macA{u"A"_s, u"Desk"_s};
const MacRef macB{u"B"_s, u"Laptop"_s};

// The query matches a case-insensitive substring of one title, folding letter case only: no
// diacritic folding in either normal form, no width folding, no trimming, no splitting into words.
TEST_F(PanelModelTest, QueryMatchesCaseInsensitiveSubstringOnly) {
    const QString decomposed = u"cafe\u0301 decomposed"_s;
    model->setRows({row(u"Say abc please"_s), row(u"café au lait"_s), row(decomposed),
                    row(u"GRÖSSE und Größe"_s), row(u"two  spaces"_s), row(u"ｗｉｄｅ"_s), row(u"Meſſe"_s)});
    const struct {
        QString query;
        QStringList matching;
    } cases[] = {
        {u"ABC"_s, {u"Say abc please"_s}},
        {u"cafe"_s, {}},
        {u"CAFÉ"_s, {u"café au lait"_s, decomposed}},
        {u"größe"_s, {u"GRÖSSE und Größe"_s}},
        {u"ö"_s, {u"GRÖSSE und Größe"_s}}, // two hits, one row
        {u"MESSE"_s, {u"Meſſe"_s}},        // the long s folds into an ASCII letter
        {u"wide"_s, {}},
        {u"o  s"_s, {u"two  spaces"_s}},
        {u" two"_s, {}},
        {u"please abc"_s, {}},
        {u"lait cafe"_s, {}}, // never from one title into the next
    };
    for (const auto& c : cases) {
        model->setQuery(c.query);
        EXPECT_EQ(visibleTexts(), c.matching) << c.query.toStdString();
    }
}

// The kind filter, the computer filter and the query must all pass; the order of all() is kept.
TEST_F(PanelModelTest, ScopesAndQueryCombineInRowOrder) {
    const MacRef desk{u"DESK"_s, u"Desk"_s};
    const MacRef laptop{u"LAPTOP"_s, u"Laptop"_s};
    model->setRows({row(u"note one"_s, ClipKind::text, {desk}),
                    row(u"picture"_s, ClipKind::image, {laptop}, true),
                    row(u"styled note"_s, ClipKind::richText, {laptop, desk}),
                    row(u"odd note"_s, ClipKind::unknown, {laptop}),
                    row(u"report.pdf"_s, ClipKind::file, {desk}, true)});
    const struct {
        TypeScope scope;
        std::optional<QString> mac;
        QString query;
        QStringList visible;
    } cases[] = {
        {TypeScope::text, std::nullopt, {}, {u"note one"_s, u"styled note"_s, u"odd note"_s}},
        {TypeScope::image, std::nullopt, {}, {u"picture"_s}},
        {TypeScope::file, std::nullopt, {}, {u"report.pdf"_s}},
        {TypeScope::pinned, std::nullopt, {}, {u"picture"_s, u"report.pdf"_s}},
        {TypeScope::all, desk.id, {}, {u"note one"_s, u"styled note"_s, u"report.pdf"_s}},
        {TypeScope::text, desk.id, u"NOTE"_s, {u"note one"_s, u"styled note"_s}},
        {TypeScope::all, u"desk"_s, {}, {}},
    };
    for (const auto& c : cases) {
        model->setTypeScope(c.scope);
        model->setMacScope(c.mac);
        model->setQuery(c.query);
        EXPECT_EQ(visibleTexts(), c.visible) << int(c.scope);
    }
}

// The selection stays inside the visible rows, stops at both ends and is 0 without rows; narrowing
// the rows leaves the index alone until it is clamped, new rows clamp at once.
TEST_F(PanelModelTest, SelectionIsClampedToVisibleRows) {
    model->setRows({row(u"one"_s), row(u"two"_s), row(u"three"_s)});
    model->moveSelection(-1);
    EXPECT_EQ(model->selection(), 0);
    for (const int step : {1, 1, 1}) {
        model->moveSelection(step);
    }
    EXPECT_EQ(model->selection(), 2);
    EXPECT_EQ(model->selectedRow()->text, u"three"_s);
    model->setQuery(u"t"_s);
    EXPECT_EQ(model->selectedRow(), std::nullopt);
    model->clampSelection();
    EXPECT_EQ(model->selection(), 1);
    EXPECT_EQ(model->selectedRow()->text, u"three"_s);
    model->setQuery(u"nothing like it"_s);
    model->clampSelection();
    EXPECT_EQ(model->selection(), 0);
    EXPECT_FALSE(model->selectedRow().has_value());
    model->setQuery(QString());
    model->setSelection(2);
    model->setRows({row(u"only"_s)});
    EXPECT_EQ(model->selection(), 0);
}

// A reload follows the selected clip when clips arrive above it (by sync, from the command line),
// so that Return pastes the clip the user chose.
TEST_F(PanelModelTest, ReloadKeepsTheSelectedClip) {
    file(text(u"chosen"_s));
    file(text(u"newer"_s));
    showPanel();
    model->setSelection(1);
    file(text(u"arrived"_s));
    put(store->syncContainer(), text(u"synced"_s), otherMac, -5);
    model->reloadKeepingSelection();
    ASSERT_TRUE(rowsLoaded());
    EXPECT_EQ(model->selectedRow()->text, u"chosen"_s);
}

// The kind filter steps through every kind and wraps at both ends, selecting the first row; the
// computer filter steps through every computer, then each one, and with one computer it stays.
TEST_F(PanelModelTest, FiltersCycleWrapping) {
    model->setRows({row(u"one"_s, ClipKind::text, {macA}), row(u"two"_s, ClipKind::text, {macA})});
    model->setSelection(1);
    model->cycleMacScope(1);
    EXPECT_EQ(model->macScope(), std::nullopt);
    EXPECT_EQ(model->selection(), 1);
    model->cycleTypeScope(-1);
    EXPECT_EQ(model->typeScope(), TypeScope::pinned);
    EXPECT_EQ(model->selection(), 0);
    QList<TypeScope> forward;
    for (int step = 0; step < 6; ++step) {
        model->cycleTypeScope(1);
        forward.append(model->typeScope());
    }
    EXPECT_EQ(forward, (QList{TypeScope::all, TypeScope::text, TypeScope::image, TypeScope::file,
                              TypeScope::pinned, TypeScope::all}));

    model->setRows({row(u"one"_s, ClipKind::text, {macA}), row(u"two"_s, ClipKind::text, {macB})});
    QList<std::optional<QString>> macs;
    for (int step = 0; step < 3; ++step) {
        model->cycleMacScope(1);
        macs.append(model->macScope());
    }
    EXPECT_EQ(macs, (QList<std::optional<QString>>{macA.id, macB.id, std::nullopt}));
    model->cycleMacScope(-1);
    EXPECT_EQ(model->macScope(), macB.id);
}

// The computer list follows the rows' origins, first occurrence first; a filter on a computer
// that is gone is cleared.
TEST_F(PanelModelTest, RowsRebuildComputersAndDropStaleFilter) {
    model->setRows({row(u"one"_s, ClipKind::text, {macB, macA}),
                    row(u"two"_s, ClipKind::text, {MacRef{macA.id, u"Old name"_s}})});
    EXPECT_EQ(model->macs(), (QList{macB, macA}));
    model->setMacScope(macB.id);
    model->setRows({row(u"three"_s, ClipKind::text, {macB})});
    EXPECT_EQ(model->macScope(), macB.id);
    model->setRows({row(u"four"_s, ClipKind::text, {macA})});
    EXPECT_EQ(model->macScope(), std::nullopt);
}

// Rows are the sync store's groups, then the local store's, newest first; copies of one content are
// one row, its computers named by their Device records or the fallback name.
TEST_F(PanelModelTest, RowsGroupBothStoresAndNameTheirComputers) {
    put(store->syncContainer(), text(u"shared"_s), thisMac, 50, true);
    put(store->syncContainer(), text(u"shared"_s), otherMac, 10);
    put(store->syncContainer(), text(u"synced"_s), otherMac, 20);
    Clip file;
    file.kind = Clip::Kind::file;
    file.fileURLs = {u"file:///tmp/a.txt"_s, u"file:///tmp/b.txt"_s};
    const ClipItem local = put(store->localContainer(), file, thisMac, 100);
    store->syncContext().insert(Device{thisMac, u"Desk"_s, std::nullopt});
    ASSERT_TRUE(store->syncContext().save());

    showPanel();
    const QList<PanelRow>& rows = model->all();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].text, u"shared"_s);
    EXPECT_EQ(rows[0].origins, (QList{MacRef{otherMac, u"Computer"_s}, MacRef{thisMac, u"Desk"_s}}));
    EXPECT_TRUE(rows[0].pinned);
    EXPECT_EQ(rows[2].id, local.id);
    EXPECT_EQ(rows[2].fileCount, 2);
}

// Pinning flips the selected clip's pin in the store and keeps the selection where it was; with
// no row selected it does nothing.
TEST_F(PanelModelTest, TogglePinKeepsSelection) {
    put(store->syncContainer(), text(u"older"_s), thisMac, 20);
    put(store->syncContainer(), text(u"newer"_s), thisMac, 10);
    showPanel();
    model->setSelection(1);
    for (const bool pinned : {true, false}) {
        model->togglePinSelected();
        ASSERT_TRUE(rowsLoaded());
        EXPECT_EQ(model->selection(), 1);
        EXPECT_EQ(model->all()[1].pinned, pinned);
    }
    model->setQuery(u"no such clip"_s);
    model->togglePinSelected();
    EXPECT_FALSE(store->item(model->all()[1].id)->pinned);
}

// Delete takes two presses on the same row; moving the selection in between re-arms instead. The
// row goes with its copy in the other store, and the selection holds the row after it.
TEST_F(PanelModelTest, TwoStepDeleteRemovesEveryCopy) {
    put(store->syncContainer(), text(u"last"_s), thisMac, 40);
    put(store->localContainer(), text(u"shared"_s), thisMac, 30);
    put(store->syncContainer(), text(u"shared"_s), otherMac, 20);
    put(store->syncContainer(), text(u"first"_s), thisMac, 10);
    showPanel();
    ASSERT_EQ(model->all().size(), 3);
    const QUuid first = model->all()[0].id;
    const QUuid shared = model->all()[1].id;

    model->deleteSelected();
    EXPECT_EQ(model->armedDeleteID(), first);
    model->moveSelection(1);
    model->schedulePreview();
    EXPECT_EQ(model->armedDeleteID(), std::nullopt);
    model->deleteSelected();
    EXPECT_EQ(model->armedDeleteID(), shared);
    EXPECT_EQ(model->all().size(), 3);

    model->deleteSelected();
    EXPECT_EQ(model->armedDeleteID(), std::nullopt);
    ASSERT_TRUE(rowsLoaded());
    EXPECT_EQ(model->all().size(), 2);
    EXPECT_EQ(model->selection(), 1);
    EXPECT_EQ(model->selectedRow()->text, u"last"_s);
}

// An image preview is rendered once, written to the cache under the image's digest, and the
// image's pixel size is measured into the store; later loads read the cache.
TEST_F(PanelPreviewTest, ImagePreviewIsRenderedCachedAndMeasured) {
    const ClipItem item = putImage(makeImage(QStringLiteral("jpg"), 320, 200), 10);
    showPanel();
    ASSERT_TRUE(waitForPreview());
    QFile cached(previewFile(item));
    ASSERT_TRUE(cached.open(QIODevice::ReadOnly));
    EXPECT_EQ(ImageTranscode::pixelSize(cached.readAll()), QSizeF(320, 200));
    EXPECT_EQ(store->item(item.id)->pixelWidth, 320);
    // With the size stored, a cached file is used as it is.
    const QByteArray stand_in = makeImage(QStringLiteral("png"), 12, 12);
    PreviewCache().write(PreviewCache::cacheKey(item.dedupKey, item.id), stand_in);
    model->loadPreview();
    ASSERT_TRUE(
        waitUntil([&] { return model->preview() && model->preview()->image.size() == QSize(12, 12); }));
}

// A result that arrives for a cancelled preview, or after the selection moved on, is dropped.
TEST_F(PanelPreviewTest, CancelledAndStaleResultsAreDropped) {
    const ClipItem older = putImage(makeImage(QStringLiteral("jpg"), 300, 300), 20);
    const ClipItem newer = putImage(makeImage(QStringLiteral("jpg"), 200, 300), 10);
    model->setRows(model->loadRows());
    ASSERT_EQ(model->all().size(), 2);

    model->loadPreview();
    model->setSelection(1);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(previewFile(newer)); }));
    settle(std::chrono::milliseconds(100));
    EXPECT_FALSE(model->preview().has_value());
    // A cancelled loader gives up before rendering when it can; either way nothing is published.
    model->loadPreview();
    model->cancelPreview();
    waitUntil([&] { return QFile::exists(previewFile(older)); }, std::chrono::seconds(2));
    settle(std::chrono::milliseconds(100));
    EXPECT_FALSE(model->preview().has_value());
}

// Selection changes in quick succession load a single preview, for the last selection.
TEST_F(PanelPreviewTest, QuickSelectionChangesLoadOncePerPause) {
    for (const QString& words : {QStringLiteral("three"), QStringLiteral("two"), QStringLiteral("one")}) {
        file(text(words));
    }
    showPanel();
    ASSERT_TRUE(waitForPreview());
    int published = 0;
    QObject::connect(model.get(), &PanelModel::previewChanged, [&published] { ++published; });
    for (int step = 0; step < 2; ++step) {
        model->moveSelection(1);
        model->schedulePreview();
    }
    EXPECT_EQ(model->preview()->text, QStringLiteral("one"));
    ASSERT_TRUE(waitUntil([this] { return model->preview()->text == QStringLiteral("three"); }));
    settle(PanelModel::previewDelay * 3);
    EXPECT_EQ(published, 1);
}

} // namespace
} // namespace snipjar::test
