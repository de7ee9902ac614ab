#include "image/ImageCodec.h"

#include "platform/LogCategories.h"
#include "platform/PrivateModule.h"

namespace snipjar {

namespace {

const ImageCodec* loadModule() {
    const QStringList candidates = PrivateModule::candidates(QStringLiteral(SNIPJAR_IMAGING_FROM_PROGRAM),
                                                             QStringLiteral(SNIPJAR_IMAGING_BUILD_FILE),
                                                             QStringLiteral(SNIPJAR_IMAGING_INSTALLED_FILE));
    if (const auto entry = reinterpret_cast<SnipjarImageCodecEntry>(
            PrivateModule::resolve(candidates, SNIPJAR_IMAGE_CODEC_ENTRY, lcImage(),
                                   "The image module cannot be loaded; images cannot be read."))) {
        return entry();
    }
    return nullptr;
}

} // namespace

const ImageCodec* ImageCodec::loaded() {
    static const ImageCodec* const codec = loadModule();
    return codec;
}

} // namespace snipjar
