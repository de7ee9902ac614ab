#include "app/settings/SyncSection.h"

#include "app/settings/SettingsEvents.h"
#include "platform/UserSettings.h"
#include "platform/account/SyncAccount.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace snipjar {

namespace {

// What the password field holds while the keyring has the password: as many dots, never the
// password itself.
const QString storedStandIn(8, QLatin1Char('*'));

// A field with a line of secondary text under it, as one control of a row.
QWidget* withNote(QWidget* parent, QLineEdit* field, QLabel* note) {
    auto* control = new QWidget(parent);
    control->setFixedWidth(SyncSection::fieldWidth);
    auto* layout = new QVBoxLayout(control);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    field->setParent(control);
    layout->addWidget(field);
    note->setParent(control);
    note->setWordWrap(true);
    SettingsSection::makeSecondary(*note, true);
    layout->addWidget(note);
    return control;
}

QString storedServer() {
    return UserSettings::syncServer().value_or(QString());
}

} // namespace

SyncSection::SyncSection(QWidget* parent)
    : SettingsSection(QStringLiteral("Sync"), parent) {
    toggle = new QCheckBox(QStringLiteral("Sync across your computers"), this);
    toggle->setObjectName(QStringLiteral("syncEnabled"));
    addRow(toggle);

    server = new QLineEdit(this);
    server->setObjectName(QStringLiteral("syncServer"));
    server->setPlaceholderText(QStringLiteral("postgresql://you@host/snipjar"));
    server->setClearButtonEnabled(true);
    serverProblem = new QLabel(this);
    serverProblem->setObjectName(QStringLiteral("syncServerProblem"));
    QLabel* serverLabel =
        addRow(QStringLiteral("Server"), withNote(this, server, serverProblem), Qt::AlignTop);
    serverLabel->setMinimumHeight(server->sizeHint().height());

    password = new QLineEdit(this);
    password->setObjectName(QStringLiteral("syncPassword"));
    password->setEchoMode(QLineEdit::Password);
    passwordNote = new QLabel(this);
    passwordNote->setObjectName(QStringLiteral("syncPasswordNote"));
    QLabel* passwordLabel =
        addRow(QStringLiteral("Password"), withNote(this, password, passwordNote), Qt::AlignTop);
    passwordLabel->setMinimumHeight(password->sizeHint().height());

    storage = new QLabel(this);
    storage->setObjectName(QStringLiteral("syncedBytes"));
    makeSecondary(*storage, false);
    storage->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The figure is replaced as the window is shown; room for the usual sizes keeps the row from
    // being laid out again, and the text from being cut, at that moment.
    storage->setMinimumWidth(storage->fontMetrics().horizontalAdvance(QStringLiteral("888.8 MB ")));
    addRow(QStringLiteral("Storage used"), storage);

    auto* status = new QWidget(this);
    auto* statusLines = new QVBoxLayout(status);
    statusLines->setContentsMargins(0, 0, 0, 0);
    statusLines->setSpacing(2);
    offStatus = new QLabel(status);
    offStatus->setObjectName(QStringLiteral("syncOffStatus"));
    offStatus->setWordWrap(true);
    statusLines->addWidget(offStatus);
    syncStatus = new QLabel(status);
    syncStatus->setObjectName(QStringLiteral("syncStatus"));
    syncStatus->setWordWrap(true);
    makeSecondary(*syncStatus, false);
    statusLines->addWidget(syncStatus);
    addRow(status);

    setFootnote(QStringLiteral("Clipboard history syncs privately through your own sync server. Files and "
                               "secure items stay on this computer and don’t count. Without a password "
                               "here, libpq’s password file (~/.pgpass) or service file is used."));

    showSyncedBytes(0);
    reload();
    connect(toggle, &QCheckBox::toggled, this, &SyncSection::syncToggled);
    connect(server, &QLineEdit::editingFinished, this, &SyncSection::serverEdited);
    connect(password, &QLineEdit::textEdited, this, &SyncSection::passwordTyped);
    connect(password, &QLineEdit::editingFinished, this, &SyncSection::passwordEdited);
}

void SyncSection::setAccount(SyncAccount* newAccount) {
    account = newAccount;
    lookUpPassword();
}

void SyncSection::reload() {
    {
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(UserSettings::syncEnabled());
    }
    server->setText(storedServer());
    // A long address shows its start: the scheme, user and host.
    server->setCursorPosition(0);
    showServerState();
    lookUpPassword();
}

void SyncSection::showSyncedBytes(qint64 bytes) {
    storage->setText(QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat));
}

void SyncSection::setSyncStatus(const QString& text) {
    syncStatus->setText(text);
    showServerState();
}

