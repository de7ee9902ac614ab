#include "ImageTestImages.h"

#include "image/VipsImageHandle.h"
#include "image/VipsRuntime.h"

#include <QList>
#include <QtEndian>

#include <exiv2/exiv2.hpp>

#include <stdexcept>

namespace snipjar::test::images {

namespace {

// The system's own start-up, so that the XMP toolkit is initialised with its lock before any
// helper here reads a packet.
void ensureStarted() {
    if (!VipsRuntime::ensureStarted()) {
        throw std::runtime_error("libvips did not start");
    }
}

[[noreturn]] void fail(const char* what) {
    const std::string message = std::string(what) + ": " + vips_error_buffer();
    vips_error_clear();
    throw std::runtime_error(message);
}

VipsImageHandle noise(int width, int height, double sigma) {
    ensureStarted();
    VipsImageHandle bands[3];
    for (auto& band : bands) {
        if (vips_gaussnoise(band.out(), width, height, "mean", 128.0, "sigma", sigma, nullptr) != 0) {
            fail("gaussnoise");
        }
    }
    VipsImage* inputs[3] = {bands[0].get(), bands[1].get(), bands[2].get()};
    VipsImageHandle joined;
    if (vips_bandjoin(inputs, joined.out(), 3, nullptr) != 0) {
        fail("bandjoin");
    }
    VipsImageHandle rgb;
    if (vips_cast_uchar(joined.get(), rgb.out(), nullptr) != 0) {
        fail("cast");
    }
    // Noise is generated anew at every read, so it is fixed in memory before it is encoded.
    VipsImageHandle memory(vips_image_copy_memory(rgb.get()));
    vips_image_set_int(memory.get(), "interpretation", VIPS_INTERPRETATION_sRGB);
    return memory;
}

// The image saved in the format of a file name suffix with options, e.g. ".jpg[Q=90]".
QByteArray encoded(const VipsImageHandle& image, const std::string& suffix) {
    void* buffer = nullptr;
    size_t length = 0;
    if (vips_image_write_to_buffer(image.get(), suffix.c_str(), &buffer, &length, nullptr) != 0) {
        fail(suffix.c_str());
    }
    QByteArray bytes(static_cast<const char*>(buffer), qsizetype(length));
    g_free(buffer);
    return bytes;
}

template <typename Edit> QByteArray editedWithExiv2(const QByteArray& image, Edit edit) {
    ensureStarted();
    auto file = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(image.constData()),
                                          long(image.size()));
    file->readMetadata();
    edit(*file);
    file->writeMetadata();
    Exiv2::BasicIo& io = file->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf data = io.read(long(io.size()));
    return QByteArray(reinterpret_cast<const char*>(data.pData_), qsizetype(data.size_));
}

quint32 crc32(const QByteArray& bytes) {
    quint32 crc = 0xffffffffu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

QByteArray pngChunk(const char* type, const QByteArray& data) {
    QByteArray chunk;
    char length[4];
    qToBigEndian(quint32(data.size()), length);
    chunk.append(length, 4);
    const QByteArray body = QByteArray(type, 4) + data;
    chunk.append(body);
    char crc[4];
    qToBigEndian(crc32(body), crc);
    chunk.append(crc, 4);
    return chunk;
}

} // namespace

QByteArray noisyJpeg(int width, int height, double sigma, int quality) {
    return encoded(noise(width, height, sigma), ".jpg[Q=" + std::to_string(quality) + "]");
}

QByteArray noisyPng(int width, int height, double sigma) {
    return encoded(noise(width, height, sigma), ".png[compression=1]");
}

QByteArray tiff(int width, int height) {
    return encoded(noise(width, height, 10), ".tif");
}

QByteArray withExif(const QByteArray& image, const std::map<std::string, std::string>& exif,
                    std::optional<int> orientation) {
    return editedWithExiv2(image, [&](Exiv2::Image& file) {
        Exiv2::ExifData data = file.exifData();
        for (const auto& [key, value] : exif) {
            data[key] = value;
        }
        if (orientation) {
            data["Exif.Image.Orientation"] = uint16_t(*orientation);
        }
        file.setExifData(data);
    });
}

QByteArray withIptc(const QByteArray& image, const std::map<std::string, std::string>& iptc) {
    return editedWithExiv2(image, [&](Exiv2::Image& file) {
        Exiv2::IptcData data = file.iptcData();
        for (const auto& [taggedKey, value] : iptc) {
            const std::string key = taggedKey.substr(0, taggedKey.find('#'));
            Exiv2::Value::AutoPtr text = Exiv2::Value::create(Exiv2::string);
            text->read(value);
            data.add(Exiv2::IptcKey(key), text.get());
        }
        file.setIptcData(data);
    });
}

QByteArray withXmpNamespace(const QByteArray& jpeg, int index) {
    const QByteArray prefix = "t" + QByteArray::number(index);
    const QByteArray packet =
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:" +
        prefix + "=\"http://example.org/snipjar-test/" + QByteArray::number(index) + "/\" " + prefix +
        ":label=\"photo\"><dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Photo</rdf:li></rdf:Alt>"
        "</dc:title></rdf:Description></rdf:RDF></x:xmpmeta>";
    // An APP1 segment with the XMP signature (and its terminating zero) right after SOI.
    const QByteArray body = QByteArray("http://ns.adobe.com/xap/1.0/", 29) + packet;
    char length[2];
    qToBigEndian(quint16(body.size() + 2), length);
    return jpeg.left(2) + QByteArray("\xff\xe1", 2) + QByteArray(length, 2) + body + jpeg.mid(2);
}

QByteArray pngWithText(int width, int height, const std::map<std::string, std::string>& text) {
    const QByteArray plain = noisyPng(width, height, 5);
    // The text chunks go right after IHDR (8-byte signature + 25-byte chunk).
    QByteArray chunks;
    for (const auto& [keyword, value] : text) {
        chunks.append(
            pngChunk("tEXt", QByteArray::fromStdString(keyword) + '\0' + QByteArray::fromStdString(value)));
    }
    return plain.left(33) + chunks + plain.mid(33);
}

QByteArray pdf(int widthPoints, int heightPoints) {
    const QByteArray content = "0 0 1 rg 10 10 50 50 re f";
    QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + QByteArray::number(widthPoints) + ' ' +
            QByteArray::number(heightPoints) + "] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    QByteArray out = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(out.size());
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets) {
        out += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    }
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

QByteArray pngClaiming(quint32 width, quint32 height) {
    QByteArray header(13, '\0');
    qToBigEndian(width, header.data());
    qToBigEndian(height, header.data() + 4);
    header[8] = 8; // bit depth
    header[9] = 2; // RGB
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) +
           pngChunk("IDAT", QByteArray("\x78\x9c\x03\x00", 4)) + pngChunk("IEND", {});
}

