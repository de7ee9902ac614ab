#pragma once

#include <QString>

namespace snipjar {

// This computer's identity in the history.
class DeviceIdentity {
public:
    // The UUID in SNIPJAR_DEVICE_ID when it holds one (two profiles on one machine are then two
    // computers); else an identifier derived from /etc/machine-id (else /var/lib/dbus/machine-id)
    // for this application alone (appSpecificID); else "fallback-" + a random UUID. Computed once
    // per process. The machine id itself never leaves the computer: it is meant to stay private,
    // and the history is sent to a server.
    static QString currentDeviceID();
    // The identifier this computer went by before it was derived from the machine id: the machine
    // id itself, as a UUID. Empty when SNIPJAR_DEVICE_ID is used or there is no machine id.
    static QString previousDeviceID();
    // The identity under which systemd's sd_id128_get_machine_app_specific() would know this
    // application (systemd-id128 machine-id --app-specific=<it>).
    static constexpr const char* applicationID = "ebd18297-80ef-4217-8c49-d3f826bdcbcb";
    // The pretty host name, else the host name, else "Computer".
    static QString computerName();

    // Pure helpers, exposed for tests.
    static QString uuidFromMachineID(const QByteArray& contents);
    // HMAC-SHA256 of applicationID keyed with the machine id, cut to 128 bits and marked as a
    // version 4 UUID, upper-case hyphenated (as systemd derives application-specific ids); empty
    // when the contents are no machine id.
    static QString appSpecificID(const QByteArray& machineIDContents);
    // A UUID with or without hyphens or braces, upper-case hyphenated; empty when it is none.
    static QString uuidFromOverride(const QByteArray& value);
    static QString prettyHostnameFromMachineInfo(const QByteArray& contents);
};

} // namespace snipjar
