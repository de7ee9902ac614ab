#pragma once

#include <QByteArrayView>

namespace snipjar {

// libjpeg only warns about a JPEG that ends early and fills the missing rows with grey, so a cut-off
// copy would pass for an image. This walks the marker structure to its end-of-image marker instead.
class JpegCompleteness {
public:
    static bool isJpeg(QByteArrayView bytes);
    // True when the segments and entropy-coded data run up to an end-of-image marker. Bytes after it
    // (a motion photo's video, a maker's trailer) do not matter.
    static bool isComplete(QByteArrayView bytes);
};

} // namespace snipjar
