#pragma once

#include <QString>

// The field keys of the history's records, as they travel to and from the server.
namespace snipjar::sync::key {
inline const QString deviceRef = QStringLiteral("deviceRef");
inline const QString deviceID = QStringLiteral("deviceID");
inline const QString createdAt = QStringLiteral("createdAt");
inline const QString pinned = QStringLiteral("pinned");
inline const QString kind = QStringLiteral("kind");
inline const QString byteSize = QStringLiteral("byteSize");
inline const QString dedupKey = QStringLiteral("dedupKey");
inline const QString title = QStringLiteral("title");
inline const QString thumbnail = QStringLiteral("thumbnail");
inline const QString hasPayload = QStringLiteral("hasPayload");
inline const QString sourceName = QStringLiteral("sourceName");
inline const QString sourceBundleID = QStringLiteral("sourceBundleID");
inline const QString itemRef = QStringLiteral("itemRef");
inline const QString fullText = QStringLiteral("fullText");
inline const QString richText = QStringLiteral("richText");
inline const QString dataUTI = QStringLiteral("dataUTI");
inline const QString image = QStringLiteral("image");
inline const QString imageAsset = QStringLiteral("imageAsset");
inline const QString name = QStringLiteral("name");
} // namespace snipjar::sync::key
