#include "sync/engine/StateSerialization.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace snipjar::sync {

QByteArray StateSerialization::toJson() const {
    return QJsonDocument(data).toJson(QJsonDocument::Compact);
}

std::optional<StateSerialization> StateSerialization::fromJson(const QByteArray& json, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        if (error != nullptr) {
            *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                  : QStringLiteral("not a JSON object");
        }
        return std::nullopt;
    }
    return StateSerialization{document.object()};
}

} // namespace snipjar::sync
