#pragma once

#include "app/settings/SettingsSection.h"

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace snipjar {

class SyncAccount;

// "Sync": whether the history is kept in step through the user's sync server, the server (a
// libpq connection URI under "syncServer") and its password (in the keyring), why sync is off
// when it is, how it goes while it runs, and how much of the history is synced. The switch is
// announced as syncEnabledChanged, a new server or password as syncAccountChanged; the shell
// starts, stops or restarts syncing.
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
    QLineEdit* passwordField() const { return password; }
    // Whether the keyring holds the password, or why it is not used.
    QLabel* passwordNoteLabel() const { return passwordNote; }
    // "Sync is off: …"; hidden while sync may run.
    QLabel* offStatusLabel() const { return offStatus; }
    QLabel* syncStatusLabel() const { return syncStatus; }

    // The keyring the password is kept in; without one the password cannot be set here. The
    // account must outlive the section, or be unset first.
    void setAccount(SyncAccount* account);
    void reload();
    // The size of the synced history, as in "12.3 MB" (decimal units).
    void showSyncedBytes(qint64 bytes);
    // How sync goes while it runs ("Can’t reach your sync server", "Last synced 12:03"); empty
    // hides the line.
    void setSyncStatus(const QString& text);

private:
    void syncToggled(bool enabled);
    void serverEdited();
    void passwordEdited();
    void passwordTyped(const QString& text);
    void showServerState();
    // Asks the keyring whether it holds the password of the server in the field.
    void lookUpPassword();
    void showPasswordStored(bool stored);

    QCheckBox* toggle = nullptr;
    QLabel* storage = nullptr;
    QLineEdit* server = nullptr;
    QLabel* serverProblem = nullptr;
    QLineEdit* password = nullptr;
    QLabel* passwordNote = nullptr;
    QLabel* offStatus = nullptr;
    QLabel* syncStatus = nullptr;
    SyncAccount* account = nullptr;
    // The field shows a stand-in for the stored password, untouched since.
    bool showsStoredPassword = false;
    // The keyring holds a password for the server in the field.
    bool passwordStored = false;
    // Answers about another server than the one in the field now are dropped.
    quint64 lookups = 0;
};

} // namespace snipjar
