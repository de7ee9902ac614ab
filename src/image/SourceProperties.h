#pragma once

#include "image/VipsInclude.h"

#include <QByteArray>

#include <exiv2/exiv2.hpp>

namespace snipjar {

// The Exif, IPTC and XMP blocks of an image file. exiv2 reads the container; Exif that only libvips
// finds (a PNG eXIf chunk, WebP) is taken from the libvips header.
struct SourceProperties {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;

    // Damaged or unknown blocks are left empty; this never throws.
    static SourceProperties read(const QByteArray& bytes, VipsImage* header);
};

} // namespace snipjar
