#include "image/ImageCodec.h"

#include "platform/LogCategories.h"
#include "platform/PrivateModule.h"

namespace snipjar {

const ImageCodec* ImageCodec::loaded() {
    static const ImageCodec* const codec = PrivateModule::interface<ImageCodec>(
        PrivateModule::candidates(QStringLiteral(SNIPJAR_IMAGING_FROM_PROGRAM),
                                  QStringLiteral(SNIPJAR_IMAGING_BUILD_FILE),
                                  QStringLiteral(SNIPJAR_IMAGING_INSTALLED_FILE)),
        SNIPJAR_IMAGE_CODEC_ENTRY, lcImage(), "The image module cannot be loaded; images cannot be read.");
    return codec;
}

} // namespace snipjar
