#include "model/ClipKind.h"

namespace snipjar {

QString clipKindRaw(ClipKind kind) {
    switch (kind) {
    case ClipKind::text:
        return QStringLiteral("text");
    case ClipKind::richText:
        return QStringLiteral("richText");
    case ClipKind::image:
        return QStringLiteral("image");
    case ClipKind::file:
        return QStringLiteral("file");
    case ClipKind::unknown:
        break;
    }
    return QStringLiteral("unknown");
}

ClipKind clipKindFromRaw(const QString& raw) {
    for (ClipKind kind : {ClipKind::text, ClipKind::richText, ClipKind::image, ClipKind::file}) {
        if (raw == clipKindRaw(kind)) {
            return kind;
        }
    }
    return ClipKind::unknown;
}

} // namespace snipjar
