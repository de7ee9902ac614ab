#pragma once

#include "model/Clip.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace snipjar {

// The forms a stored clip holds, each under the MIME type it is offered as on the clipboard: its
// text, RTF, HTML, image bytes or file URLs. `show --list-types` lists them and `show --mime`
// prints one.
class ClipFlavours {
public:
    struct Flavour {
        QString mimeType;
        QByteArray bytes;
    };

    // In the order a paste offers them.
    static QList<Flavour> of(const Clip& clip);
    // The bytes of the flavour a MIME type names, aliases included ("UTF8_STRING" and
    // "text/plain" for the text, "application/rtf" for RTF); none when the clip has no such form.
    static std::optional<QByteArray> bytes(const Clip& clip, const QString& mimeType);
    // True when bytes are not text a terminal can show: NUL bytes or broken UTF-8.
    static bool isBinary(const QByteArray& bytes);
};

} // namespace snipjar
