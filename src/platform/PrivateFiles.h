#pragma once

#include <QByteArray>
#include <QString>

namespace snipjar {

// History must not be readable by other users of a shared machine: every folder the application
// creates is 0700 and every file 0600, whatever the umask says.
class PrivateFiles {
public:
    static bool restrictFolder(const QString& path);
    static bool restrictFile(const QString& path);
    // Writes the bytes to a new file created with mode 0600 (write to a temporary name, fsync when
    // asked, rename into place). Returns false on any failure and leaves no partial file behind.
    enum class Durability { Buffered, Synced };
    static bool writeFile(const QString& path, const QByteArray& bytes, Durability durability);
    // fsync of a folder, so that a rename or unlink inside it survives a crash of the machine.
    static void syncFolder(const QString& path);
};

} // namespace snipjar
