#include "app/settings/SyncSection.h"

#include "app/settings/BackgroundCall.h"
#include "app/settings/SettingsEvents.h"
#include "platform/UserSettings.h"
#include "platform/account/SyncAccount.h"
#include "sync/session/ServiceSession.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <variant>

namespace snipjar {

namespace {

using SignInAnswer = std::variant<sync::ServiceSession::SignedIn, sync::ServiceSession::Refusal>;

// A field with a line of secondary text under it, as one control of a row.
QWidget* withNote(QWidget* parent, QWidget* field, QLabel* note) {
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

QLineEdit* field(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setFixedWidth(SyncSection::fieldWidth);
    return edit;
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
    server->setPlaceholderText(QStringLiteral("https://sync.example.org"));
    server->setClearButtonEnabled(true);
    serverProblem = new QLabel(this);
    serverProblem->setObjectName(QStringLiteral("syncServerProblem"));
    QLabel* serverLabel =
        addRow(QStringLiteral("Server"), withNote(this, server, serverProblem), Qt::AlignTop);
    serverLabel->setMinimumHeight(server->sizeHint().height());

    user = field(this, "syncUser");
    addRow(QStringLiteral("User name"), user);
    password = field(this, "syncPassword");
    password->setEchoMode(QLineEdit::Password);
    password->setPlaceholderText(QStringLiteral("Only to sign in; never kept"));
    addRow(QStringLiteral("Password"), password);

    auto* buttons = new QWidget(this);
    auto* buttonRow = new QHBoxLayout(buttons);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    signInAction = new QPushButton(QStringLiteral("Sign in"), buttons);
    signInAction->setObjectName(QStringLiteral("syncSignIn"));
    signOutAction = new QPushButton(QStringLiteral("Sign out this computer"), buttons);
    signOutAction->setObjectName(QStringLiteral("syncSignOut"));
    buttonRow->addWidget(signInAction);
    buttonRow->addWidget(signOutAction);
    buttonRow->addStretch();
    accountNote = new QLabel(this);
    accountNote->setObjectName(QStringLiteral("syncAccountNote"));
    QLabel* accountLabel =
        addRow(QStringLiteral("Account"), withNote(this, buttons, accountNote), Qt::AlignTop);
    accountLabel->setMinimumHeight(signInAction->sizeHint().height());

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

    setFootnote(QStringLiteral("Clipboard history syncs through your own sync server (snipjar-server), "
                               "which can read what it stores. Files and secure items stay on this "
                               "computer and don’t count."));

    confirmCertificate = [this](const QString& fingerprint) {
        return QMessageBox::question(
                   this, QStringLiteral("Trust this server?"),
                   QStringLiteral("The server’s certificate is not signed by an authority this computer "
                                  "trusts. Trust it only if its SHA-256 fingerprint is the one "
                                  "snipjar-server printed:\n\n%1")
                       .arg(fingerprint),
                   QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    };

    showSyncedBytes(0);
    reload();
    connect(toggle, &QCheckBox::toggled, this, &SyncSection::syncToggled);
    connect(server, &QLineEdit::editingFinished, this, &SyncSection::serverEdited);
    connect(signInAction, &QPushButton::clicked, this, [this] { signIn(); });
    connect(password, &QLineEdit::returnPressed, this, [this] { signIn(); });
    connect(signOutAction, &QPushButton::clicked, this, &SyncSection::signOut);
}

void SyncSection::setAccount(SyncAccount* newAccount) {
    account = newAccount;
    showAccountState();
}

void SyncSection::reload() {
    {
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(UserSettings::syncEnabled());
    }
    server->setText(storedServer());
    // A long address shows its start: the scheme and host.
    server->setCursorPosition(0);
    showServerState();
    showAccountState();
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
    showAccountState();
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

void SyncSection::showAccountState() {
    if (busy) {
        return;
    }
    const std::optional<SyncSignInRecord> signedIn = SyncAccount::signedIn();
    const bool serverUsable = SyncAccount::configuredServer().has_value();
    if (signedIn && user->text().isEmpty()) {
        user->setText(signedIn->user);
    }
    user->setEnabled(account != nullptr);
    password->setEnabled(account != nullptr);
    signInAction->setEnabled(account != nullptr && serverUsable);
    signOutAction->setEnabled(account != nullptr && signedIn.has_value());
    if (!account) {
        accountNote->setText(QStringLiteral("The keyring is not available."));
    } else if (signedIn) {
        accountNote->setText(QStringLiteral("Signed in as %1.").arg(signedIn->user));
    } else {
        accountNote->setText(serverUsable ? QStringLiteral("Not signed in.")
                                          : QStringLiteral("Set a server first."));
    }
}

void SyncSection::setBusy(bool nowBusy, const QString& note) {
    busy = nowBusy;
    for (QWidget* control :
         std::initializer_list<QWidget*>{server, user, password, signInAction, signOutAction}) {
        control->setEnabled(!busy);
    }
    if (!busy) {
        showAccountState();
    }
    if (!note.isEmpty()) {
        accountNote->setText(note);
    }
}

void SyncSection::signIn(const QByteArray& trusted) {
    const std::optional<QString> address = SyncAccount::configuredServer();
    if (busy || !account || !address) {
        return;
    }
    const QString name = user->text().trimmed();
    const QString secret = password->text();
    if (name.isEmpty() || secret.isEmpty()) {
        accountNote->setText(QStringLiteral("Enter your user name and password."));
        return;
    }
    setBusy(true, QStringLiteral("Signing in\u2026"));
    runInBackground<SignInAnswer>(
        this,
        [address = *address, name, secret, trusted] {
            return sync::ServiceSession::signIn(address, name, secret, trusted);
        },
        [this](SignInAnswer answer) {
            if (const auto* refusal = std::get_if<sync::ServiceSession::Refusal>(&answer)) {
                setBusy(false, refusal->message);
                if (!refusal->untrustedFingerprint.isEmpty() && confirmCertificate &&
                    confirmCertificate(
                        sync::ServiceSession::fingerprintText(refusal->untrustedFingerprint))) {
                    signIn(refusal->untrustedFingerprint);
                }
                return;
            }
            const auto signedIn = std::get<sync::ServiceSession::SignedIn>(std::move(answer));
            account->storeToken(
                signedIn.record.server, signedIn.token, this, [this, record = signedIn.record](bool stored) {
                    if (!stored) {
                        setBusy(false, QStringLiteral("The sign-in could not be kept in your keyring."));
                        return;
                    }
                    password->clear();
                    SyncAccount::recordSignIn(record);
                    setBusy(false, {});
                    showServerState();
                    emit SettingsEvents::instance().syncAccountChanged();
                });
        });
}

void SyncSection::signOut() {
    if (busy || !account || !SyncAccount::signedIn()) {
        return;
    }
    setBusy(true, QStringLiteral("Signing out\u2026"));
    account->readCredentials(this, [this](std::optional<SyncCredentials> credentials) {
        if (!credentials) {
            setBusy(false, {});
            return;
        }
        runInBackground<std::optional<QString>>(
            this, [credentials = *credentials] { return sync::ServiceSession::signOut(credentials); },
            [this, server = credentials->signIn.server](std::optional<QString> problem) {
                // The computer forgets its sign-in whatever the server said; a token the server could
                // not revoke is listed there until it is removed (snipjar-server or another computer).
                account->deleteToken(server, this, [this, problem](bool) {
                    SyncAccount::forgetSignIn();
                    setBusy(false, problem ? QStringLiteral("Signed out on this computer only: %1 The "
                                                            "server still lists it.")
                                                 .arg(*problem)
                                           : QStringLiteral("Signed out."));
                    showServerState();
                    emit SettingsEvents::instance().syncAccountChanged();
                });
            });
    });
}

} // namespace snipjar