void SyncSection::syncToggled(bool enabled) {
    UserSettings::setValue(QString::fromLatin1(UserSettings::syncEnabledKey), enabled);
    showServerState();
    emit SettingsEvents::instance().syncEnabledChanged();
}

void SyncSection::serverEdited() {
    const QString entered = server->text().trimmed();
    if (entered != server->text()) {
        server->setText(entered);
    }
    server->setCursorPosition(0);
    if (entered == storedServer()) {
        return;
    }
    const QString key = QString::fromLatin1(UserSettings::syncServerKey);
    if (entered.isEmpty()) {
        UserSettings::remove(key);
    } else {
        UserSettings::setValue(key, entered);
    }
    showServerState();
    lookUpPassword();
    emit SettingsEvents::instance().syncAccountChanged();
}

void SyncSection::showServerState() {
    const QString entered = server->text().trimmed();
    const std::optional<QString> problem =
        entered.isEmpty() ? std::nullopt : SyncAccount::serverProblem(entered);
    serverProblem->setText(problem.value_or(QString()));
    serverProblem->setVisible(problem.has_value());

    const std::optional<SyncOffReason> reason = SyncAccount::offReason();
    offStatus->setText(reason ? SyncAccount::offReasonText(*reason) : QString());
    offStatus->setVisible(reason.has_value());
    // What a running sync last said means nothing while it is off.
    syncStatus->setVisible(!reason && !syncStatus->text().isEmpty());
}

void SyncSection::lookUpPassword() {
    const quint64 lookup = ++lookups;
    showsStoredPassword = false;
    passwordStored = false;
    password->clear();
    const std::optional<QString> uri = SyncAccount::configuredServer();
    if (!account || !uri) {
        password->setEnabled(false);
        passwordNote->setText(account ? QStringLiteral("Set a server first.")
                                      : QStringLiteral("The keyring is not available."));
        return;
    }
    password->setEnabled(false);
    passwordNote->setText(QStringLiteral("Looking in your keyring\u2026"));
    account->readPassword(*uri, this, [this, lookup](const PasswordVault::Lookup& found) {
        if (lookup != lookups) {
            return;
        }
        switch (found.outcome) {
        case PasswordVault::Lookup::Outcome::found:
            showPasswordStored(true);
            break;
        case PasswordVault::Lookup::Outcome::absent:
            showPasswordStored(false);
            break;
        case PasswordVault::Lookup::Outcome::unavailable:
            password->setEnabled(false);
            passwordNote->setText(QStringLiteral("The keyring is not available; ~/.pgpass is used."));
            break;
        }
    });
}

void SyncSection::showPasswordStored(bool stored) {
    passwordStored = stored;
    showsStoredPassword = stored;
    password->setEnabled(true);
    password->setText(stored ? storedStandIn : QString());
    passwordNote->setText(stored ? QStringLiteral("Stored in your keyring.")
                                 : QStringLiteral("Not stored; ~/.pgpass is used."));
}

void SyncSection::passwordTyped(const QString& text) {
    if (!showsStoredPassword) {
        return;
    }
    // The first keystroke on the stand-in replaces it, or clears it when it takes a character away.
    showsStoredPassword = false;
    const QSignalBlocker blocker(password);
    if (text.startsWith(storedStandIn)) {
        password->setText(text.mid(storedStandIn.size()));
    } else if (storedStandIn.startsWith(text)) {
        password->clear();
    }
}

void SyncSection::passwordEdited() {
    const std::optional<QString> uri = SyncAccount::configuredServer();
    if (showsStoredPassword || !account || !uri) {
        return;
    }
    const QString entered = password->text();
    if (entered.isEmpty() && !passwordStored) {
        return;
    }
    const quint64 lookup = ++lookups;
    // Taking the focus away below ends the editing once more; that must not ask again.
    passwordStored = false;
    // Until the keyring answers, the field neither shows the password nor takes it again.
    password->setEnabled(false);
    password->setText(entered.isEmpty() ? QString() : storedStandIn);
    showsStoredPassword = !entered.isEmpty();
    passwordNote->setText(QStringLiteral("Saving to your keyring\u2026"));
    auto finished = [this, lookup, removing = entered.isEmpty()](bool done) {
        if (lookup != lookups) {
            return;
        }
        showPasswordStored(removing ? !done : done);
        if (!done) {
            passwordNote->setText(removing
                                      ? QStringLiteral("The password could not be removed from your keyring.")
                                      : QStringLiteral("The password could not be stored in your keyring."));
            return;
        }
        emit SettingsEvents::instance().syncAccountChanged();
    };
    if (entered.isEmpty()) {
        account->deletePassword(*uri, this, finished);
    } else {
        account->storePassword(*uri, entered, this, finished);
    }
}

} // namespace snipjar
