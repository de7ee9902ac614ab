#include "app/settings/SyncSection.h"
#include "AccountTestSupport.h"
#include "ClipStoreTestSupport.h"
#include "PostgresCluster.h"
#include "ServiceServer.h"
#include "app/settings/EncryptionFlow.h"
#include "app/settings/EncryptionSection.h"
#include "app/settings/SettingsEvents.h"
#include "app/settings/SettingsWindow.h"
#include "platform/UserSettings.h"
#include "platform/account/SyncAccount.h"
#include "sync/crypto/RecoveryPhrase.h"
#include "sync/crypto/WordList.h"
#include "sync/session/ServiceSession.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace snipjar::test {
namespace {

const QString alice = QStringLiteral("https://sync.example.org");

using crypto::HistoryKey;
using Step = EncryptionActions::PairingStep;

// Encryption actions that note each call and keep its callback for the test to answer when it
// chooses, as the network would.
class FakeEncryption final : public EncryptionActions {
public:
    State state() const override { return current; }
    void setEnabled(bool enabled, Done then) override { held(enabled ? "on" : "off", then); }
    void revealKey(const QString& password, Done then) override { held("reveal " + password, then); }
    void changeKey(Done then) override { held("change", then); }
    void useKey(const HistoryKey& key, Done then) override { held("use " + key.id(), then); }
    void usePassphrase(const QString& passphrase, Done then) override {
        held("passphrase " + passphrase, then);
    }
    void offerKey(Progress steps) override { held("offer", {}, steps); }
    void requestKey(const QString& code, Progress steps) override { held("request " + code, {}, steps); }
    void confirmPairing(bool same) override { calls << (same ? "confirm" : "reject"); }
    void cancelPairing() override { calls << "cancel"; }

    void set(State state) {
        current = state;
        emit stateChanged();
    }
    void answer(bool ok, std::optional<HistoryKey> key = {}, const QString& message = {}) {
        ASSERT_TRUE(done);
        std::exchange(done, {})({ok, message, std::move(key)});
    }
    void held(const QString& call, Done then, Progress steps = {}) {
        calls << call;
        done = then ? then : done;
        progress = steps ? steps : progress;
    }

    State current;
    QStringList calls;
    Done done;
    Progress progress;
};

// The sync section of a real settings window, over a real store and settings file, counting the
// announcements the shell would act on.
class SyncSectionTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        QObject::connect(&SettingsEvents::instance(), &SettingsEvents::syncAccountChanged, &listener,
                         [this] { ++accountChanges; });
    }

    void openWindow(SyncAccount* account = nullptr) {
        window = std::make_unique<SettingsWindow>(*store, [](const HotKeyCombo&) { return true; });
        window->setSyncAccount(account);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    SyncSection& section() { return *window->syncSection(); }
    EncryptionSection& encryption() { return *window->encryptionSection(); }
    EncryptionFlow& flow() { return *encryption().flow(); }
    // Opens the window over the fake encryption actions, in the given state.
    void openEncryption(EncryptionActions::State state) {
        openWindow();
        fake.set(state);
        window->setEncryptionActions(&fake);
    }
    // The calls the fake received since the last look.
    QStringList calls() { return std::exchange(fake.calls, {}); }

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

    QObject listener;
    FakeEncryption fake;
    std::unique_ptr<SettingsWindow> window;
    int accountChanges = 0;
};

