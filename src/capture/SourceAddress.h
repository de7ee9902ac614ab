#pragma once

#include <QString>

#include <optional>

namespace snipjar {

class Pasteboard;

// The web address a copied image came from: the first URL object on the clipboard that is not a
// file URL, else the src of the first img tag of the clipboard's HTML. Used for the image title
// only. Runs off the main thread, like every read of the clipboard's contents.
std::optional<QString> sourceURLString(Pasteboard& pasteboard);

// The src attribute of the first img tag of an HTML text, with "&amp;" decoded; none for a missing
// or empty attribute, an unterminated value, or inline "data:" content.
std::optional<QString> imageSourceFromHTML(const QString& html);

} // namespace snipjar
