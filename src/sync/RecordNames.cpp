#include "sync/RecordNames.h"

namespace snipjar::sync {

namespace {

bool isHexDigit(QChar character) {
    const char16_t unit = character.unicode();
    return (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'f') || (unit >= u'A' && unit <= u'F');
}

} // namespace

const cloud::RecordZoneID& RecordNames::zoneID() {
    static const cloud::RecordZoneID zone{zoneName, cloud::RecordZoneID::defaultOwner};
    return zone;
}

QString RecordNames::uuidText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> RecordNames::uuidFrom(const QString& text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    for (qsizetype index = 0; index < text.size(); ++index) {
        const QChar character = text.at(index);
        const bool hyphenPlace = index == 8 || index == 13 || index == 18 || index == 23;
        if (hyphenPlace ? character != QLatin1Char('-') : !isHexDigit(character)) {
            return std::nullopt;
        }
    }
    return QUuid::fromString(text);
}

RecordNames::Parsed RecordNames::parse(const QString& recordName) {
    Parsed parsed;
    if (recordName.startsWith(itemPrefix)) {
        if (const auto uuid = uuidFrom(recordName.mid(itemPrefix.size()))) {
            parsed.kind = Parsed::Kind::item;
            parsed.uuid = *uuid;
        }
    } else if (recordName.startsWith(payloadPrefix)) {
        if (const auto uuid = uuidFrom(recordName.mid(payloadPrefix.size()))) {
            parsed.kind = Parsed::Kind::payload;
            parsed.uuid = *uuid;
        }
    } else if (recordName.startsWith(devicePrefix)) {
        parsed.kind = Parsed::Kind::device;
        parsed.deviceID = recordName.mid(devicePrefix.size());
    }
    return parsed;
}

} // namespace snipjar::sync
