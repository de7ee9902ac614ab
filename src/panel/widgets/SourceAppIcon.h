#pragma once

#include <QIcon>
#include <QString>

namespace snipjar {

// The icon of the application a clip was copied from, by its desktop entry id ("org.example.Editor"
// for org.example.Editor.desktop in an applications folder of the XDG data directories). Null when
// no such entry is installed or it names no icon. Looked up once per id.
QIcon sourceAppIcon(const QString& desktopEntryID);

} // namespace snipjar
