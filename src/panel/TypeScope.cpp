#include "panel/TypeScope.h"

#include "panel/PanelRow.h"

namespace snipjar {

QString typeScopeLabel(TypeScope scope) {
    switch (scope) {
    case TypeScope::all:
        return QStringLiteral("All");
    case TypeScope::text:
        return QStringLiteral("Text");
    case TypeScope::image:
        return QStringLiteral("Images");
    case TypeScope::file:
        return QStringLiteral("Files");
    case TypeScope::pinned:
        return QStringLiteral("Pinned");
    }
    return {};
}

QString typeScopePlaceholder(TypeScope scope) {
    if (scope == TypeScope::all) {
        return QStringLiteral("Search clipboard\u2026");
    }
    return QStringLiteral("Search ") + typeScopeLabel(scope).toLower() + QChar(0x2026);
}

bool typeScopeMatches(TypeScope scope, const PanelRow& row) {
    switch (scope) {
    case TypeScope::all:
        return true;
    case TypeScope::text:
        return row.kind == ClipKind::text || row.kind == ClipKind::richText || row.kind == ClipKind::unknown;
    case TypeScope::image:
        return row.kind == ClipKind::image;
    case TypeScope::file:
        return row.kind == ClipKind::file;
    case TypeScope::pinned:
        return row.pinned;
    }
    return false;
}

TypeScope cycledTypeScope(TypeScope scope, int step) {
    const int count = int(allTypeScopes.size());
    // The remainder of a negative step is negative; adding the count once more keeps it in range.
    const int ordinal = ((int(scope) + step) % count + count) % count;
    return allTypeScopes[size_t(ordinal)];
}

} // namespace snipjar
