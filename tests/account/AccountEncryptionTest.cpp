// The account's encryption as the application drives it, on two computers of one account against
// a real snipjar-server: the first one's key in the real keyring where the test has one.
#include "app/AccountEncryption.h"
#include "AccountTestSupport.h"
#include "PostgresCluster.h"
#include "ServiceServer.h"
#include "TestEnvironment.h"
#include "app/SyncSwitch.h"
#include "platform/UserSettings.h"
#include "platform/account/KeychainPasswordVault.h"
#include "platform/fakes/FakePlatform.h"
#include "store/ClipStore.h"
#include "sync/RecordNames.h"
#include "sync/Reencryption.h"
#include "sync/cloud/EncryptedCloudDatabase.h"
#include "sync/cloud/service/ServiceCloudDatabase.h"
#include "sync/crypto/RecoveryPhrase.h"

#include <QFile>

#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

using cloud::CloudDatabase;
using cloud::CloudRecord;
using cloud::ServiceCloudDatabase;
using Decision = AccountEncryption::Decision;
using Outcome = EncryptionActions::Outcome;
using namespace std::chrono_literals;

// One computer: its keyring, its folders, its connection to the account.
struct Computer {
    Computer(PasswordVault& keyring, const QString& folder, cloud::ServiceAccount account)
        : encryption(keyring, folder + "/keys", folder)
        , account(account) {
        encryption.setAccount(account);
    }
    Decision decide() {
        return ask<Decision>([&](auto done) { encryption.decide(done); });
    }
    std::shared_ptr<ServiceCloudDatabase> connection() const {
        return std::make_shared<ServiceCloudDatabase>(account);
    }

    AccountEncryption encryption;
    cloud::ServiceAccount account;
};

CloudRecord clip(const QString& name, const QString& title) {
    CloudRecord record(sync::RecordNames::itemType, cloud::RecordID{name, sync::RecordNames::zoneID()});
    record.setValue("title", title);
    return record;
}

// Every record of the history zone the database hands on, from the beginning: a few, on one page.
QList<CloudRecord> everything(CloudDatabase& database) {
    const auto fetched = database.fetchChanges(sync::RecordNames::zoneID(), std::nullopt);
    if (!fetched.ok() || fetched.value().moreComing) {
        ADD_FAILURE() << (fetched.ok() ? "more than a page" : fetched.error().description.toStdString());
        return {};
    }
    return fetched.value().modifications;
}

QStringList titles(CloudDatabase& database) {
    QStringList found;
    for (const CloudRecord& record : everything(database)) {
        found << record.string("title").value_or("(none)");
    }
    found.sort();
    return found;
}

// One server for the cases, each with accounts of its own.
class AccountEncryptionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        cluster = new PostgresCluster;
        server = new ServiceServer(*cluster);
        ASSERT_TRUE(cluster->isReady() && server->start()) << cluster->error().toStdString();
    }
    static void TearDownTestSuite() {
        delete server;
        delete cluster;
    }
    static inline PostgresCluster* cluster = nullptr;
    static inline ServiceServer* server = nullptr;
    TestEnvironment environment;
};

