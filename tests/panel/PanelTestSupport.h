#pragma once

#include "ClipStoreTestSupport.h"
#include "EventLoopWait.h"
#include "panel/PanelModel.h"

#include <QFile>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// Readable values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace snipjar::test {

// A panel model over the shared store fixture, whose clock starts now; the store's clock moves a
// second ahead at every filed clip, so the clip filed last is the newest.
class PanelTest : public StoreTest {
protected:
    PanelTest() {
        clockNow = QDateTime::currentDateTimeUtc();
        open();
        model = std::make_unique<PanelModel>(*store, PreviewCache());
    }
    // The store is opened once, before the model over it.
    void SetUp() override {}

    // Files a clip as the capture does, into the store its local-only rule chooses; the id.
    QUuid file(const Clip& clip) {
        clockNow = clockNow.addSecs(1);
        ModelContainer& container = clip.isLocalOnly() ? store->localContainer() : store->syncContainer();
        const std::unique_ptr<ModelContext> context = container.newContext();
        const QList<ClipSyncChange> changes = store->insert(clip, *context);
        return changes.isEmpty() ? QUuid() : changes.constLast().id;
    }
    ClipItem put(ModelContainer& container, const Clip& clip, const QString& device, qint64 secondsAgo,
                 bool pinned = false) {
        return putItem(container, clip, device, clockNow.addSecs(-secondsAgo), pinned);
    }
    // An image from another computer: its bytes go into a payload, without a stored pixel size.
    ClipItem putImage(const QByteArray& bytes, qint64 secondsAgo) {
        const Clip clip = image(bytes, QStringLiteral("public.jpeg"));
        ClipItem item = ClipItem::fromClip(clip, std::nullopt, otherMac);
        item.createdAt = clockNow.addSecs(-secondsAgo);
        item.hasPayload = true;
        ClipPayload payload;
        payload.itemID = item.id;
        payload.imageData = clip.imageData;
        payload.dataUTI = clip.dataUTI;
        const std::unique_ptr<ModelContext> context = store->syncContainer().newContext();
        context->insert(item);
        context->insert(payload);
        EXPECT_TRUE(context->save());
        return item;
    }

    // Rows load off the main thread; these wait for them.
    bool rowsLoaded() {
        return waitUntil([this] { return !model->isLoadingRows(); });
    }
    void showPanel() {
        model->resetForShow();
        EXPECT_TRUE(rowsLoaded());
    }
    // Runs the event loop until a preview is shown.
    bool waitForPreview() {
        return waitUntil([this] { return model->preview().has_value(); });
    }

    // Where the preview of an item is cached.
    static QString previewFile(const ClipItem& item) {
        return PreviewCache().filePath(PreviewCache::cacheKey(item.dedupKey, item.id));
    }

    QStringList visibleTexts() const {
        QStringList texts;
        for (const PanelRow& row : model->visibleRows()) {
            texts.append(row.text);
        }
        return texts;
    }

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
