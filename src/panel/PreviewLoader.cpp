#include "panel/PreviewLoader.h"

#include "image/ImageTranscode.h"
#include "panel/ImageDecoding.h"
#include "platform/MemoryRelief.h"
#include "store/ClipStore.h"

namespace snipjar {

namespace {

std::optional<Clip> loadFromEitherStore(ClipStore& store, const QUuid& id) {
    if (std::optional<Clip> clip = store.loadClip(id, store.syncContainer())) {
        return clip;
    }
    return store.loadClip(id, store.localContainer());
}

PreviewLoader::ImageResult loadImageBytes(ClipStore& store, const PreviewLoader::ImageRequest& request,
                                          const std::stop_token& stop) {
    using ImageResult = PreviewLoader::ImageResult;
    std::optional<QByteArray> cached = request.cache.read(request.key, request.side);
    if (cached && !request.needsPixelSize) {
        return ImageResult{std::move(cached), {}, std::nullopt};
    }
    if (stop.stop_requested()) {
        return {};
    }
    ImageResult result;
    {
        // The full image may be tens of megabytes: it lives only inside this scope.
        std::optional<Clip> clip = loadFromEitherStore(store, request.id);
        if (!clip || !clip->imageData) {
            return ImageResult{std::move(cached), {}, std::nullopt};
        }
        if (request.needsPixelSize) {
            if (const std::optional<QSizeF> size = ImageTranscode::pixelSize(*clip->imageData)) {
                result.pixelSize = size->toSize();
            }
        }
        if (cached) {
            result.imageData = std::move(cached);
            return result;
        }
        if (stop.stop_requested()) {
            return {};
        }
        result.imageData = ImageTranscode::previewImage(*clip->imageData, request.side);
    }
    // Rendering leaves large freed buffers behind; hand them back rather than keep them resident.
    MemoryRelief::now();
    if (result.imageData) {
        request.cache.write(request.key, *result.imageData, request.side);
    }
    return result;
}

} // namespace

PreviewLoader::ImageResult PreviewLoader::loadImage(ClipStore& store, const ImageRequest& request,
                                                    std::stop_token stop) {
    ImageResult result = loadImageBytes(store, request, stop);
    if (result.imageData && !stop.stop_requested()) {
        result.image = decodeImage(*result.imageData);
    }
    return result;
}

QImage PreviewLoader::loadThumbnail(ClipStore& store, const QUuid& id) {
    for (ModelContainer* container : {&store.syncContainer(), &store.localContainer()}) {
        const std::unique_ptr<ModelContext> context = container->newContext();
        if (std::optional<ClipItem> item = context->item(id)) {
            return item->thumbnailData ? decodeImage(*item->thumbnailData) : QImage();
        }
    }
    return {};
}

PreviewLoader::PayloadResult PreviewLoader::loadPayload(ClipStore& store, const QUuid& id,
                                                        std::stop_token stop) {
    std::optional<Clip> clip = loadFromEitherStore(store, id);
    if (!clip || stop.stop_requested()) {
        return {};
    }
    PayloadResult result;
    if (clip->plainText) {
        result.text = PreviewText::from(*clip->plainText, PreviewText::Counts::include);
    }
    result.richTextData = std::move(clip->richTextData);
    return result;
}

} // namespace snipjar
