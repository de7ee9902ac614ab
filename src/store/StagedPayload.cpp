#include "store/StagedPayload.h"

#include "store/BlobStorage.h"

#include <utility>

namespace snipjar {

StagedPayload::StagedPayload(ClipPayload payload, const BlobStorage* blobs)
    : record(std::move(payload))
    , blobs(blobs) {
    if (!blobs) {
        return;
    }
    if (record.richTextData && record.richTextData->size() >= BlobStorage::externalThreshold) {
        richText = blobs->write(record.itemID, "richText", *record.richTextData);
    }
    if (record.imageData && record.imageData->size() >= BlobStorage::externalThreshold) {
        image = blobs->write(record.itemID, "image", *record.imageData);
    }
    if (record.htmlData && record.htmlData->size() >= BlobStorage::externalThreshold) {
        html = blobs->write(record.itemID, "html", *record.htmlData);
    }
}

StagedPayload::StagedPayload(StagedPayload&& other) noexcept
    : record(std::move(other.record))
    , blobs(std::exchange(other.blobs, nullptr))
    , richText(std::move(other.richText))
    , image(std::move(other.image))
    , html(std::move(other.html)) {}

StagedPayload::~StagedPayload() {
    const BlobStorage* owner = blobs;
    for (const QString& name : release()) {
        owner->remove(name);
    }
}

QStringList StagedPayload::release() {
    QStringList files;
    if (std::exchange(blobs, nullptr)) {
        for (const std::optional<QString>& file : {richText, image, html}) {
            if (file) {
                files << *file;
            }
        }
    }
    return files;
}

} // namespace snipjar