// The server is saved when editing ends, checked with the reason under the field, and
// announced once per real change; the status line says why sync is off, and the running status
// shows only while it may run.
TEST_F(SyncSectionTest, ServerIsSavedCheckedAndAnnounced) {
    openWindow();
    QLineEdit& server = *section().serverField();
    QLabel& problem = *section().serverProblemLabel();
    QLabel& off = *section().offStatusLabel();
    EXPECT_FALSE(problem.isVisible());
    EXPECT_TRUE(off.isVisible());
    EXPECT_EQ(off.text(), "Sync is off: no server is set.");
    // No account given: signing in is not offered.
    EXPECT_FALSE(section().signInButton()->isEnabled());

    typeInto(server, "http://sync.example.org");
    EXPECT_EQ(storedServer().toString(), "http://sync.example.org");
    EXPECT_TRUE(problem.isVisible());
    EXPECT_TRUE(problem.text().contains("https://")) << problem.text().toStdString();
    EXPECT_EQ(off.text(), "Sync is off: the server address is not valid.");
    EXPECT_EQ(accountChanges, 1);

    // Ending the editing again without a change announces nothing.
    QTest::keyClick(&server, Qt::Key_Return);
    EXPECT_EQ(accountChanges, 1);

    typeInto(server, "  " + alice + "  ");
    EXPECT_EQ(server.text(), alice);
    EXPECT_EQ(storedServer().toString(), alice);
    EXPECT_FALSE(problem.isVisible());
    EXPECT_EQ(off.text(), "Sync is off: this computer is not signed in to the server.");
    EXPECT_EQ(accountChanges, 2);
    SyncAccount::recordSignIn({alice, "alice", "7", "e", {}});
    section().reload();

    section().setSyncStatus("Last synced 12:03");
    EXPECT_TRUE(section().syncStatusLabel()->isVisible());
    section().syncToggle()->click();
    EXPECT_EQ(off.text(), "Sync is off: it is switched off.");
    EXPECT_FALSE(section().syncStatusLabel()->isVisible());
    section().syncToggle()->click();
    EXPECT_TRUE(section().syncStatusLabel()->isVisible());
    section().setSyncStatus(QString());
    EXPECT_FALSE(section().syncStatusLabel()->isVisible());

    // Emptying the field removes the key: no server again.
    typeInto(server, QString());
    EXPECT_FALSE(storedServer().isValid());
    EXPECT_EQ(off.text(), "Sync is off: no server is set.");
    EXPECT_EQ(accountChanges, 3);
}

// Signing in against a real snipjar-server: a wrong password is refused and keeps nothing; the
// right one keeps the device token (the keyring, or the private file without one) and the sign-in,
// never the password. Over TLS with a certificate no authority here signed, signing in shows its
// fingerprint to compare; refused, nothing is kept; accepted, the certificate is pinned with the
// sign-in. A server that cannot be reached at sign-out is said so, and the computer forgets its
// sign-in all the same. (SyncEndToEnd shows the server revoking the token of a computer signing out.)
TEST_F(SyncSectionTest, SignInKeepsTheTokenNeverThePasswordAndPinsASelfSignedCertificateOnlyWhenAccepted) {
    PostgresCluster cluster;
    ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
    ServiceServer server(cluster);
    ASSERT_TRUE(server.start());
    const cloud::ServiceAccount other = server.newAccount("settings");
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
    signIn("wrong");
    ASSERT_TRUE(noteSays("The server did not accept"));
    EXPECT_EQ(accountChanges, 0);

    signIn("password-1");
    ASSERT_TRUE(noteSays("Signed in as " + server.userOf(other)));
    EXPECT_EQ(accountChanges, 1);
    EXPECT_TRUE(section().passwordField()->text().isEmpty());
    EXPECT_EQ(SyncAccount::signedIn().value_or(SyncSignInRecord{}).accountId, other.accountId);
    EXPECT_FALSE(section().offStatusLabel()->isVisible());
    QFile settings(UserSettings::filePath());
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_FALSE(settings.readAll().contains("password-1"));

    section().signOutButton()->click();
    ASSERT_TRUE(noteSays("Signed out."));
    EXPECT_EQ(accountChanges, 2);
    EXPECT_EQ(SyncAccount::signedIn(), std::nullopt);

    // The same server over TLS, with the self-signed certificate snipjar-server makes.
    QTemporaryDir folder;
    const auto init = server.admin({"init", "--self-signed", folder.path()});
    ASSERT_TRUE(init.has_value());
    const QByteArray fingerprint = QByteArray::fromHex(
        init->section("fingerprint (SHA-256) ", 1).section('\n', 0, 0).remove(':').toLatin1());
    QProcess tls;
    tls.start(SNIPJAR_SERVER_BINARY,
              {"--database", server.databaseURI(), "serve", "--listen", "127.0.0.1:0", "--certificate",
               folder.filePath("server.crt"), "--key", folder.filePath("server.key")});
    ASSERT_TRUE(tls.waitForReadyRead(10000));
    const QString listening = QString::fromUtf8(tls.readLine()).trimmed();
    ASSERT_TRUE(listening.startsWith("listening on ")) << listening.toStdString();
    const QString address = "https://" + listening.mid(13);
    typeInto(*section().serverField(), address);
    QStringList shown;
    bool accept = false;
    section().confirmCertificate = [&](const QString& offered) {
        shown << offered;
        return accept;
    };
    signIn("password-1");
    ASSERT_TRUE(waitUntil([&] { return !shown.isEmpty(); }));
    EXPECT_EQ(shown, QStringList{sync::ServiceSession::fingerprintText(fingerprint)});
    ASSERT_TRUE(noteSays("The server's certificate is not signed"));
    EXPECT_EQ(SyncAccount::signedIn(), std::nullopt);
    accept = true;
    signIn("password-1");
    ASSERT_TRUE(noteSays("Signed in as "));
    EXPECT_EQ(SyncAccount::signedIn().value_or(SyncSignInRecord{}).fingerprint, fingerprint);

    tls.kill();
    tls.waitForFinished();
    section().signOutButton()->click();
    ASSERT_TRUE(noteSays("Signed out on this computer only: The server cannot be reached."));
    EXPECT_EQ(SyncAccount::signedIn(), std::nullopt);
    const auto token = [&](auto done) { account->readToken(address, &listener, done); };
    EXPECT_EQ(ask<PasswordVault::Lookup>(token).outcome, PasswordVault::Lookup::Outcome::absent);
    // A sign-in whose token the keyring lost cannot be revoked on the server, and says so.
    EXPECT_TRUE(sync::ServiceSession::signOut(SyncCredentials{SyncSignInRecord{}, std::nullopt}));
}