// A switches encryption on and has the key to show as a phrase; B, signed in as a second device, is
// told it lacks the key and refuses a phrase of another key; with A's phrase it holds the same key,
// and a third computer gets it by pairing with A.
// A's re-encryption leaves the server no plain record, after which a plain record planted on the
// server is refused and counted; each computer opens what the other sent. Switching off leaves every
// record plain.
TEST_F(AccountEncryptionTest, TwoComputersShareTheKeyByThePhraseAndTheServerKeepsNothingPlain) {
    const cloud::ServiceAccount accountA = server->newAccount("encrypting");
    const cloud::ServiceAccount accountB = server->signIn(server->userOf(accountA));
    std::unique_ptr<PasswordVault> keyringA =
        haveTestKeyring()
            ? std::unique_ptr<PasswordVault>(std::make_unique<KeychainPasswordVault>("snipjar-e2e-test"))
            : std::make_unique<MemoryKeyring>();
    MemoryKeyring keyringB;
    Computer a(*keyringA, environment.path("a"), accountA);
    Computer b(keyringB, environment.path("b"), accountB);
    // Bound to the account and the server's epoch, not the address, which may change.
    EXPECT_EQ(a.encryption.binding(), b.encryption.binding());
    EXPECT_FALSE(a.encryption.binding().contains(accountA.server.host()));

    // Synced plain before: the server holds A's clip as it is.
    const std::shared_ptr<ServiceCloudDatabase> plainA = a.connection();
    ASSERT_TRUE(plainA->saveZone(sync::RecordNames::zoneID()).ok());
    ASSERT_TRUE(plainA->modifyRecords({clip("before", "a plain clip from A")}, {}).ok());
    EXPECT_EQ(a.decide().kind, Decision::Kind::plain);

    const Outcome on = ask<Outcome>([&](auto done) { a.encryption.setEnabled(true, done); });
    ASSERT_TRUE(on.ok) << on.message.toStdString();
    ASSERT_TRUE(on.key);
    const QString phrase = crypto::RecoveryPhrase::text(*on.key);
    EXPECT_TRUE(sync::Reencryption::isPending(a.encryption.pendingFlagFile()));
    EXPECT_FALSE(ask<Outcome>([&](auto done) { b.encryption.setEnabled(true, done); }).ok)
        << "one key per account";

    // B notices and stops syncing plain.
    const Decision lacking = b.decide();
    EXPECT_EQ(lacking.kind, Decision::Kind::lacksKey);
    EXPECT_EQ(lacking.keyId, on.key->id());

    const Outcome wrong =
        ask<Outcome>([&](auto done) { b.encryption.useKey(crypto::HistoryKey::generate(), done); });
    EXPECT_FALSE(wrong.ok);
    EXPECT_EQ(b.decide().kind, Decision::Kind::lacksKey);
    const Outcome used = ask<Outcome>(
        [&](auto done) { b.encryption.useKey(*crypto::RecoveryPhrase::parse(phrase).key, done); });
    ASSERT_TRUE(used.ok) << used.message.toStdString();
    const Decision sealedB = b.decide();
    ASSERT_EQ(sealedB.kind, Decision::Kind::sealed);
    EXPECT_EQ(*sealedB.key, *on.key);
    const Decision sealedA = a.decide();
    ASSERT_EQ(sealedA.kind, Decision::Kind::sealed) << "A's key is found again in its keyring";

    // A third computer gets the key by pairing: both show the same confirmation, then C holds it.
    MemoryKeyring keyringC;
    Computer c(keyringC, environment.path("c"), server->signIn(server->userOf(accountA)));
    QList<EncryptionActions::PairingStep> offered, joined;
    a.encryption.offerKey([&](auto step) { offered << step; });
    ASSERT_TRUE(waitUntil([&] { return !offered.isEmpty(); }, 30s));
    ASSERT_EQ(offered[0].kind, EncryptionActions::PairingStep::Kind::code)
        << offered[0].message.toStdString();
    c.encryption.requestKey(offered[0].code.toLower(), [&](auto step) { joined << step; });
    ASSERT_TRUE(waitUntil([&] { return offered.size() == 2 && joined.size() == 1; }, 30s));
    ASSERT_EQ(joined[0].kind, EncryptionActions::PairingStep::Kind::confirmation)
        << joined[0].message.toStdString();
    EXPECT_EQ(offered[1].confirmation, joined[0].confirmation);
    a.encryption.confirmPairing(true);
    c.encryption.confirmPairing(true);
    ASSERT_TRUE(waitUntil([&] { return offered.size() == 3 && joined.size() == 2; }, 30s));
    EXPECT_EQ(offered[2].kind, EncryptionActions::PairingStep::Kind::done)
        << offered[2].message.toStdString();
    EXPECT_EQ(c.decide().kind, Decision::Kind::sealed);

    // A rewrites the server's plain records on a connection of its own.
    const auto databaseA = a.encryption.sealedDatabase(plainA, *sealedA.key);
    const auto run = a.encryption.reencryptIfPending(a.connection(), *sealedA.key, databaseA);
    ASSERT_TRUE(run);
    EXPECT_TRUE(waitUntil([&] { return a.encryption.state().reencryptLeft == 0; }, 30s));
    EXPECT_FALSE(sync::Reencryption::isPending(a.encryption.pendingFlagFile()));
    const auto databaseB = b.encryption.sealedDatabase(b.connection(), *sealedB.key);
    EXPECT_FALSE(b.encryption.reencryptIfPending(b.connection(), *sealedB.key, databaseB))
        << "nothing pending on B";
    ASSERT_TRUE(databaseB->modifyRecords({clip("fromB", "a sealed clip from B")}, {}).ok());

    EXPECT_EQ(titles(*databaseA), QStringList({"a plain clip from A", "a sealed clip from B"}));
    EXPECT_EQ(titles(*databaseB), QStringList({"a plain clip from A", "a sealed clip from B"}));
    for (const CloudRecord& record : everything(*plainA)) {
        EXPECT_FALSE(record.string("title")) << record.recordName().toStdString();
        EXPECT_FALSE(record.archive().contains("clip from")) << record.recordName().toStdString();
    }

    // Once re-encrypted, a plain record on the server is a forgery: neither computer applies it.
    ASSERT_TRUE(plainA->modifyRecords({clip("planted", "a planted clip")}, {}).ok());
    EXPECT_EQ(titles(*databaseB).size(), 2);
    EXPECT_TRUE(waitUntil([&] { return b.encryption.state().undecryptable == 1; }));

    // A new key: B lacks it until it takes the new phrase. A rewrites what the old key sealed, with
    // the old key kept beside the new one, and leaves the planted plain record as it is.
    const Outcome changed = ask<Outcome>([&](auto done) { a.encryption.changeKey(done); });
    ASSERT_TRUE(changed.ok && changed.key) << changed.message.toStdString();
    EXPECT_EQ(b.decide().kind, Decision::Kind::lacksKey);
    const Decision changedA = a.decide();
    ASSERT_EQ(changedA.kind, Decision::Kind::sealed);
    const auto rewritten = a.encryption.sealedDatabase(a.connection(), *changedA.key);
    ASSERT_TRUE(a.encryption.reencryptIfPending(a.connection(), *changedA.key, rewritten));
    EXPECT_TRUE(waitUntil([&] { return a.encryption.state().reencryptLeft == 0; }, 30s));
    ASSERT_TRUE(ask<Outcome>([&](auto done) { b.encryption.useKey(*changed.key, done); }).ok);
    const auto changedB = b.encryption.sealedDatabase(b.connection(), *b.decide().key);
    EXPECT_EQ(titles(*changedB), QStringList({"a plain clip from A", "a sealed clip from B"}));

    // Switched off, every record is plain again before the state says so; B follows.
    const Outcome off = ask<Outcome>([&](auto done) { b.encryption.setEnabled(false, done); });
    ASSERT_TRUE(off.ok) << off.message.toStdString();
    EXPECT_EQ(titles(*plainA),
              QStringList({"a plain clip from A", "a planted clip", "a sealed clip from B"}));
    EXPECT_EQ(a.decide().kind, Decision::Kind::plain);
}

