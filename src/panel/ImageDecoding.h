#pragma once

#include <QByteArray>
#include <QImage>

namespace snipjar {

// Decodes stored image bytes for display: PNG and JPEG through Qt's own readers, and whatever those
// cannot read (the HEIC previews and thumbnails, TIFF) through the model's libvips decoder. A null
// image when nothing can read the bytes. Decoding a preview takes a while, so it runs on the
// panel's loaders; the main thread only receives the image.
QImage decodeImage(const QByteArray& bytes);

// Tests see which thread decodes through this hook, called at every decode; null by default.
using ImageDecodeObserver = void (*)();
void setImageDecodeObserver(ImageDecodeObserver observer);

} // namespace snipjar
