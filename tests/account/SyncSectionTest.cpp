#include "app/settings/SyncSection.h"
#include "AccountTestSupport.h"
#include "ClipStoreTestSupport.h"
#include "PostgresCluster.h"
#include "ServiceServer.h"
#include "TlsFront.h"
#include "app/settings/SettingsEvents.h"
#include "app/settings/SettingsWindow.h"
#include "platform/UserSettings.h"
#include "platform/account/SyncAccount.h"
#include "sync/session/ServiceSession.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>

namespace snipjar::test {
namespace {

const QString alice = QStringLiteral("https://sync.example.org");

// The sync section of a real settings window, over a real store and settings file, counting the
// announcements the shell would act on.
class SyncSectionTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        auto& events = SettingsEvents::instance();
        QObject::connect(&events, &SettingsEvents::syncAccountChanged, &listener,
                         [this] { ++accountChanges; });
        QObject::connect(&events, &SettingsEvents::syncEnabledChanged, &listener,
                         [this] { ++enabledChanges; });
    }

    void openWindow(SyncAccount* account = nullptr) {
        window = std::make_unique<SettingsWindow>(*store, [](const HotKeyCombo&) { return true; });
        window->setSyncAccount(account);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    SyncSection& section() { return *window->syncSection(); }

    // Types into a field as a person would and ends with Return.
    static void typeInto(QLineEdit& field, const QString& text) {
        field.setFocus();
        field.selectAll();
        if (text.isEmpty()) {
            QTest::keyClick(&field, Qt::Key_Backspace);
        } else {
            QTest::keyClicks(&field, text);
        }
        QTest::keyClick(&field, Qt::Key_Return);
    }

    static QVariant storedServer() {
        return QSettings(UserSettings::filePath(), QSettings::IniFormat)
            .value(QString::fromLatin1(UserSettings::syncServerKey));
    }

    bool noteSays(const QString& text) {
        return waitUntil([&] { return section().accountNoteLabel()->text().startsWith(text); },
                         std::chrono::seconds(30));
    }

    void snapshot(const char* name) {
        const QByteArray folder = qgetenv("SNIPJAR_SETTINGS_SNAPSHOT_DIR");
        if (!folder.isEmpty()) {
            window->grab().save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + QLatin1String(name));
        }
    }

    QObject listener;
    std::unique_ptr<SettingsWindow> window;
    int accountChanges = 0;
    int enabledChanges = 0;
};

// The server is saved when editing ends, checked with the reason under the field, and
// announced once per real change; the status line says why sync is off, and the running status
// shows only while it may run.
TEST_F(SyncSectionTest, ServerIsSavedCheckedAndAnnounced) {
    openWindow();
    QLineEdit& server = *section().serverField();
    QLabel& problem = *section().serverProblemLabel();
    QLabel& off = *section().offStatusLabel();
    EXPECT_TRUE(server.text().isEmpty());
    EXPECT_FALSE(problem.isVisible());
    EXPECT_TRUE(off.isVisible());
    EXPECT_EQ(off.text(), QStringLiteral("Sync is off: no server is set."));
    // No account given: signing in is not offered.
    EXPECT_FALSE(section().signInButton()->isEnabled());

    typeInto(server, QStringLiteral("http://sync.example.org"));
    EXPECT_EQ(storedServer().toString(), QStringLiteral("http://sync.example.org"));
    EXPECT_TRUE(problem.isVisible());
    EXPECT_TRUE(problem.text().contains(QStringLiteral("https://"))) << problem.text().toStdString();
    EXPECT_EQ(off.text(), QStringLiteral("Sync is off: the server address is not valid."));
    EXPECT_EQ(accountChanges, 1);
    snapshot("sync-invalid-server.png");

    // Ending the editing again without a change announces nothing.
    QTest::keyClick(&server, Qt::Key_Return);
    EXPECT_EQ(accountChanges, 1);

    typeInto(server, QStringLiteral("  ") + alice + QStringLiteral("  "));
    EXPECT_EQ(server.text(), alice);
    EXPECT_EQ(storedServer().toString(), alice);
    EXPECT_FALSE(problem.isVisible());
    EXPECT_EQ(off.text(), QStringLiteral("Sync is off: this computer is not signed in to the server."));
    EXPECT_EQ(accountChanges, 2);
    SyncAccount::recordSignIn({alice, QStringLiteral("alice"), QStringLiteral("7"), QStringLiteral("e"), {}});
    section().reload();
    EXPECT_FALSE(off.isVisible());

    section().setSyncStatus(QStringLiteral("Last synced 12:03"));
    EXPECT_TRUE(section().syncStatusLabel()->isVisible());
    section().syncToggle()->click();
    EXPECT_EQ(enabledChanges, 1);
    EXPECT_EQ(off.text(), QStringLiteral("Sync is off: it is switched off."));
    EXPECT_FALSE(section().syncStatusLabel()->isVisible());
    section().syncToggle()->click();
    EXPECT_TRUE(section().syncStatusLabel()->isVisible());
    section().setSyncStatus(QString());
    EXPECT_FALSE(section().syncStatusLabel()->isVisible());

    // Emptying the field removes the key: no server again.
    typeInto(server, QString());
    EXPECT_FALSE(storedServer().isValid());
    EXPECT_EQ(off.text(), QStringLiteral("Sync is off: no server is set."));
    EXPECT_EQ(accountChanges, 3);

    // The whole form still fits the window.
    EXPECT_LE(window->sizeHint().height(), window->height());
    EXPECT_LE(window->minimumSizeHint().height(), window->height());
}

