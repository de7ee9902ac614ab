#pragma once

#include "app/settings/SettingsSection.h"

#include <QByteArray>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace snipjar {

class SyncAccount;

// "Sync": whether the history is kept in step through the user's sync server, the server's
// address (under "syncServer"), signing this computer in with a user name and password (the
// password is used for that alone and never kept; the device token the server gives is kept in
// the keyring) and out again, why sync is off when it is, how it goes while it runs, and how much
// of the history is synced. The switch is announced as syncEnabledChanged, a new server or sign-in
// as syncAccountChanged; the shell starts, stops or restarts syncing.
class SyncSection : public SettingsSection {
    Q_OBJECT
public:
    // The widest a server address is shown.
    static constexpr int fieldWidth = 250;

    explicit SyncSection(QWidget* parent = nullptr);

    QCheckBox* syncToggle() const { return toggle; }
    QLabel* storageLabel() const { return storage; }
    QLineEdit* serverField() const { return server; }
    // Why the server address is not accepted; hidden while it is.
    QLabel* serverProblemLabel() const { return serverProblem; }
    QLineEdit* userField() const { return user; }
    QLineEdit* passwordField() const { return password; }
    QPushButton* signInButton() const { return signInAction; }
    QPushButton* signOutButton() const { return signOutAction; }
    // Who the computer is signed in as, or how signing in or out went.
    QLabel* accountNoteLabel() const { return accountNote; }
    // "Sync is off: …"; hidden while sync may run.
    QLabel* offStatusLabel() const { return offStatus; }
    QLabel* syncStatusLabel() const { return syncStatus; }

    // The keyring the device token is kept in; without one, signing in is not offered. The account
    // must outlive the section, or be unset first.
    void setAccount(SyncAccount* account);
    void reload();
    // The size of the synced history, as in "12.3 MB" (decimal units).
    void showSyncedBytes(qint64 bytes);
    // How sync goes while it runs ("Can’t reach your sync server", "Last synced 12:03"); empty
    // hides the line.
    void setSyncStatus(const QString& text);

    // Asks whether to trust a certificate the system does not, showing its fingerprint; tests
    // answer in its place.
    std::function<bool(const QString& fingerprint)> confirmCertificate;

private:
    void syncToggled(bool enabled);
    void serverEdited();
    void showServerState();
    void showAccountState();
    void signIn(const QByteArray& trusted = {});
    void signOut();
    void setBusy(bool busy, const QString& note);

    QCheckBox* toggle = nullptr;
    QLabel* storage = nullptr;
    QLineEdit* server = nullptr;
    QLabel* serverProblem = nullptr;
    QLineEdit* user = nullptr;
    QLineEdit* password = nullptr;
    QPushButton* signInAction = nullptr;
    QPushButton* signOutAction = nullptr;
    QLabel* accountNote = nullptr;
    QLabel* offStatus = nullptr;
    QLabel* syncStatus = nullptr;
    SyncAccount* account = nullptr;
    // A sign-in or sign-out is under way.
    bool busy = false;
};

} // namespace snipjar
