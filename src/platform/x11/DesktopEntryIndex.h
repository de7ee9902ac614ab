#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar {

// The installed desktop entries (applications/*.desktop under the XDG data folders), looked up by
// window class: an entry matches when its StartupWMClass or its id equals the class, without regard
// to case. Entries earlier in the search path hide later ones with the same id, as the XDG rules say.
class DesktopEntryIndex {
public:
    struct Entry {
        // The desktop-file id: the path below applications/ with "/" replaced by "-", without
        // ".desktop" ("firefox-esr", "org.gnome.gedit").
        QString id;
        QString name;

        bool operator==(const Entry&) const = default;
    };

    // Reads the entries of $XDG_DATA_HOME and $XDG_DATA_DIRS now.
    static DesktopEntryIndex scan();
    // Reads the entries of the given data folders (each containing applications/), first wins.
    static DesktopEntryIndex scan(const QStringList& dataFolders);

    std::optional<Entry> entryForWindowClass(const QString& windowClass) const;

private:
    QHash<QString, Entry> byStartupWMClass; // lower-case class
    QHash<QString, Entry> byID;             // lower-case id
};

} // namespace snipjar
