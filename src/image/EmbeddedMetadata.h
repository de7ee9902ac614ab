#pragma once

#include "image/VipsInclude.h"

#include <QByteArray>
#include <QSize>

namespace snipjar {

// The metadata blocks written into a transcoded image that keeps its source's metadata.
struct EmbeddedMetadata {
    QByteArray exif; // TIFF-structured Exif, without the JPEG "Exif\0\0" marker
    QByteArray xmp;
    QByteArray iccProfile;

    // The source's Exif and XMP (with its IPTC carried over into XMP, since HEIC has no IPTC block),
    // rewritten for upright pixels of the given size, and the prepared image's colour profile.
    static EmbeddedMetadata fromSource(const QByteArray& sourceBytes, VipsImage* sourceHeader,
                                       VipsImage* prepared);
};

} // namespace snipjar