// Signing in against a real snipjar-server: a wrong password is refused and keeps nothing; the
// right one keeps the device token (the keyring, or the private file without one) and the sign-in,
// never the password. Signing out revokes the token on the server; a server that cannot be reached
// is said so, and the computer forgets its sign-in all the same.
TEST_F(SyncSectionTest, SignInKeepsTheTokenNeverThePasswordAndSignOutRevokesIt) {
    PostgresCluster cluster;
    ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
    ServiceServer server(cluster);
    ASSERT_TRUE(server.start());
    const cloud::ServiceAccount other = server.newAccount(QStringLiteral("settings"));
    const auto devices = [&] {
        return cluster.adminSQL(QStringLiteral("SELECT count(*) FROM snipjar_service.devices"))
            .value_or("-1")
            .toInt();
    };
    UserSettings::setValue(QString::fromLatin1(UserSettings::syncServerKey), other.server.toString());
    std::unique_ptr<SyncAccount> account = haveTestKeyring()
                                               ? std::make_unique<SyncAccount>()
                                               : std::make_unique<SyncAccount>(std::make_unique<NoKeyring>());
    openWindow(account.get());
    EXPECT_EQ(section().passwordField()->echoMode(), QLineEdit::Password);
    const auto signIn = [&](const QString& password) {
        section().userField()->setText(server.userOf(other));
        typeInto(*section().passwordField(), password);
    };
    signIn(QStringLiteral("wrong"));
    ASSERT_TRUE(noteSays(QStringLiteral("The server did not accept")));
    EXPECT_EQ(accountChanges, 0);
    EXPECT_EQ(devices(), 1);

    signIn(QStringLiteral("password-1"));
    ASSERT_TRUE(noteSays(QStringLiteral("Signed in as ") + server.userOf(other)));
    EXPECT_EQ(accountChanges, 1);
    EXPECT_TRUE(section().passwordField()->text().isEmpty());
    EXPECT_EQ(SyncAccount::signedIn().value_or(SyncSignInRecord{}).accountId, other.accountId);
    EXPECT_FALSE(section().offStatusLabel()->isVisible());
    EXPECT_EQ(devices(), 2);
    QFile settings(UserSettings::filePath());
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_FALSE(settings.readAll().contains("password-1"));
    section().setSyncStatus(QStringLiteral("Your sync server refused: quota exceeded"));
    snapshot("sync-signed-in.png");

    section().signOutButton()->click();
    ASSERT_TRUE(noteSays(QStringLiteral("Signed out.")));
    EXPECT_EQ(accountChanges, 2);
    EXPECT_EQ(devices(), 1);
    EXPECT_EQ(SyncAccount::signedIn(), std::nullopt);

    signIn(QStringLiteral("password-1"));
    ASSERT_TRUE(noteSays(QStringLiteral("Signed in as ")));
    server.stop();
    section().signOutButton()->click();
    ASSERT_TRUE(noteSays(QStringLiteral("Signed out on this computer only: The server cannot be reached.")));
    EXPECT_EQ(SyncAccount::signedIn(), std::nullopt);
    Answer<PasswordVault::Lookup> token;
    account->readToken(other.server.toString(), &listener, token.callback());
    ASSERT_TRUE(token.wait());
    EXPECT_EQ(token.answer->outcome, PasswordVault::Lookup::Outcome::absent);
}

// A server whose certificate no authority here signed: signing in shows its fingerprint to
// compare; refused, nothing is kept; accepted, the certificate is pinned with the sign-in.
TEST_F(SyncSectionTest, ASelfSignedCertificateIsShownByItsFingerprintAndPinnedOnlyWhenAccepted) {
    PostgresCluster cluster;
    ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
    ServiceServer server(cluster);
    ASSERT_TRUE(server.start());
    const cloud::ServiceAccount other = server.newAccount(QStringLiteral("tls"));
    TlsFront front(other.server);
    ASSERT_TRUE(front.isListening());
    UserSettings::setValue(QString::fromLatin1(UserSettings::syncServerKey), front.url().toString());
    SyncAccount account(std::make_unique<NoKeyring>());
    openWindow(&account);
    QStringList shown;
    bool accept = false;
    section().confirmCertificate = [&](const QString& fingerprint) {
        shown << fingerprint;
        return accept;
    };
    section().userField()->setText(server.userOf(other));
    typeInto(*section().passwordField(), QStringLiteral("password-1"));
    ASSERT_TRUE(waitUntil([&] { return !shown.isEmpty(); }));
    EXPECT_EQ(shown, QStringList{sync::ServiceSession::fingerprintText(front.fingerprint())});
    ASSERT_TRUE(noteSays(QStringLiteral("The server's certificate is not signed")));
    EXPECT_EQ(SyncAccount::signedIn(), std::nullopt);

    accept = true;
    typeInto(*section().passwordField(), QStringLiteral("password-1"));
    ASSERT_TRUE(noteSays(QStringLiteral("Signed in as ")));
    EXPECT_EQ(shown.size(), 2);
    EXPECT_EQ(SyncAccount::signedIn().value_or(SyncSignInRecord{}).fingerprint, front.fingerprint());
}

} // namespace
} // namespace snipjar::test
