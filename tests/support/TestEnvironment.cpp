#include "TestEnvironment.h"

#include <QDir>

namespace snipjar::test {

TestEnvironment::TestEnvironment()
    : folder(QDir::tempPath() + QStringLiteral("/snipjar-test-XXXXXX")) {
    for (const auto& [name, variable] :
         {std::pair{"data", "XDG_DATA_HOME"}, std::pair{"cache", "XDG_CACHE_HOME"},
          std::pair{"config", "XDG_CONFIG_HOME"}, std::pair{"runtime", "XDG_RUNTIME_DIR"}}) {
        QDir(folder.path()).mkpath(QString::fromLatin1(name));
        set(variable, QFile::encodeName(folder.filePath(QString::fromLatin1(name))));
    }
    QFile::setPermissions(folder.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
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
