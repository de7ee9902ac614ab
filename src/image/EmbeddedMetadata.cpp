#include "image/EmbeddedMetadata.h"

#include "image/SourceProperties.h"
#include "image/VipsRuntime.h"

namespace snipjar {

namespace {

// The pixels are already upright and scaled, so the metadata must neither ask for another rotation
// nor describe the old size, and the source's embedded preview would show the old orientation.
QByteArray rewrittenExif(Exiv2::ExifData exif, int width, int height) {
    if (exif.empty()) {
        return {};
    }
    try {
        Exiv2::ExifThumb(exif).erase();
        exif["Exif.Image.Orientation"] = uint16_t(1);
        if (exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension")) != exif.end()) {
            exif["Exif.Photo.PixelXDimension"] = uint32_t(width);
            exif["Exif.Photo.PixelYDimension"] = uint32_t(height);
        }
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
        return QByteArray(reinterpret_cast<const char*>(blob.data()), qsizetype(blob.size()));
    } catch (...) {
        return {};
    }
}

QByteArray rewrittenXmp(Exiv2::XmpData xmp, const Exiv2::IptcData& iptc) {
    try {
        if (!iptc.empty()) {
            Exiv2::copyIptcToXmp(iptc, xmp);
        }
        if (xmp.empty()) {
            return {};
        }
        const auto orientation = xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
        if (orientation != xmp.end()) {
            orientation->setValue("1");
        }
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::omitPacketWrapper) != 0) {
            return {};
        }
        return QByteArray::fromStdString(packet);
    } catch (...) {
        return {};
    }
}

QByteArray iccProfileOf(VipsImage* image) {
    if (vips_image_get_typeof(image, VIPS_META_ICC_NAME) == 0) {
        return {};
    }
    const void* data = nullptr;
    size_t length = 0;
    if (vips_image_get_blob(image, VIPS_META_ICC_NAME, &data, &length) != 0) {
        VipsRuntime::discardError();
        return {};
    }
    return QByteArray(static_cast<const char*>(data), qsizetype(length));
}

} // namespace

EmbeddedMetadata EmbeddedMetadata::fromSource(const QByteArray& sourceBytes, VipsImage* sourceHeader,
                                              VipsImage* prepared) {
    const SourceProperties properties = SourceProperties::read(sourceBytes, sourceHeader);
    EmbeddedMetadata metadata;
    metadata.exif =
        rewrittenExif(properties.exif, vips_image_get_width(prepared), vips_image_get_height(prepared));
    metadata.xmp = rewrittenXmp(properties.xmp, properties.iptc);
    metadata.iccProfile = iccProfileOf(prepared);
    return metadata;
}

} // namespace snipjar
