// Figures of the panel window under a real X server (run it inside tests/support/with-x.sh):
// - opening the panel, from show() to the first frame with rows, over histories of 1,000 and
//   10,000 texts, and of 10,000 clips of which a third are images with thumbnails, all of them
//   synced (with the server's record fields stored beside them);
// - the preview of a 12-megapixel image, rendered the first time and read from the cache after.
// Histories are seeded into the private XDG folders with-x.sh sets up.

#include "image/ImageTranscode.h"
#include "panel/PanelModel.h"
#include "panel/PreviewLoader.h"
#include "panel/widgets/ClipPanel.h"
#include "panel/widgets/PanelController.h"
#include "paste/Paster.h"
#include "paste/StoredClipPaster.h"
#include "platform/UserSettings.h"
#include "platform/x11/X11Platform.h"
#include "store/ClipStore.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <random>
#include <stop_token>
#include <vector>

using namespace snipjar;

namespace {

QTextStream out(stdout);

void seedTexts(ClipStore& store, int count, int computer) {
    auto context = store.syncContainer().newContext();
    for (int i = 0; i < count; ++i) {
        Clip clip;
        clip.kind = Clip::Kind::text;
        clip.plainText =
            QStringLiteral("Clip %1 from computer %2: the quick brown fox jumps over the lazy dog")
                .arg(i)
                .arg(computer);
        clip.sourceName = QStringLiteral("Bench");
        store.insert(clip, *context);
    }
}

QByteArray photoJpeg(int width, int height, unsigned seed);

// Items as sync brings them from another computer: every third one an image with a real thumbnail,
// every one with the server's record fields (as large as a synced record's are).
void seedMixed(ClipStore& store, int count, int computer) {
    const QByteArray thumbnail =
        ImageTranscode::thumbnail(photoJpeg(1600, 1200, 3), 72).value_or(QByteArray());
    const QByteArray systemFields(1500, 'f');
    auto context = store.syncContainer().newContext();
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-count);
    for (int i = 0; i < count; ++i) {
        Clip clip;
        const bool image = i % 3 == 0;
        clip.kind = image ? Clip::Kind::image : Clip::Kind::text;
        if (image) {
            clip.imageData = QByteArray::number(i) + QByteArray::number(computer);
        } else {
            clip.plainText =
                QStringLiteral("Clip %1 from computer %2: the quick brown fox").arg(i).arg(computer);
        }
        ClipItem item = ClipItem::fromClip(clip, image ? std::optional(thumbnail) : std::nullopt,
                                           QStringLiteral("BENCH-%1").arg(computer));
        item.createdAt = start.addSecs(i);
        item.cloudRecordSystemFields = systemFields;
        context->insert(item);
    }
    context->save();
}

