#include "platform/DeviceIdentity.h"

#include "platform/LogCategories.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMessageAuthenticationCode>
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

QString overrideID() {
    const QByteArray override = qgetenv("SNIPJAR_DEVICE_ID");
    if (override.isEmpty()) {
        return {};
    }
    const QString uuid = DeviceIdentity::uuidFromOverride(override);
    if (uuid.isEmpty()) {
        qCWarning(lcPlatform, "SNIPJAR_DEVICE_ID is not a UUID; using the machine id");
    }
    return uuid;
}

QByteArray machineIDContents() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        const QByteArray contents = readSmallFile(QString::fromLatin1(path));
        if (!DeviceIdentity::uuidFromMachineID(contents).isEmpty()) {
            return contents;
        }
    }
    return {};
}

QString computeDeviceID() {
    if (const QString uuid = overrideID(); !uuid.isEmpty()) {
        return uuid;
    }
    if (const QString uuid = DeviceIdentity::appSpecificID(machineIDContents()); !uuid.isEmpty()) {
        return uuid;
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

QString DeviceIdentity::appSpecificID(const QByteArray& machineIDContents) {
    const QString machine = uuidFromMachineID(machineIDContents);
    if (machine.isEmpty()) {
        return {};
    }
    QByteArray id =
        QMessageAuthenticationCode::hash(QUuid::fromString(QLatin1String(applicationID)).toRfc4122(),
                                         QUuid::fromString(machine).toRfc4122(), QCryptographicHash::Sha256)
            .left(16);
    id[6] = char((id[6] & 0x0f) | 0x40);
    id[8] = char((id[8] & 0x3f) | 0x80);
    return QUuid::fromRfc4122(id).toString(QUuid::WithoutBraces).toUpper();
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

QString DeviceIdentity::previousDeviceID() {
    static const QString identifier =
        overrideID().isEmpty() ? uuidFromMachineID(machineIDContents()) : QString();
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