QByteArray jpegClaiming(quint16 width, quint16 height) {
    // A real JPEG, with the frame header's size rewritten and the scan data cut short.
    QByteArray jpeg = noisyJpeg(64, 64, 10);
    const qsizetype frame = jpeg.indexOf(QByteArray("\xff\xc0", 2));
    if (frame < 0) {
        throw std::runtime_error("no SOF0 marker");
    }
    qToBigEndian(height, jpeg.data() + frame + 5);
    qToBigEndian(width, jpeg.data() + frame + 7);
    const qsizetype scan = jpeg.indexOf(QByteArray("\xff\xda", 2));
    return jpeg.left(scan + 40);
}

std::optional<Decoded> decode(const QByteArray& bytes) {
    ensureStarted();
    const char* loader = vips_foreign_find_load_buffer(bytes.constData(), size_t(bytes.size()));
    if (loader == nullptr) {
        vips_error_clear();
        return std::nullopt;
    }
    VipsImageHandle image(vips_image_new_from_buffer(bytes.constData(), size_t(bytes.size()), "", "fail_on",
                                                     VIPS_FAIL_ON_TRUNCATED, nullptr));
    if (!image) {
        vips_error_clear();
        return std::nullopt;
    }
    // Decoding every pixel proves the file is whole.
    double mean = 0;
    if (vips_avg(image.get(), &mean, nullptr) != 0) {
        vips_error_clear();
        return std::nullopt;
    }
    Decoded decoded;
    decoded.loader = loader;
    decoded.size = QSize(vips_image_get_width(image.get()), vips_image_get_height(image.get()));
    int bits = 0;
    decoded.bitsPerSample = vips_image_get_typeof(image.get(), "heif-bitdepth") &&
                                    vips_image_get_int(image.get(), "heif-bitdepth", &bits) == 0
                                ? bits
                                : int(vips_format_sizeof(vips_image_get_format(image.get())) * 8);
    return decoded;
}

namespace {

// The image's metadata as exiv2 reads it back; none when it cannot.
Exiv2::Image::AutoPtr readBack(const QByteArray& image) {
    ensureStarted();
    try {
        auto file = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(image.constData()),
                                              long(image.size()));
        file->readMetadata();
        return file;
    } catch (...) {
        return Exiv2::Image::AutoPtr();
    }
}

template <typename Data, typename Key> std::optional<std::string> valueOf(const Data& data, const Key& key) {
    const auto found = data.findKey(key);
    return found == data.end() ? std::nullopt : std::optional(found->toString());
}

} // namespace

std::optional<std::string> exifValue(const QByteArray& image, const std::string& key) {
    const auto file = readBack(image);
    return file.get() ? valueOf(file->exifData(), Exiv2::ExifKey(key)) : std::nullopt;
}

bool hasAnyExif(const QByteArray& image) {
    const auto file = readBack(image);
    return file.get() && (!file->exifData().empty() || !file->xmpData().empty());
}

std::optional<std::string> xmpValue(const QByteArray& image, const std::string& key) {
    const auto file = readBack(image);
    return file.get() ? valueOf(file->xmpData(), Exiv2::XmpKey(key)) : std::nullopt;
}

} // namespace snipjar::test::images