// A photo-like picture: smooth gradients with a little noise, as a camera gives.
QByteArray photoJpeg(int width, int height, unsigned seed) {
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int r = std::clamp(int(255.0 * x / width) + noise(random), 0, 255);
            const int g = std::clamp(int(255.0 * y / height) + noise(random), 0, 255);
            const int b =
                std::clamp(int(128 + 100 * ((x + y + int(seed)) % 500) / 500.0) + noise(random), 0, 255);
            line[x] = qRgb(r, g, b);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds from show() to the first paint of the result list (the frame that shows the rows).
double openOnce(PanelController& controller, qsizetype& rows) {
    auto* list = controller.window().findChild<QAbstractItemView*>();
    QWidget* watched = list ? list->viewport() : &controller.window();
    // Only a paint with rows counts: the rows may arrive after the panel is mapped.
    struct PaintWatch : QObject {
        explicit PaintWatch(PanelModel& model)
            : model(model) {}
        PanelModel& model;
        bool painted = false;
        bool eventFilter(QObject*, QEvent* event) override {
            painted = painted || (event->type() == QEvent::Paint && !model.all().isEmpty());
            return false;
        }
    } watch(controller.model());
    watched->installEventFilter(&watch);
    QElapsedTimer timer;
    timer.start();
    controller.show();
    // The main thread sleeps between events, as the application's does: spinning here would take a
    // core from the loader that reads the rows.
    while (!watch.painted && timer.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    const double milliseconds = timer.nsecsElapsed() / 1e6;
    rows = controller.model().all().size();
    watched->removeEventFilter(&watch);
    controller.hide();
    QCoreApplication::processEvents();
    return milliseconds;
}

enum class History { texts, thirdImages };

void benchOpen(X11Platform& platform, int clips, History history = History::texts) {
    const QString folder = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Snipjar");
    QDir(folder).removeRecursively();
    // The history keeps up to 1,000 clips of each computer, so a larger one holds the clips of
    // several computers, as a synced history does.
    for (int computer = 0; computer * 1000 < clips; ++computer) {
        ClipStore seeder(ClipStore::Location::onDisk,
                         ClipStore::Options{QStringLiteral("BENCH-%1").arg(computer), {}});
        if (history == History::texts) {
            seedTexts(seeder, std::min(1000, clips - computer * 1000), computer);
        } else {
            seedMixed(seeder, std::min(1000, clips - computer * 1000), computer);
        }
    }
    ClipStore store(ClipStore::Location::onDisk, ClipStore::Options{QStringLiteral("BENCH-0"), {}});
    Paster paster(*platform.pasteboard, *platform.workspace, *platform.keySynthesizer,
                  *platform.desktopNotifier, platform.primarySelection.get());
    StoredClipPaster clipPaster(store, paster, *platform.workspace);
    PanelController controller(store, clipPaster, *platform.workspace,
                               [&platform] { return platform.isCompositing(); });
    std::vector<double> times;
    qsizetype rows = 0;
    for (int run = 0; run < 15; ++run) {
        times.push_back(openOnce(controller, rows));
    }
    // Opens after a copy: the history changed since the last open, so its rows are read again.
    std::vector<double> afterCopy;
    for (int run = 0; run < 7; ++run) {
        Clip clip;
        clip.kind = Clip::Kind::text;
        clip.plainText = QStringLiteral("copied between two opens %1").arg(run);
        auto context = store.syncContainer().newContext();
        store.insert(clip, *context);
        afterCopy.push_back(openOnce(controller, rows));
    }
    // One keystroke in the open panel: the model filters and the list follows, before the frame.
    std::vector<double> keystrokes;
    controller.show();
    while (controller.model().isLoadingRows()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    QCoreApplication::processEvents();
    for (int run = 0; run < 20; ++run) {
        PanelKey key;
        key.action = PanelKey::Action::appendText;
        key.text = run % 2 == 0 ? QStringLiteral("o") : QString();
        QElapsedTimer timer;
        timer.start();
        if (run % 2 == 0) {
            controller.perform(key);
        } else {
            key.action = PanelKey::Action::eraseLast;
            controller.perform(key);
        }
        keystrokes.push_back(timer.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents();
    }
    controller.hide();
    const double first = times.front();
    out << QStringLiteral(
               "panel open, %1 %7 (%6 rows): median %2 ms, first %3 ms, max %4 ms, after a copy %8 ms "
               "(target <= %5 ms)\n")
               .arg(clips)
               .arg(median(times), 0, 'f', 1)
               .arg(first, 0, 'f', 1)
               .arg(*std::max_element(times.begin(), times.end()), 0, 'f', 1)
               .arg(clips > 1000 ? 100 : 50)
               .arg(rows)
               .arg(history == History::texts ? QStringLiteral("clips")
                                              : QStringLiteral("clips, a third images,"))
               .arg(median(afterCopy), 0, 'f', 1);
    out << QStringLiteral("search keystroke in the open panel, %1 clips: median %2 ms (target <= 2 ms)\n")
               .arg(clips)
               .arg(median(keystrokes), 0, 'f', 2);
    out.flush();
}

void benchImagePreview() {
    ClipStore store(ClipStore::Location::inMemory, ClipStore::Options{QStringLiteral("BENCH"), {}});
    Clip clip;
    clip.kind = Clip::Kind::image;
    clip.imageData = photoJpeg(4000, 3000, 7);
    auto context = store.syncContainer().newContext();
    store.insert(clip, *context);
    const ClipItem item = ClipStore::allItems(store.syncContext()).first();
    const PreviewCache cache;
    const PreviewLoader::ImageRequest request{cache, PreviewCache::cacheKey(item.dedupKey, item.id),
                                              PreviewCache::previewSide, true, item.id};
    QFile::remove(cache.filePath(request.key));
    QElapsedTimer timer;
    timer.start();
    const auto rendered = PreviewLoader::loadImage(store, request, std::stop_token());
    const double first = timer.nsecsElapsed() / 1e6;
    std::vector<double> cached;
    for (int run = 0; run < 10; ++run) {
        timer.restart();
        PreviewLoader::loadImage(store, request, std::stop_token());
        cached.push_back(timer.nsecsElapsed() / 1e6);
    }
    out << QStringLiteral("preview of a 12-megapixel JPEG (%1 MB): first %2 ms, from the cache %3 ms%4\n")
               .arg(clip.imageData->size() / 1e6, 0, 'f', 1)
               .arg(first, 0, 'f', 0)
               .arg(median(cached), 0, 'f', 1)
               .arg(rendered.imageData ? QString() : QStringLiteral(" (no image!)"));
    out.flush();
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    std::unique_ptr<X11Platform> platform = X11Platform::create();
    if (!platform) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    // The history keeps every seeded clip.
    UserSettings::setValue(UserSettings::historyLengthKey, 1000);
    // Without arguments every figure; else only those named (texts, mixed, preview), as for a
    // profiler.
    const QStringList arguments = application.arguments().mid(1);
    const auto wanted = [&arguments](const QString& name) {
        return arguments.isEmpty() || arguments.contains(name);
    };
    if (wanted(QStringLiteral("texts"))) {
        benchOpen(*platform, 1000);
        benchOpen(*platform, 10000);
    }
    if (wanted(QStringLiteral("mixed"))) {
        benchOpen(*platform, 10000, History::thirdImages);
    }
    if (wanted(QStringLiteral("preview"))) {
        benchImagePreview();
    }
    return 0;
}
