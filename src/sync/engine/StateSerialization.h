#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <optional>

namespace snipjar::sync {

// The engine's state between runs (pending changes, the batch in flight, the fetch position), as
// one JSON object that nobody but the engine reads.
struct StateSerialization {
    QJsonObject data;

    QByteArray toJson() const;
    // None for bytes that are not one JSON object.
    static std::optional<StateSerialization> fromJson(const QByteArray& json, QString* error = nullptr);

    bool operator==(const StateSerialization&) const = default;
};

} // namespace snipjar::sync
