#pragma once

#include <QByteArray>
#include <QImage>

namespace snipjar {

// Decodes stored image bytes for display: PNG and JPEG through Qt's own readers, and whatever those
// cannot read (the HEIC previews, TIFF) through the model's libvips decoder. A null image when
// nothing can read the bytes.
QImage decodeImage(const QByteArray& bytes);

} // namespace snipjar
