#pragma once

#include <QString>

namespace snipjar {

// The folders of the application, resolved from the XDG environment at every call so that tests
// can point them at temporary folders. Folders are created on demand with mode 0700.
class AppPaths {
public:
    // $XDG_DATA_HOME/Snipjar (default ~/.local/share/Snipjar): the history stores.
    static QString storeFolder();
    // $XDG_CACHE_HOME/Snipjar (default ~/.cache/Snipjar).
    static QString cacheFolder();
    // $XDG_CONFIG_HOME/Snipjar (default ~/.config/Snipjar): the settings file.
    static QString configFolder();
    // A private folder under $XDG_RUNTIME_DIR, else under the system temporary folder.
    static QString runtimeFolder();

    static QString dataHome();
    static QString cacheHome();
    static QString configHome();

    // Creates the folder with its parents; the folder itself gets mode 0700. Returns false on failure.
    static bool ensurePrivateFolder(const QString& path);
};

} // namespace snipjar
