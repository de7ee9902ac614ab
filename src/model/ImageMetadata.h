#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar {

// Facts read from an image file's own properties (IPTC, TIFF, Exif and PNG text fields).
struct ImageMetadata {
    std::optional<double> width;
    std::optional<double> height;
    std::optional<QString> name;
    std::optional<QString> caption;
    QStringList keywords;
    std::optional<QString> credit;
    std::optional<QString> camera;
    std::optional<QString> captured;

    bool operator==(const ImageMetadata&) const = default;
};

} // namespace snipjar
