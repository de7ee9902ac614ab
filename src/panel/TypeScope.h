#pragma once

#include <QString>

#include <array>

namespace snipjar {

struct PanelRow;

// The panel's kind filter, in the order Tab steps through it (which is also its ordinal order).
enum class TypeScope { all, text, image, file, pinned };

inline constexpr std::array<TypeScope, 5> allTypeScopes{TypeScope::all, TypeScope::text, TypeScope::image,
                                                        TypeScope::file, TypeScope::pinned};

// The tooltip of the scope's circle, also read out by screen readers: "All", "Text", "Images", ...
QString typeScopeLabel(TypeScope scope);
// The search field's placeholder under the scope: "Search clipboard…", "Search images…", ...
QString typeScopePlaceholder(TypeScope scope);
// Whether a row passes the kind filter. Clips of unknown kind count as text.
bool typeScopeMatches(TypeScope scope, const PanelRow& row);
// The scope `step` places further on, wrapping at both ends.
TypeScope cycledTypeScope(TypeScope scope, int step);

} // namespace snipjar
