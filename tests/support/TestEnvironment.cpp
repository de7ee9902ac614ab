#include "TestEnvironment.h"

#include <QDir>

namespace snipjar::test {

TestEnvironment::TestEnvironment()
    : folder(QDir::tempPath() + QStringLiteral("/snipjar-test-XXXXXX")) {
    const QString base = folder.path();
    for (const char* name : {"data", "cache", "config", "runtime"}) {
        QDir(base).mkpath(QString::fromLatin1(name));
    }
    QFile::setPermissions(base + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    set("XDG_DATA_HOME", QFile::encodeName(base + QStringLiteral("/data")));
    set("XDG_CACHE_HOME", QFile::encodeName(base + QStringLiteral("/cache")));
    set("XDG_CONFIG_HOME", QFile::encodeName(base + QStringLiteral("/config")));
    set("XDG_RUNTIME_DIR", QFile::encodeName(base + QStringLiteral("/runtime")));
}

TestEnvironment::~TestEnvironment() {
    for (const auto& [name, value] : previous) {
        if (value) {
            qputenv(name.constData(), *value);
        } else {
            qunsetenv(name.constData());
        }
    }
}

void TestEnvironment::set(const char* name, const QByteArray& value) {
    if (!previous.contains(QByteArray(name))) {
        previous[QByteArray(name)] =
            qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    }
    qputenv(name, value);
}

} // namespace snipjar::test
