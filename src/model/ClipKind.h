#pragma once

#include <QString>

namespace snipjar {

// What a clip holds, in the order used wherever kinds are listed.
enum class ClipKind { text, richText, image, file, unknown };

QString clipKindRaw(ClipKind kind);
// The case whose stored string matches exactly; any other string gives unknown.
ClipKind clipKindFromRaw(const QString& raw);

} // namespace snipjar
