#include "platform/AppIdentity.h"

#include <QtGlobal>

#include <atomic>

namespace snipjar {

namespace {

// -1: no override; 0: release; 1: debug.
std::atomic<int> debugOverride{-1};

bool builtAsDebug() {
#ifdef SNIPJAR_DEBUG_IDENTITY
    return true;
#else
    return false;
#endif
}

} // namespace

bool AppIdentity::isDebug() {
    const int forced = debugOverride.load();
    if (forced >= 0) {
        return forced == 1;
    }
    const QByteArray fromEnvironment = qgetenv("SNIPJAR_IDENTITY");
    if (fromEnvironment == "debug") {
        return true;
    }
    if (fromEnvironment == "release") {
        return false;
    }
    return builtAsDebug();
}

QString AppIdentity::identifier() {
    return QString::fromLatin1(isDebug() ? debugIdentifier : releaseIdentifier);
}

QString AppIdentity::folderName() {
    return isDebug() ? QStringLiteral("Snipjar (Debug)") : QStringLiteral("Snipjar");
}

QByteArray AppIdentity::versionLine() {
    return "snipjar " + version().toUtf8() + "\n";
}

QString AppIdentity::version() {
    return QStringLiteral(SNIPJAR_VERSION);
}

void AppIdentity::overrideDebug(bool debug) {
    debugOverride.store(debug ? 1 : 0);
}

void AppIdentity::clearOverride() {
    debugOverride.store(-1);
}

} // namespace snipjar
