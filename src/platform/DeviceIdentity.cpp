#include "platform/DeviceIdentity.h"

#include "platform/LogCategories.h"

#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUuid>

namespace snipjar {

namespace {

QByteArray readSmallFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.read(4096);
}

QString computeDeviceID() {
    const QByteArray override = qgetenv("SNIPJAR_DEVICE_ID");
    if (!override.isEmpty()) {
        const QString uuid = DeviceIdentity::uuidFromOverride(override);
        if (!uuid.isEmpty()) {
            return uuid;
        }
        qCWarning(lcPlatform, "SNIPJAR_DEVICE_ID is not a UUID; using the machine id");
    }
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        const QString uuid = DeviceIdentity::uuidFromMachineID(readSmallFile(QString::fromLatin1(path)));
        if (!uuid.isEmpty()) {
            return uuid;
        }
    }
    return QStringLiteral("fallback-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

} // namespace

QString DeviceIdentity::uuidFromMachineID(const QByteArray& contents) {
    const QString hex = QString::fromLatin1(contents).trimmed().toLower();
    static const QRegularExpression thirtyTwoHexDigits(QStringLiteral("^[0-9a-f]{32}$"));
    if (!thirtyTwoHexDigits.match(hex).hasMatch() || hex == QString(32, QLatin1Char('0'))) {
        return {};
    }
    const QString uuid = hex.mid(0, 8) + QLatin1Char('-') + hex.mid(8, 4) + QLatin1Char('-') +
                         hex.mid(12, 4) + QLatin1Char('-') + hex.mid(16, 4) + QLatin1Char('-') +
                         hex.mid(20, 12);
    return uuid.toUpper();
}

QString DeviceIdentity::uuidFromOverride(const QByteArray& value) {
    const QByteArray trimmed = value.trimmed();
    const QUuid parsed = QUuid::fromString(QLatin1String(trimmed));
    if (!parsed.isNull()) {
        return parsed.toString(QUuid::WithoutBraces).toUpper();
    }
    return uuidFromMachineID(trimmed);
}

QString DeviceIdentity::prettyHostnameFromMachineInfo(const QByteArray& contents) {
    for (const QByteArray& rawLine : contents.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (!line.startsWith("PRETTY_HOSTNAME=")) {
            continue;
        }
        QString value = QString::fromUtf8(line.mid(int(sizeof("PRETTY_HOSTNAME=") - 1))).trimmed();
        if (value.size() >= 2 &&
            (value.startsWith(QLatin1Char('"')) || value.startsWith(QLatin1Char('\''))) &&
            value.endsWith(value.front())) {
            value = value.mid(1, value.size() - 2);
        }
        value.replace(QStringLiteral("\\\""), QStringLiteral("\""));
        return value.trimmed();
    }
    return {};
}

QString DeviceIdentity::currentDeviceID() {
    static const QString identifier = computeDeviceID();
    return identifier;
}

QString DeviceIdentity::computerName() {
    const QString pretty = prettyHostnameFromMachineInfo(readSmallFile(QStringLiteral("/etc/machine-info")));
    if (!pretty.isEmpty()) {
        return pretty;
    }
    const QString host = QSysInfo::machineHostName().trimmed();
    if (!host.isEmpty() && host != QLatin1String("localhost")) {
        return host;
    }
    return QStringLiteral("Computer");
}

} // namespace snipjar
