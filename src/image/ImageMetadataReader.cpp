#include "image/ImageMetadataReader.h"

#include "image/ImageSource.h"
#include "image/SourceProperties.h"
#include "image/VipsRuntime.h"

#include <QMap>
#include <QStringDecoder>

#include <initializer_list>

namespace snipjar {

namespace {

// Exif and IPTC strings carry no reliable encoding: UTF-8 when they decode as such, else Latin-1.
QString decodedText(const std::string& raw) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(raw.data(), qsizetype(raw.size())));
    if (decoder.hasError()) {
        text = QString::fromLatin1(raw.data(), qsizetype(raw.size()));
    }
    return text;
}

// A value counts only when some text is left after trimming white space and line breaks.
std::optional<QString> meaningful(const QString& text) {
    QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return std::nullopt;
    }
    return trimmed;
}

// The sub-dictionaries of one image's properties, filled from whichever library exposes them.
struct ImageProperties {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    QMap<QString, QString> pngText;

    std::optional<QString> exifText(const char* key) const {
        try {
            const auto found = exif.findKey(Exiv2::ExifKey(key));
            if (found == exif.end() || found->typeId() != Exiv2::asciiString) {
                return std::nullopt;
            }
            return meaningful(decodedText(found->toString()));
        } catch (...) {
            return std::nullopt;
        }
    }

    QStringList iptcTexts(const char* key) const {
        QStringList texts;
        try {
            const Exiv2::IptcKey wanted(key);
            for (const auto& datum : iptc) {
                if (datum.tag() == wanted.tag() && datum.record() == wanted.record()) {
                    if (auto text = meaningful(decodedText(datum.toString()))) {
                        texts.append(*text);
                    }
                }
            }
        } catch (...) {
        }
        return texts;
    }

    std::optional<QString> iptcText(const char* key) const {
        const QStringList texts = iptcTexts(key);
        return texts.isEmpty() ? std::nullopt : std::optional(texts.first());
    }

    std::optional<QString> pngTextOf(const QString& keyword) const {
        const auto found = pngText.constFind(keyword);
        return found == pngText.cend() ? std::nullopt : meaningful(*found);
    }
};

std::optional<QString> firstPresent(std::initializer_list<std::optional<QString>> candidates) {
    for (const auto& candidate : candidates) {
        if (candidate) {
            return candidate;
        }
    }
    return std::nullopt;
}

// PNG text chunks (tEXt, zTXt, iTXt) appear in the header as "png-comment-<n>-<keyword>".
void readPngText(VipsImage* header, ImageProperties& properties) {
    gchar** fields = vips_image_get_fields(header);
    for (gchar** field = fields; field && *field; ++field) {
        const QString name = QString::fromUtf8(*field);
        if (!name.startsWith(QLatin1String("png-comment-"))) {
            continue;
        }
        const QString keyword = name.section(QLatin1Char('-'), 3);
        const char* value = nullptr;
        if (!keyword.isEmpty() && vips_image_get_string(header, *field, &value) == 0 && value &&
            !properties.pngText.contains(keyword)) {
            properties.pngText.insert(keyword, QString::fromUtf8(value));
        }
    }
    g_strfreev(fields);
    VipsRuntime::discardError();
}

std::optional<QString> camera(const ImageProperties& properties) {
    const auto make = properties.exifText("Exif.Image.Make");
    const auto model = properties.exifText("Exif.Image.Model");
    if (make && model) {
        return model->contains(*make, Qt::CaseInsensitive) ? *model : *make + QLatin1Char(' ') + *model;
    }
    return make ? make : model;
}

std::optional<QString> captured(const ImageProperties& properties) {
    const auto date = firstPresent({properties.exifText("Exif.Photo.DateTimeOriginal"),
                                    properties.exifText("Exif.Photo.DateTimeDigitized")});
    if (!date || date->size() < 10) {
        return std::nullopt;
    }
    return date->left(10).replace(QLatin1Char(':'), QLatin1Char('-'));
}

} // namespace

ImageMetadata ImageMetadataReader::read(const ImageSource& source) {
    SourceProperties blocks = SourceProperties::read(source.bytes(), source.image());
    ImageProperties properties;
    properties.exif = std::move(blocks.exif);
    properties.iptc = std::move(blocks.iptc);
    readPngText(source.image(), properties);

    ImageMetadata metadata;
    metadata.width = source.width();
    metadata.height = source.height();
    metadata.name = firstPresent({properties.iptcText("Iptc.Application2.ObjectName"),
                                  properties.exifText("Exif.Image.DocumentName"),
                                  properties.pngTextOf(QStringLiteral("Title"))});
    metadata.caption = firstPresent({properties.iptcText("Iptc.Application2.Caption"),
                                     properties.iptcText("Iptc.Application2.Headline"),
                                     properties.exifText("Exif.Image.ImageDescription"),
                                     properties.pngTextOf(QStringLiteral("Description"))});
    metadata.keywords = properties.iptcTexts("Iptc.Application2.Keywords");
    metadata.credit = firstPresent({properties.iptcText("Iptc.Application2.Credit"),
                                    properties.iptcText("Iptc.Application2.Source"),
                                    properties.iptcText("Iptc.Application2.Byline")});
    metadata.camera = camera(properties);
    metadata.captured = captured(properties);
    return metadata;
}

} // namespace snipjar
