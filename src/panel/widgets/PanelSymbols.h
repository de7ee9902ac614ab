#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace snipjar {

// The panel's symbols by their design names ("magnifyingglass", "pin.fill", ...). Each comes from
// the icon theme when the theme has a monochrome (symbolic) icon of that meaning, else from the SVG
// bundled with the panel, so a machine without any icon theme still shows every symbol. An unknown
// name gives a null icon.
QIcon panelSymbol(const QString& designName);

// The symbol as a square pixmap of pixelSize logical pixels, recoloured in `colour`: the panel draws
// its symbols in the level of the text beside them (secondary, tertiary, accent, white), as glyphs
// of a font would be. Cached, since rows paint the same few symbols again and again.
QPixmap panelSymbolPixmap(const QString& designName, int pixelSize, const QColor& colour,
                          qreal devicePixelRatio = 1.0);

} // namespace snipjar