// The encryption status and the tasks offered follow the account's state; switching on shows the
// new key's phrase once, the phrase is shown again only after a password the server accepts,
// changing the key warns first, and adding a computer shows a code, then words to compare. A
// second click while an answer is awaited asks nothing more; an answer after the window closed is
// dropped, and a pairing under way is cancelled with it.
TEST_F(SyncSectionTest, EncryptionOnAComputerWithTheKey) {
    openEncryption({});
    const struct {
        EncryptionActions::State state;
        const char* status;
        bool keyTasks, joinTasks;
    } states[] = {
        {{}, "Sign in to your sync", false, false},
        {{true, false, false, 0, 0, false}, "Encryption is off:", false, false},
        {{true, true, true, 1200, 0, false}, "re-encrypting, 1200", true, false},
        {{true, true, true, 0, 1, false}, "history. 1 clip could", true, false},
        {{true, true, false, 0, 3, false}, "lacks the key: enter the", false, true},
    };
    for (const auto& c : states) {
        fake.set(c.state);
        EXPECT_TRUE(encryption().statusLabel()->text().contains(QLatin1String(c.status)))
            << encryption().statusLabel()->text().toStdString();
        EXPECT_EQ(encryption().encryptionToggle()->isChecked(), c.state.enabled) << c.status;
        EXPECT_EQ(encryption().encryptionToggle()->isEnabled(), c.state.signedIn) << c.status;
        EXPECT_EQ(encryption().changeKeyButton()->isVisible(), c.keyTasks) << c.status;
        EXPECT_EQ(encryption().pairButton()->isVisible(), c.joinTasks) << c.status;
    }

    fake.set({true, false, false, 0, 0, false});
    encryption().encryptionToggle()->click();
    encryption().encryptionToggle()->click();
    EXPECT_EQ(calls(), QStringList{"on"});
    EXPECT_FALSE(encryption().encryptionToggle()->isChecked());
    const HistoryKey first = HistoryKey::generate();
    fake.answer(true, first);
    EXPECT_EQ(flow().shownWords(), crypto::RecoveryPhrase::words(first));
    flow().cancelButton()->click();
    fake.set({true, true, true, 0, 0, false});

    encryption().showPhraseButton()->click();
    EXPECT_EQ(flow().lineField()->echoMode(), QLineEdit::Password);
    typeInto(*flow().lineField(), "wrong");
    EXPECT_EQ(calls(), QStringList{"reveal wrong"});
    EXPECT_TRUE(flow().lineField()->text().isEmpty());
    fake.answer(false, {}, "The server did not accept the password.");
    EXPECT_EQ(flow().noteLabel()->text(), "The server did not accept the password.");
    EXPECT_TRUE(flow().shownWords().isEmpty());
    // Left before the answer, the phrase is not shown; a new key's phrase always is.
    typeInto(*flow().lineField(), "password-1");
    flow().cancelButton()->click();
    fake.answer(true, first);
    EXPECT_TRUE(flow().isHidden());
    encryption().showPhraseButton()->click();
    typeInto(*flow().lineField(), "password-1");
    fake.answer(true, first);
    EXPECT_EQ(flow().shownWords(), crypto::RecoveryPhrase::words(first));
    EXPECT_FALSE(encryption().changeKeyButton()->isEnabled());
    flow().cancelButton()->click();
    EXPECT_EQ(calls(), (QStringList{"reveal password-1", "reveal password-1"}));

    encryption().changeKeyButton()->click();
    EXPECT_TRUE(flow().promptLabel()->text().contains("re-encrypted"));
    flow().cancelButton()->click();
    encryption().changeKeyButton()->click();
    flow().acceptButton()->click();
    flow().cancelButton()->click();
    const HistoryKey second = HistoryKey::generate();
    fake.answer(true, second);
    EXPECT_EQ(flow().shownWords(), crypto::RecoveryPhrase::words(second));
    EXPECT_EQ(calls(), QStringList{"change"});
    flow().cancelButton()->click();

    encryption().addComputerButton()->click();
    fake.progress({Step::Kind::code, "428 913", {}, {}});
    EXPECT_EQ(flow().codeLabel()->text(), "428 913");
    const QByteArray confirmation = QByteArray::fromHex("0123456789ab");
    fake.progress({Step::Kind::confirmation, {}, confirmation, {}});
    EXPECT_EQ(flow().shownWords(), crypto::WordList::wordsFor(confirmation, 4));
    flow().acceptButton()->click();
    flow().acceptButton()->click();
    fake.progress({Step::Kind::done, {}, {}, {}});
    EXPECT_TRUE(flow().isHidden());
    EXPECT_EQ(calls(), (QStringList{"offer", "confirm"}));

    // Cancelled, a pairing's late steps change nothing.
    encryption().addComputerButton()->click();
    flow().cancelButton()->click();
    fake.progress({Step::Kind::code, "111 111", {}, {}});
    EXPECT_TRUE(flow().isHidden());
    encryption().encryptionToggle()->click();
    EXPECT_TRUE(flow().promptLabel()->text().contains("readable"));
    flow().acceptButton()->click();
    fake.answer(true);
    EXPECT_TRUE(flow().isHidden());
    EXPECT_EQ(calls(), (QStringList{"offer", "cancel", "off"}));

    // Closed, the window cancels the pairing under way and drops the answers still to come.
    encryption().addComputerButton()->click();
    window.reset();
    EXPECT_EQ(calls(), (QStringList{"offer", "cancel"}));
    openEncryption(fake.current);
    encryption().showPhraseButton()->click();
    typeInto(*flow().lineField(), "password-1");
    window.reset();
    fake.answer(true, first);
}

