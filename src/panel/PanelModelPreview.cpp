// Preview loading: the delayed preview task, its two loaders on the model's pool, and the checks
// that keep a cancelled or overtaken result from being published.

#include "panel/PanelModel.h"

#include "panel/PreviewDocument.h"
#include "panel/PreviewLoader.h"
#include "panel/PreviewText.h"
#include "store/ClipStore.h"

#include <QPointer>
#include <QTextDocument>
#include <QThreadPool>

namespace snipjar {

namespace {

bool isTextKind(ClipKind kind) {
    return kind == ClipKind::text || kind == ClipKind::richText || kind == ClipKind::unknown;
}

// A text preview as a loader makes it: the text cut and counted, and the document the pane shows,
// laid out.
struct TextPreview {
    PreviewText text;
    std::shared_ptr<const QTextDocument> document;
};

// Reads the payload (without one the title stands in for the full text), styles rich text and lays
// the document out, all on a loader: a long or richly styled text takes a while at every step.
TextPreview loadTextPreview(ClipStore& store, const QUuid& id, bool hasPayload, const QString& title,
                            const PreviewDocumentStyle& style, const std::stop_token& stop) {
    TextPreview loaded;
    PreviewLoader::PayloadResult payload;
    if (hasPayload) {
        payload = PreviewLoader::loadPayload(store, id, stop);
    }
    loaded.text =
        payload.text ? std::move(*payload.text) : PreviewText::from(title, PreviewText::Counts::include);
    std::unique_ptr<QTextDocument> styled;
    if (payload.richTextData && !stop.stop_requested()) {
        RtfReader::Result read = PanelModel::readRichText(*payload.richTextData);
        // The payload's bytes are not needed any more, and may be megabytes.
        payload.richTextData.reset();
        styled = std::move(read.document);
        // The note under the styled text must be true of what it shows.
        loaded.text.truncated = loaded.text.truncated || (styled && read.truncated);
    }
    if (!stop.stop_requested()) {
        loaded.document =
            buildPreviewDocument(loaded.text.shown, std::move(styled), loaded.text.truncated, style);
    }
    return loaded;
}

// What a concealed clip shows instead of its content.
const QString concealedText(8, QChar(0x2022));

} // namespace

void PanelModel::setTextPreviewStyle(const PreviewDocumentStyle& style) {
    if (style == previewStyle) {
        return;
    }
    previewStyle = style;
    // The text on show was laid out for the old style; the new one is laid out on a loader too.
    if (currentPreview && currentPreview->document) {
        loadPreview();
    }
}

void PanelModel::schedulePreview() {
    // Every selection change, typed character or filter change disarms a pending delete.
    disarmDelete();
    cancelPreview();
    previewTimer.start(previewDelay);
}

void PanelModel::cancelPreview() {
    previewTimer.stop();
    previewTask.request_stop();
    previewTask = std::stop_source();
}

bool PanelModel::isCurrent(const std::stop_token& task, const QUuid& clipID) const {
    if (task.stop_requested()) {
        return false;
    }
    const std::optional<Row> row = selectedRow();
    return row && row->id == clipID;
}

template <typename Result, typename Load, typename Apply>
void PanelModel::runLoader(const QUuid& clipID, Load load, Apply apply) {
    const std::stop_token task = previewTask.get_token();
    // The destructor waits for the pool, so the model outlives every loader; the QPointer still
    // guards the queued result against a model that is gone by the time it is delivered.
    PanelModel* const context = this;
    const QPointer<PanelModel> owner(this);
    loaders->start([context, owner, task, clipID, load = std::move(load), apply = std::move(apply)]() {
        Result result = load(task);
        QMetaObject::invokeMethod(
            context,
            [owner, task, clipID, apply, result = std::move(result)]() mutable {
                if (owner && owner->isCurrent(task, clipID)) {
                    apply(std::move(result));
                }
            },
            Qt::QueuedConnection);
    });
}

void PanelModel::loadPreview() {
    cancelPreview();
    const std::optional<Row> row = selectedRow();
    if (!row) {
        setPreview(std::nullopt);
        return;
    }
    // The sync store is asked first, as the store's own lookup does, so the local store answering
    // is what makes the clip local-only.
    bool localOnly = false;
    std::optional<ClipItem> item = store.syncItem(row->id);
    if (!item) {
        item = store.localContext().item(row->id);
        localOnly = true;
    }
    if (!item) {
        setPreview(std::nullopt);
        return;
    }
    const ClipKind kind = item->kind();

    if (item->concealed) {
        // Neither the payload nor the image of a concealed clip is ever loaded for the preview.
        publishPreview(*item, localOnly, PreviewText::from(concealedText, PreviewText::Counts::omit), nullptr,
                       QImage());
        return;
    }

    if (kind == ClipKind::image) {
        PreviewLoader::ImageRequest request{previewCache, PreviewCache::cacheKey(item->dedupKey, item->id),
                                            PreviewCache::previewSide, !item->pixelWidth.has_value(),
                                            item->id};
        runLoader<PreviewLoader::ImageResult>(
            item->id,
            [&store = store, request](std::stop_token stop) {
                return PreviewLoader::loadImage(store, request, std::move(stop));
            },
            [this, item = *item, localOnly](PreviewLoader::ImageResult result) mutable {
                if (result.pixelSize) {
                    store.setPixelSizeIfMissing(item.id, result.pixelSize->width(),
                                                result.pixelSize->height());
                    // The preview shows the item as the store now holds it.
                    if (!item.pixelWidth) {
                        item.pixelWidth = result.pixelSize->width();
                        item.pixelHeight = result.pixelSize->height();
                    }
                }
                publishPreview(item, localOnly, PreviewText::from(item.title, PreviewText::Counts::omit),
                               nullptr, std::move(result.image));
            });
        return;
    }

    if (isTextKind(kind)) {
        runLoader<TextPreview>(
            item->id,
            [&store = store, id = item->id, hasPayload = item->hasPayload, title = item->title,
             style = previewStyle](std::stop_token stop) {
                return loadTextPreview(store, id, hasPayload, title, style, stop);
            },
            [this, item = *item, localOnly](TextPreview loaded) {
                publishPreview(item, localOnly, loaded.text, std::move(loaded.document), QImage());
            });
        return;
    }

    publishPreview(*item, localOnly, PreviewText::from(item->title, PreviewText::Counts::omit), nullptr,
                   QImage());
}

void PanelModel::publishPreview(const ClipItem& item, bool localOnly, const PreviewText& text,
                                std::shared_ptr<const QTextDocument> document, QImage image) {
    Preview preview;
    preview.kind = item.kind();
    preview.text = text.shown;
    preview.textTruncated = text.truncated;
    preview.document = std::move(document);
    preview.image = std::move(image);
    preview.fileURLs = item.fileURLs();
    preview.concealed = item.concealed;
    preview.pinned = item.pinned;
    preview.localOnly = localOnly;
    preview.createdAt = item.createdAt;
    preview.byteSize = item.byteSize;
    preview.sourceBundleID = item.sourceBundleID;
    preview.sourceName = item.sourceName;
    if (const std::optional<Row> row = selectedRow()) {
        for (const MacRef& origin : row->origins) {
            preview.originNames.append(origin.name);
        }
    }
    preview.lineCount = text.lineCount;
    preview.charCount = text.charCount;
    preview.pixelWidth = item.pixelWidth;
    preview.pixelHeight = item.pixelHeight;
    setPreview(std::move(preview));
}

} // namespace snipjar
