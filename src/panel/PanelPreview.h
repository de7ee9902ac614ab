#pragma once

#include "model/ClipKind.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QTextDocument;

namespace snipjar {

// The detail of the selected clip, built and published as a whole.
struct PanelPreview {
    ClipKind kind = ClipKind::unknown;
    // At most 10,000 characters of the clip's text.
    QString text;
    // The text or its styled form was cut.
    bool textTruncated = false;
    // What the pane shows of a text: the styled form of rich text when the reader could read it
    // (at most 10,000 characters too), else the text, with the truncation note after a cut one.
    // Laid out whole at the pane's text width on a loader; the main thread only draws it. Absent
    // for images, files and concealed clips.
    std::shared_ptr<const QTextDocument> document;
    // The rendered preview image of an image clip, decoded on a loader; null when there is none.
    QImage image;
    QStringList fileURLs;
    bool concealed = false;
    // The clip's own pin, not the group's.
    bool pinned = false;
    // The clip lives in the local store and never syncs.
    bool localOnly = false;
    QDateTime createdAt;
    qint64 byteSize = 0;
    std::optional<QString> sourceBundleID;
    std::optional<QString> sourceName;
    // The names of the selected row's origins, in the same order.
    QStringList originNames;
    // Counts of the whole text; absent for images, files and concealed clips.
    std::optional<qsizetype> lineCount;
    std::optional<qsizetype> charCount;
    std::optional<qint64> pixelWidth;
    std::optional<qint64> pixelHeight;

    bool operator==(const PanelPreview&) const = default;
};

} // namespace snipjar
