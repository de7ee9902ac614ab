#include "image/SourceProperties.h"

#include "image/VipsRuntime.h"

#include <cstring>

namespace snipjar {

namespace {

void readWithExiv2(const QByteArray& bytes, SourceProperties& properties) {
    try {
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                               long(bytes.size()));
        if (image.get() == nullptr) {
            return;
        }
        image->readMetadata();
        properties.exif = image->exifData();
        properties.iptc = image->iptcData();
        properties.xmp = image->xmpData();
    } catch (...) {
        // A format exiv2 does not know or a damaged metadata block: what libvips found still counts.
    }
}

// libvips keeps the Exif block with or without the "Exif\0\0" marker that JPEG puts before it.
void readExifFromHeader(VipsImage* header, SourceProperties& properties) {
    if (!properties.exif.empty() || vips_image_get_typeof(header, VIPS_META_EXIF_NAME) == 0) {
        return;
    }
    const void* data = nullptr;
    size_t length = 0;
    if (vips_image_get_blob(header, VIPS_META_EXIF_NAME, &data, &length) != 0) {
        VipsRuntime::discardError();
        return;
    }
    auto bytes = static_cast<const Exiv2::byte*>(data);
    static constexpr char marker[] = {'E', 'x', 'i', 'f', 0, 0};
    if (length >= sizeof marker && std::memcmp(bytes, marker, sizeof marker) == 0) {
        bytes += sizeof marker;
        length -= sizeof marker;
    }
    try {
        Exiv2::ExifParser::decode(properties.exif, bytes, uint32_t(length));
    } catch (...) {
        properties.exif.clear();
    }
}

} // namespace

SourceProperties SourceProperties::read(const QByteArray& bytes, VipsImage* header) {
    SourceProperties properties;
    readWithExiv2(bytes, properties);
    readExifFromHeader(header, properties);
    return properties;
}

} // namespace snipjar
