#pragma once

#include "model/ImageMetadata.h"

namespace snipjar {

class ImageSource;

// Reads an image's descriptive fields: IPTC and Exif through exiv2, the pixel size and PNG text
// chunks from the libvips header.
class ImageMetadataReader {
public:
    static ImageMetadata read(const ImageSource& source);
};

} // namespace snipjar
