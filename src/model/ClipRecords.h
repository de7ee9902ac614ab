#pragma once

#include "model/Clip.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace snipjar {

// The persisted records of the history (schema version 1.0.0: ClipItem, ClipPayload, Device).

// One history entry.
struct ClipItem {
    QUuid id = QUuid::createUuid();
    QDateTime createdAt = QDateTime::currentDateTimeUtc();
    QString deviceID;
    QString kindRaw = QStringLiteral("text");
    bool concealed = false;
    bool pinned = false;
    QString dedupKey;
    qint64 byteSize = 0;
    QString title;
    std::optional<QByteArray> thumbnailData;
    std::optional<qint64> pixelWidth;
    std::optional<qint64> pixelHeight;
    bool hasPayload = false;
    std::optional<QString> fileURLsJoined;
    std::optional<QString> sourceBundleID;
    std::optional<QString> sourceName;
    std::optional<QByteArray> cloudRecordSystemFields;

    bool operator==(const ClipItem&) const = default;

    ClipKind kind() const { return clipKindFromRaw(kindRaw); }
    // fileURLsJoined split at every line feed, empty pieces dropped.
    QStringList fileURLs() const;

    // A new entry for a clip: title cut to 5000 characters, not pinned, no payload yet.
    static ClipItem fromClip(const Clip& clip, const std::optional<QByteArray>& thumbnail,
                             const QString& deviceID);
};

// The full content of an entry that is too large or too rich for the list.
struct ClipPayload {
    QUuid itemID = QUuid::createUuid();
    std::optional<QString> fullText;
    std::optional<QByteArray> richTextData;
    std::optional<QByteArray> imageData;
    std::optional<QString> dataUTI;
    std::optional<QByteArray> cloudRecordSystemFields;
    // Stored locally only: sync records carry no HTML, so a peer receives the text without it.
    std::optional<QByteArray> htmlData;

    bool operator==(const ClipPayload&) const = default;
};

// One computer that takes part in the history.
struct Device {
    QString id;
    QString name;
    std::optional<QByteArray> cloudRecordSystemFields;

    bool operator==(const Device&) const = default;
};

} // namespace snipjar