// A computer syncing plain notices when another one switches encryption on (the server's notice
// wakes its sync, which reads the state again) and stops sending plain; with the key in its
// keyring it syncs again, sealed.
TEST_F(AccountEncryptionTest, APlainComputerStopsWhenAnotherSwitchesEncryptionOn) {
    const cloud::ServiceAccount accountA = server->newAccount("noticing");
    const cloud::ServiceAccount accountB = server->signIn(server->userOf(accountA));
    UserSettings::setValue(QString::fromLatin1(UserSettings::syncServerKey), accountB.server.toString());
    UserSettings::setValue(QString::fromLatin1(UserSettings::syncEnabledKey), true);
    SyncAccount::recordSignIn(
        {accountB.server.toString(), server->userOf(accountB), accountB.accountId, accountB.epoch, {}});
    auto syncAccount = std::make_unique<SyncAccount>(std::make_unique<MemoryKeyring>());
    QObject receiver;
    ASSERT_TRUE(ask<bool>([&](auto done) {
        syncAccount->storeToken(accountB.server.toString(), accountB.token, &receiver, done);
    }));

    ClipStore store(ClipStore::Location::inMemory);
    FakePlatform platform;
    SyncSwitch b(store, platform, std::move(syncAccount));
    b.startSync();
    ASSERT_TRUE(waitUntil([&] { return b.isOn() && !b.isSyncing(); }, 30s))
        << b.statusText().value_or("").toStdString();

    MemoryKeyring keyringA;
    Computer a(keyringA, environment.path("a"), accountA);
    const Outcome on = ask<Outcome>([&](auto done) { a.encryption.setEnabled(true, done); });
    ASSERT_TRUE(on.ok) << on.message.toStdString();
    ASSERT_TRUE(waitUntil([&] { return !b.isOn() && b.encryptionProblem(); }, 30s));
    EXPECT_TRUE(b.statusText().value_or("").contains("lacks the key"));
    EXPECT_TRUE(b.encryptionActions().state().enabled && !b.encryptionActions().state().haveKey);
    if (haveTestKeyring()) {
        ASSERT_TRUE(ask<Outcome>([&](auto done) { b.encryptionActions().useKey(*on.key, done); }).ok);
        EXPECT_TRUE(waitUntil([&] { return b.isOn(); }, 30s));
        EXPECT_FALSE(b.encryptionProblem());
    }
}

