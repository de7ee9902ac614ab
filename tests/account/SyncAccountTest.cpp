#include "platform/account/SyncAccount.h"
#include "AccountTestSupport.h"
#include "TestEnvironment.h"
#include "platform/AppPaths.h"
#include "platform/UserSettings.h"
#include "platform/account/KeychainPasswordVault.h"

#include <QFileInfo>
#include <QObject>
#include <gtest/gtest.h>

#include <memory>

namespace snipjar::test {
namespace {

using Outcome = PasswordVault::Lookup::Outcome;

const QString alice = QStringLiteral("https://sync.example.org:8443");

class SyncAccountTest : public ::testing::Test {
protected:
    static void setServer(const QString& address) {
        UserSettings::setValue(QString::fromLatin1(UserSettings::syncServerKey), address);
    }
    static SyncSignInRecord aliceSignIn() { return {alice, "alice", "7", "epoch-1", QByteArray(32, 'f')}; }
    std::optional<SyncCredentials> credentials(SyncAccount& account) {
        return ask<std::optional<SyncCredentials>>(
            [&](auto done) { account.readCredentials(&receiver, done); });
    }
    PasswordVault::Lookup token(SyncAccount& account, const QString& server) {
        return ask<PasswordVault::Lookup>([&](auto done) { account.readToken(server, &receiver, done); });
    }
    bool store(SyncAccount& account, const QString& token) {
        return ask<bool>([&](auto done) { account.storeToken(alice, token, &receiver, done); });
    }
    bool remove(SyncAccount& account) {
        return ask<bool>([&](auto done) { account.deleteToken(alice, &receiver, done); });
    }

    TestEnvironment environment;
    QObject receiver;
};

// Only https reaches a server elsewhere; plain http is for a server on this computer, where nobody
// listens in. A PostgreSQL address of the old kind is refused with what to do. The token's key is
// the host and port, whatever the path.
TEST_F(SyncAccountTest, ServerAddressesAndTokenKeys) {
    const std::pair<QString, std::optional<QString>> usable[] = {
        {alice, "device@sync.example.org:8443"},
        {"https://sync.example.org/snipjar/", "device@sync.example.org:443"},
        {"http://127.0.0.1:8080", "device@127.0.0.1:8080"},
        {"http://[::1]:8080", "device@::1:8080"},
        {"http://localhost", "device@localhost:80"},
    };
    for (const auto& [server, key] : usable) {
        EXPECT_EQ(SyncAccount::serverProblem(server), std::nullopt) << server.toStdString();
        EXPECT_EQ(SyncAccount::tokenKey(server), key);
    }
    EXPECT_EQ(SyncAccount::serverProblem("   "), "No server is set.");
    for (const QString refused :
         {"http://sync.example.org", "http://127.0.0.1.example.org", "ftp://sync.example.org",
          "https://alice@sync.example.org", "https://sync.example.org/?x=1", "https://", "sync.example.org",
          "https://[::1/x", "postgresql://alice@sync.example.org/snipjar"}) {
        const QString reason = SyncAccount::serverProblem(refused).value_or("");
        EXPECT_TRUE(reason.at(0).isUpper() && reason.endsWith(QLatin1Char('.'))) << refused.toStdString();
        EXPECT_EQ(SyncAccount::tokenKey(refused), std::nullopt);
    }
    EXPECT_TRUE(SyncAccount::serverProblem("postgresql://host/db")->contains("snipjar-server"));
}

// A blank server is none, the address is read without the blanks around it, and a sign-in counts
// for its own server only: another address in the settings is not signed in. SyncSectionTest shows
// every reason in its sentence, switched off over a sign-in too.
TEST_F(SyncAccountTest, WhySyncIsOff) {
    setServer("  ");
    EXPECT_EQ(SyncAccount::offReason(), SyncOffReason::noServer);
    setServer("  " + alice + "\n");
    EXPECT_EQ(SyncAccount::offReason(), SyncOffReason::notSignedIn);
    SyncAccount::recordSignIn(aliceSignIn());
    EXPECT_EQ(SyncAccount::offReason(), std::nullopt);
    setServer("https://other.example.org");
    EXPECT_EQ(SyncAccount::offReason(), SyncOffReason::notSignedIn);
    setServer(alice + QLatin1Char('/'));
    EXPECT_EQ(SyncAccount::offReason(), std::nullopt);
    SyncAccount::forgetSignIn();
    EXPECT_EQ(SyncAccount::offReason(), SyncOffReason::notSignedIn);
}

// Without a keyring the device token is kept in a private file of the configuration folder, for
// its server only; without a sign-in there is no account.
TEST_F(SyncAccountTest, CredentialsWithoutKeyringOrSignIn) {
    SyncAccount account(std::make_unique<NoKeyring>());
    Answer<std::optional<SyncCredentials>> none;
    account.readCredentials(&receiver, none.callback());
    // Not answered within the call: the caller may still be setting up.
    EXPECT_FALSE(none.answer);
    ASSERT_TRUE(none.wait());
    EXPECT_EQ(*none.answer, std::nullopt);

    SyncAccount::recordSignIn(aliceSignIn());
    EXPECT_EQ(credentials(account), (SyncCredentials{aliceSignIn(), std::nullopt}));
    ASSERT_TRUE(store(account, "7.abc"));
    const QString file = AppPaths::configFolder() + QStringLiteral("/sync-device-token");
    EXPECT_EQ(QFileInfo(file).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ReadUser | QFileDevice::WriteUser);
    EXPECT_EQ(credentials(account), (SyncCredentials{aliceSignIn(), "7.abc"}));
    EXPECT_EQ(token(account, "https://other.example.org").outcome, Outcome::absent);
    ASSERT_TRUE(remove(account));
    EXPECT_FALSE(QFileInfo::exists(file));
}

// The real keyring: a token stored for a host and port is read back for any address naming the
// same two, also by another account object (a later run), and is gone after its removal (a second
// removal still succeeds). An answer for a receiver that is gone is dropped, also when the account
// went first.
TEST_F(SyncAccountTest, KeyringRoundTripAndAnswersForAGoneReceiverAreDropped) {
    if (!haveTestKeyring()) {
        GTEST_SKIP() << "no test keyring (run through tests/account/with-keyring.sh)";
    }
    bool calledAfterDeath = false;
    {
        auto account = std::make_unique<SyncAccount>();
        auto doomed = std::make_unique<QObject>();
        account->readToken(alice, doomed.get(),
                           [&](const PasswordVault::Lookup&) { calledAfterDeath = true; });
        account->readCredentials(doomed.get(),
                                 [&](const std::optional<SyncCredentials>&) { calledAfterDeath = true; });
        doomed.reset();
        account.reset();
    }
    // Later requests on the same bus are answered after the earlier ones were.
    SyncAccount account;
    const QString secret = QStringLiteral("s3cret \u00e9\u20ac");
    ASSERT_TRUE(store(account, secret));
    EXPECT_EQ(token(account, alice + "/other").password, secret);
    SyncAccount::recordSignIn(aliceSignIn());
    EXPECT_EQ(credentials(account), (SyncCredentials{aliceSignIn(), secret}));
    SyncAccount later;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(remove(later)) << "round " << round;
    }
    EXPECT_EQ(token(later, alice).outcome, Outcome::absent);
    EXPECT_FALSE(calledAfterDeath);
}

} // namespace
} // namespace snipjar::test