// Without the key: a phrase with a word that is not on the list is refused on the spot, with the
// word and its place; the right one hands its key over; a pairing that fails says why.
TEST_F(SyncSectionTest, EncryptionOnAComputerWithoutTheKey) {
    openEncryption({true, true, false, 0, 0, false});
    const HistoryKey key = HistoryKey::generate();
    const QStringList words = crypto::RecoveryPhrase::words(key);
    encryption().usePhraseButton()->click();
    QStringList typo = words;
    typo[6] = "qqqq";
    flow().phraseField()->setFocus();
    QTest::keyClicks(flow().phraseField(), typo.join(' '));
    flow().acceptButton()->click();
    EXPECT_TRUE(flow().noteLabel()->text().startsWith("Word 7, “qqqq”"))
        << flow().noteLabel()->text().toStdString();
    flow().phraseField()->setPlainText(words.join('\n'));
    flow().acceptButton()->click();
    EXPECT_EQ(calls(), QStringList{"use " + key.id()});
    fake.answer(true);
    EXPECT_TRUE(flow().isHidden());

    encryption().pairButton()->click();
    typeInto(*flow().lineField(), "428 913");
    fake.progress({Step::Kind::failed, {}, {}, "The code is wrong or has expired."});
    EXPECT_EQ(flow().noteLabel()->text(), "The code is wrong or has expired.");
    EXPECT_EQ(calls(), QStringList{"request 428 913"});

    // Without a keyring, the file that keeps the key is locked until its passphrase is entered.
    flow().cancelButton()->click();
    EXPECT_FALSE(encryption().passphraseButton()->isVisible());
    fake.set({true, true, false, 0, 0, true});
    EXPECT_TRUE(encryption().statusLabel()->text().contains("locked"));
    ASSERT_TRUE(encryption().passphraseButton()->isVisible());
    encryption().passphraseButton()->click();
    typeInto(*flow().lineField(), "wrong horse");
    fake.answer(false, {}, "This passphrase does not open the key file on this computer.");
    EXPECT_EQ(flow().noteLabel()->text(), "This passphrase does not open the key file on this computer.");
    EXPECT_TRUE(flow().lineField()->text().isEmpty());
    typeInto(*flow().lineField(), "correct horse");
    EXPECT_EQ(calls(), (QStringList{"passphrase wrong horse", "passphrase correct horse"}));
    fake.answer(true);
    EXPECT_TRUE(flow().isHidden());
}

} // namespace
} // namespace snipjar::test