// Without a keyring the key is kept in a file sealed with a passphrase: switching on asks for one
// first; at the next start the file stays locked until its passphrase opens it, a wrong one refused.
TEST_F(AccountEncryptionTest, WithoutAKeyringTheKeyIsSealedInAFileThatItsPassphraseOpens) {
    const cloud::ServiceAccount account = server->newAccount("no-keyring");
    NoKeyring keyring;
    const QString folder = environment.path("n");
    std::optional<crypto::HistoryKey> made;
    {
        Computer a(keyring, folder, account);
        const Outcome refused = ask<Outcome>([&](auto done) { a.encryption.setEnabled(true, done); });
        EXPECT_FALSE(refused.ok);
        EXPECT_TRUE(a.encryption.state().needsPassphrase);
        EXPECT_EQ(a.decide().kind, Decision::Kind::plain);
        ASSERT_TRUE(ask<Outcome>([&](auto done) { a.encryption.usePassphrase("correct horse", done); }).ok);
        EXPECT_FALSE(a.encryption.state().needsPassphrase);
        const Outcome on = ask<Outcome>([&](auto done) { a.encryption.setEnabled(true, done); });
        ASSERT_TRUE(on.ok && on.key) << on.message.toStdString();
        made = on.key;
    }
    Computer again(keyring, folder, account);
    EXPECT_EQ(again.decide().kind, Decision::Kind::lacksKey);
    EXPECT_TRUE(again.encryption.state().needsPassphrase);
    int restarts = 0;
    QObject::connect(&again.encryption, &AccountEncryption::syncRestartNeeded, [&] { ++restarts; });
    const Outcome wrong =
        ask<Outcome>([&](auto done) { again.encryption.usePassphrase(QStringLiteral("wrong horse"), done); });
    EXPECT_FALSE(wrong.ok);
    EXPECT_TRUE(again.encryption.state().needsPassphrase);
    EXPECT_EQ(restarts, 0);
    ASSERT_TRUE(ask<Outcome>([&](auto done) { again.encryption.usePassphrase("correct horse", done); }).ok);
    EXPECT_EQ(restarts, 1);
    const Decision open = again.decide();
    ASSERT_EQ(open.kind, Decision::Kind::sealed);
    EXPECT_EQ(open.key->id(), made->id());
}

} // namespace
} // namespace snipjar::test
