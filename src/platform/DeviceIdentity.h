#pragma once

#include <QString>

namespace snipjar {

// This computer's identity in the history.
class DeviceIdentity {
public:
    // The UUID in SNIPJAR_DEVICE_ID when it holds one (two profiles on one machine are then two
    // computers); else /etc/machine-id (else /var/lib/dbus/machine-id) written as an upper-case
    // hyphenated UUID; else "fallback-" + a random UUID. Computed once per process.
    static QString currentDeviceID();
    // The pretty host name, else the host name, else "Computer".
    static QString computerName();

    // Pure helpers, exposed for tests.
    static QString uuidFromMachineID(const QByteArray& contents);
    // A UUID with or without hyphens or braces, upper-case hyphenated; empty when it is none.
    static QString uuidFromOverride(const QByteArray& value);
    static QString prettyHostnameFromMachineInfo(const QByteArray& contents);
};

} // namespace snipjar
