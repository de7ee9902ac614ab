#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace snipjar::test {

// One computer of a sync user: its own Xvfb display, its own XDG folders with a Snipjar.conf that
// switches sync on, no keyring (the device token goes to the private file), its own device id, and
// the running snipjar. Everything it started is stopped on destruction.
class SyncProfile {
public:
    SyncProfile(const QString& name, const QString& deviceID);
    ~SyncProfile();
    SyncProfile(const SyncProfile&) = delete;
    SyncProfile& operator=(const SyncProfile&) = delete;

    // Starts the display; false (with error()) when Xvfb does not come up.
    bool startDisplay();
    // Switches sync on in the settings and signs in with `snipjar sync sign-in`, the password on
    // standard input; its exit status.
    int signIn(const QString& server, const QString& user, const QString& password);
    // Starts snipjar and waits for its instance socket.
    bool startSnipjar();

    const QString& deviceID() const { return device; }
    const QString& display() const { return displayName; }
    const QString& error() const { return lastError; }

    // A command-line run of snipjar in this profile; its standard output, empty on failure.
    QByteArray run(const QStringList& arguments, int* exitCode = nullptr, const QByteArray& input = {});
    // `snipjar list --json`; empty on failure.
    QJsonArray list();
    // The listed row whose title is the text, or an empty object.
    QJsonObject rowTitled(const QString& title);

    // xclip owns the clipboard of this display with the text, for the given target.
    void copyWithXclip(const QByteArray& bytes, const QString& target = QStringLiteral("UTF8_STRING"));
    // A program that offers the targets and values (pairs) on the clipboard; it prints "ready" and
    // then "request TARGET" for every request it answers.
    QProcess* copyWithOwner(const QStringList& targetsAndValues);

    // What snipjar wrote to stderr so far, with the profile's name.
    QByteArray log();

private:
    QProcess* startClient(const QString& program, const QStringList& arguments);

    QString name;
    QString device;
    QTemporaryDir folder;
    QProcessEnvironment environment;
    QString displayName;
    QString lastError;
    QProcess xvfb;
    QProcess snipjar;
    QByteArray logged;
    std::vector<std::unique_ptr<QProcess>> clients;
};

} // namespace snipjar::test
