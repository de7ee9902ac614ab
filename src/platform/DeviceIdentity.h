#pragma once

#include <QString>

namespace snipjar {

// This computer's identity in the history.
class DeviceIdentity {
public:
    // /etc/machine-id (else /var/lib/dbus/machine-id) written as an upper-case hyphenated UUID;
    // else "fallback-" + a random UUID. Computed once per process.
    static QString currentDeviceID();
    // The pretty host name, else the host name, else "Computer".
    static QString computerName();

    // Pure helpers, exposed for tests.
    static QString uuidFromMachineID(const QByteArray& contents);
    static QString prettyHostnameFromMachineInfo(const QByteArray& contents);
};

} // namespace snipjar
