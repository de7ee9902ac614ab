#include "platform/AppPaths.h"

#include "platform/AppIdentity.h"
#include "platform/PrivateFiles.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace snipjar {

namespace {

QString homeFolder() {
    const QByteArray home = qgetenv("HOME");
    return home.isEmpty() ? QDir::homePath() : QString::fromLocal8Bit(home);
}

QString xdgFolder(const char* variable, const char* fallbackUnderHome) {
    const QString value = QString::fromLocal8Bit(qgetenv(variable));
    // The XDG base directory rules ignore relative paths.
    if (!value.isEmpty() && QDir::isAbsolutePath(value)) {
        return QDir::cleanPath(value);
    }
    return QDir::cleanPath(homeFolder() + QLatin1Char('/') + QLatin1String(fallbackUnderHome));
}

} // namespace

QString AppPaths::dataHome() {
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

QString AppPaths::cacheHome() {
    return xdgFolder("XDG_CACHE_HOME", ".cache");
}

QString AppPaths::configHome() {
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

QString AppPaths::storeFolder() {
    return dataHome() + QLatin1Char('/') + AppIdentity::folderName();
}

QString AppPaths::cacheFolder() {
    return cacheHome() + QLatin1Char('/') + AppIdentity::folderName();
}

QString AppPaths::configFolder() {
    return configHome() + QLatin1Char('/') + AppIdentity::folderName();
}

QString AppPaths::runtimeFolder() {
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()) {
        return QDir::cleanPath(runtime) + QLatin1Char('/') + AppIdentity::folderName();
    }
    return QDir::tempPath() + QStringLiteral("/%1-%2").arg(AppIdentity::folderName()).arg(getuid());
}

bool AppPaths::ensurePrivateFolder(const QString& path) {
    if (!QDir().mkpath(path)) {
        return false;
    }
    return PrivateFiles::restrictFolder(path);
}

} // namespace snipjar
