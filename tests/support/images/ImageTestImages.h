#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include <map>
#include <optional>
#include <string>

namespace snipjar::test {

// Real image files made by libvips and tagged by exiv2, for the image tests and benchmarks.
namespace images {

// Gaussian noise (standard deviation sigma) around mid grey: sigma 40 makes JPEGs and HEICs large,
// a small sigma gives content that compresses like a photograph.
QByteArray noisyJpeg(int width, int height, double sigma = 40, int quality = 90);
QByteArray noisyPng(int width, int height, double sigma = 40);
QByteArray tiff(int width, int height);

// The image with the given Exif and IPTC values added through exiv2. Exif keys are exiv2 keys
// ("Exif.Image.Make"); the orientation takes a number. IPTC keys may repeat with a "#n" suffix
// ("Iptc.Application2.Keywords#2").
QByteArray withExif(const QByteArray& image, const std::map<std::string, std::string>& exif,
                    std::optional<int> orientation = std::nullopt);
QByteArray withIptc(const QByteArray& image, const std::map<std::string, std::string>& iptc);

// The JPEG with an XMP packet (a dc:title and a property in a namespace named after the index)
// written as its own segment, so that no reader has seen the namespace before.
QByteArray withXmpNamespace(const QByteArray& jpeg, int index);

// A PNG with tEXt chunks, keyword to text.
QByteArray pngWithText(int width, int height, const std::map<std::string, std::string>& text);

// A one-page PDF of the given page size in points, drawing one filled rectangle.
QByteArray pdf(int widthPoints, int heightPoints);

// A valid-looking PNG or JPEG header that claims the given size, followed by almost no data.
QByteArray pngClaiming(quint32 width, quint32 height);
QByteArray jpegClaiming(quint16 width, quint16 height);

// Facts read back from an encoded image.
struct Decoded {
    std::string loader; // the libvips loader class, e.g. "VipsForeignLoadHeifBuffer"
    QSize size;
    int bitsPerSample = 0;
};
std::optional<Decoded> decode(const QByteArray& bytes);

// Exif values read back through exiv2 (any container it reads, HEIC included).
std::optional<std::string> exifValue(const QByteArray& image, const std::string& key);
bool hasAnyExif(const QByteArray& image);
std::optional<std::string> xmpValue(const QByteArray& image, const std::string& key);

} // namespace images

} // namespace snipjar::test
