#pragma once

#include "app/update/SemanticVersion.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace snipjar {

// One release as announced by a verified update feed.
struct UpdateInfo {
    SemanticVersion version;
    QUrl notesUrl;
    QUrl downloadUrl;
    // The download's SHA-256 in lowercase hexadecimal and its size in bytes, both covered by the
    // feed's signature, so the file fetched from downloadUrl can be checked against them.
    QString sha256;
    qint64 size = 0;
};

} // namespace snipjar
