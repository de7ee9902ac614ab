#pragma once

#include <QByteArray>
#include <QString>

namespace snipjar {

// The application identifier and the names derived from it. Release builds are
// "app.snipjar.Snipjar"; debug builds add ".debug", which moves every folder to
// "Snipjar (Debug)" so that a development copy never touches the real history.
class AppIdentity {
public:
    static constexpr const char* releaseIdentifier = "app.snipjar.Snipjar";
    static constexpr const char* debugIdentifier = "app.snipjar.Snipjar.debug";

    static QString identifier();
    static bool isDebug();
    // "Snipjar" or "Snipjar (Debug)": the folder name under the data, cache and config folders.
    static QString folderName();
    static QString version();
    // What `snipjar --version` prints: "snipjar" and the version, one line.
    static QByteArray versionLine();

    // Test hook and runtime switch: chooses the identity without rebuilding. The environment
    // variable SNIPJAR_IDENTITY=debug|release does the same for child processes.
    static void overrideDebug(bool debug);
    static void clearOverride();
};

} // namespace snipjar
