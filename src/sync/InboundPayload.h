#pragma once

#include <QByteArray>
#include <QString>
#include <QUuid>

#include <optional>

namespace snipjar::sync {

// A fetched payload record reduced to plain values, so that it can cross to the thread that applies
// fetched changes.
struct InboundPayload {
    QUuid itemID;
    std::optional<QString> fullText;
    std::optional<QByteArray> richText;
    std::optional<QString> dataUTI;
    std::optional<QByteArray> inlineImage;
    // The file of the "imageAsset" asset; it exists while the fetch's event is handled.
    std::optional<QString> assetPath;
    QByteArray systemFields;

    bool operator==(const InboundPayload&) const = default;
};

} // namespace snipjar::sync
