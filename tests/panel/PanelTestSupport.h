#pragma once

#include "EventLoopWait.h"
#include "TestEnvironment.h"
#include "panel/PanelModel.h"
#include "store/ClipStore.h"

#include <QFile>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// Readable values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace snipjar::test {

inline const QString thisMac = QStringLiteral("THIS-MAC");
inline const QString otherMac = QStringLiteral("OTHER-MAC");

// A panel model over a real store on SQLite files in temporary XDG folders; the store's clock moves a
// second ahead at every filed clip, so the clip filed last is the newest.
class PanelTest : public ::testing::Test {
protected:
    PanelTest()
        : store(std::make_unique<ClipStore>(ClipStore::Location::onDisk,
                                            ClipStore::Options{thisMac, [this] { return clockNow; }}))
        , model(std::make_unique<PanelModel>(*store, PreviewCache())) {}

    // Files a clip as the capture does, into the store its local-only rule chooses; the id.
    QUuid file(const Clip& clip) {
        clockNow = clockNow.addSecs(1);
        ModelContainer& container = clip.isLocalOnly() ? store->localContainer() : store->syncContainer();
        const std::unique_ptr<ModelContext> context = container.newContext();
        const QList<ClipSyncChange> changes = store->insert(clip, *context);
        return changes.isEmpty() ? QUuid() : changes.constLast().id;
    }
    // An item written straight into a store, as sync brings it from another computer; an image's
    // bytes go into a payload, without a stored pixel size.
    ClipItem put(ModelContainer& container, const Clip& clip, const QString& device, qint64 secondsAgo,
                 bool pinned = false) {
        ClipItem item = ClipItem::fromClip(clip, std::nullopt, device);
        item.createdAt = clockNow.addSecs(-secondsAgo);
        item.pinned = pinned;
        item.hasPayload = clip.imageData.has_value();
        const std::unique_ptr<ModelContext> context = container.newContext();
        context->insert(item);
        if (item.hasPayload) {
            ClipPayload payload;
            payload.itemID = item.id;
            payload.imageData = clip.imageData;
            payload.dataUTI = clip.dataUTI;
            context->insert(payload);
        }
        EXPECT_TRUE(context->save());
        return item;
    }
    ClipItem putImage(const QByteArray& bytes, qint64 secondsAgo) {
        Clip clip;
        clip.kind = Clip::Kind::image;
        clip.imageData = bytes;
        clip.dataUTI = QStringLiteral("public.jpeg");
        return put(store->syncContainer(), clip, otherMac, secondsAgo);
    }
    static Clip text(const QString& words) {
        Clip clip;
        clip.kind = Clip::Kind::text;
        clip.plainText = words;
        clip.sourceBundleID = QStringLiteral("org.example.Editor");
        clip.sourceName = QStringLiteral("Editor");
        return clip;
    }

    // Rows load off the main thread; these wait for them.
    bool rowsLoaded() {
        return waitUntil([this] { return !model->isLoadingRows(); });
    }
    void showPanel() {
        model->resetForShow();
        EXPECT_TRUE(rowsLoaded());
    }
    // Runs the event loop until the preview shows the clip (by its id, through the selection).
    bool waitForPreview() {
        return waitUntil([this] { return model->preview().has_value(); });
    }

    // Where the preview of an item is cached, and a file's bytes.
    static QString previewFile(const ClipItem& item) {
        return PreviewCache().filePath(PreviewCache::cacheKey(item.dedupKey, item.id));
    }
    static QByteArray fileContents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QStringList visibleTexts() const {
        QStringList texts;
        for (const PanelRow& row : model->visibleRows()) {
            texts.append(row.text);
        }
        return texts;
    }

    TestEnvironment environment;
    QDateTime clockNow = QDateTime::currentDateTimeUtc();
    std::unique_ptr<ClipStore> store;
    std::unique_ptr<PanelModel> model;
};

// A row with only the fields the filters look at.
inline PanelRow row(const QString& text, ClipKind kind = ClipKind::text, QList<MacRef> origins = {},
                    bool pinned = false) {
    PanelRow made;
    made.id = QUuid::createUuid();
    made.kind = kind;
    made.text = text;
    made.origins = std::move(origins);
    made.pinned = pinned;
    return made;
}

} // namespace snipjar::test
