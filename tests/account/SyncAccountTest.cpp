#include "platform/account/SyncAccount.h"
#include "AccountTestSupport.h"
#include "TestEnvironment.h"
#include "platform/UserSettings.h"
#include "platform/account/KeychainPasswordVault.h"

#include <QObject>
#include <gtest/gtest.h>

#include <memory>

namespace snipjar::test {
namespace {

using Outcome = PasswordVault::Lookup::Outcome;

const QString alice = QStringLiteral("postgresql://alice@sync.example.org:5432/snipjar?sslmode=verify-full");

class SyncAccountTest : public ::testing::Test {
protected:
    static void setServer(const QString& uri) {
        UserSettings::setValue(QString::fromLatin1(UserSettings::syncServerKey), uri);
    }

    TestEnvironment environment;
    QObject receiver;
};

// libpq decides what a connection string is; its reason is handed on as a sentence. The keyring
// key is the user and host the connection uses, whatever form names them; without a user it is the
// one libpq would take.
TEST_F(SyncAccountTest, ServerAddressesAndPasswordKeys) {
    const std::pair<QString, std::optional<QString>> usable[] = {
        {alice, "alice@sync.example.org"},
        {"postgresql://alice@sync.example.org/other?port=6543", "alice@sync.example.org"},
        {"postgresql:///snipjar?user=carol", "carol@localhost"},
        {"host=db.example user=dave dbname=snipjar", "dave@db.example"},
    };
    for (const auto& [server, key] : usable) {
        EXPECT_EQ(SyncAccount::serverProblem(server), std::nullopt) << server.toStdString();
        EXPECT_EQ(SyncAccount::passwordKey(server), key);
    }
    EXPECT_EQ(SyncAccount::serverProblem(QStringLiteral("postgresql:///snipjar?service=sync")), std::nullopt);
    qputenv("PGUSER", "bob");
    EXPECT_EQ(SyncAccount::passwordKey(QStringLiteral("postgresql://sync.example.org/snipjar")),
              QStringLiteral("bob@sync.example.org"));
    qunsetenv("PGUSER");

    EXPECT_EQ(SyncAccount::serverProblem(QStringLiteral("   ")), QStringLiteral("No server is set."));
    const QString unknownOption = SyncAccount::serverProblem("postgresql://host/db?colour=blue").value_or("");
    EXPECT_TRUE(unknownOption.contains(QStringLiteral("colour"))) << unknownOption.toStdString();
    EXPECT_TRUE(unknownOption.at(0).isUpper() && unknownOption.endsWith(QLatin1Char('.')));
    EXPECT_EQ(SyncAccount::passwordKey(QStringLiteral("postgresql://host/db?colour=blue")), std::nullopt);
    EXPECT_TRUE(SyncAccount::serverProblem(QStringLiteral("postgresql://[::1/snipjar")));
    EXPECT_TRUE(SyncAccount::serverProblem(QStringLiteral("host=db.example user")));
}

// Switched off wins over everything else; then a missing, then an unusable server (SyncSectionTest
// shows the sentences).
TEST_F(SyncAccountTest, WhySyncIsOff) {
    for (const auto& [server, reason] :
         {std::pair<QString, std::optional<SyncOffReason>>{"", SyncOffReason::noServer},
          {"  ", SyncOffReason::noServer},
          {"postgresql://host/db?colour=blue", SyncOffReason::invalidServer},
          {"  " + alice + "\n", std::nullopt}}) {
        if (!server.isEmpty()) {
            setServer(server);
        }
        EXPECT_EQ(SyncAccount::offReason(), reason) << server.toStdString();
        EXPECT_EQ(SyncAccount::configuredServer(), reason ? std::nullopt : std::optional(alice));
    }
    UserSettings::setValue(QString::fromLatin1(UserSettings::syncEnabledKey), false);
    EXPECT_EQ(SyncAccount::offReason(), SyncOffReason::switchedOff);
}

// A vault that never reaches a keyring, as on a machine without one.
class NoKeyring final : public PasswordVault {
public:
    void read(const QString&, std::function<void(Lookup)> done) override {
        done({Lookup::Outcome::unavailable, {}});
    }
    void write(const QString&, const QString&, std::function<void(bool)> done) override { done(false); }
    void remove(const QString&, std::function<void(bool)> done) override { done(false); }
};

// Without a keyring the account still comes, without a password, so libpq's password and service
// files apply; without a usable server there is no account.
TEST_F(SyncAccountTest, CredentialsWithoutKeyringOrServer) {
    SyncAccount account(std::make_unique<NoKeyring>());
    Answer<std::optional<SyncCredentials>> none;
    account.readCredentials(&receiver, none.callback());
    // Not answered within the call: the caller may still be setting up.
    EXPECT_FALSE(none.answer);
    ASSERT_TRUE(none.wait());
    EXPECT_EQ(*none.answer, std::nullopt);

    setServer(alice);
    Answer<std::optional<SyncCredentials>> withoutPassword;
    account.readCredentials(&receiver, withoutPassword.callback());
    ASSERT_TRUE(withoutPassword.wait());
    EXPECT_EQ(*withoutPassword.answer, (SyncCredentials{alice, std::nullopt}));
}

// The real keyring: a password stored for a user and host is read back for any URI naming the
// same two, and is gone after its removal (a second removal still succeeds). Another user finding
// nothing is shown through the settings window (SyncSectionTest).
TEST_F(SyncAccountTest, KeyringRoundTrip) {
    if (!haveTestKeyring()) {
        GTEST_SKIP() << "no test keyring (run through tests/account/with-keyring.sh)";
    }
    SyncAccount account;
    const QString secret = QStringLiteral("s3cret \u00e9\u20ac");
    Answer<bool> stored;
    account.storePassword(alice, secret, &receiver, stored.callback());
    ASSERT_EQ(stored.wait(), true);

    Answer<PasswordVault::Lookup> sameHost;
    account.readPassword(QStringLiteral("postgresql://alice@sync.example.org/other"), &receiver,
                         sameHost.callback());
    ASSERT_TRUE(sameHost.wait());
    EXPECT_EQ(sameHost.answer->outcome, Outcome::found);
    EXPECT_EQ(sameHost.answer->password, secret);

    setServer(alice);
    Answer<std::optional<SyncCredentials>> credentials;
    account.readCredentials(&receiver, credentials.callback());
    ASSERT_TRUE(credentials.wait());
    EXPECT_EQ(*credentials.answer, (SyncCredentials{alice, secret}));

    // Another account object (a later run of the program) finds the same entry.
    SyncAccount later;
    for (int round = 0; round < 2; ++round) {
        Answer<bool> removed;
        later.deletePassword(alice, &receiver, removed.callback());
        ASSERT_EQ(removed.wait(), true) << "round " << round;
    }
    Answer<PasswordVault::Lookup> gone;
    later.readPassword(alice, &receiver, gone.callback());
    ASSERT_TRUE(gone.wait());
    EXPECT_EQ(gone.answer->outcome, Outcome::absent);
}

// An answer for a receiver that is gone is dropped, also when the account went first.
TEST_F(SyncAccountTest, AnswersForAGoneReceiverAreDropped) {
    if (!haveTestKeyring()) {
        GTEST_SKIP() << "no test keyring (run through tests/account/with-keyring.sh)";
    }
    bool calledAfterDeath = false;
    {
        auto account = std::make_unique<SyncAccount>();
        auto doomed = std::make_unique<QObject>();
        account->readPassword(alice, doomed.get(),
                              [&](const PasswordVault::Lookup&) { calledAfterDeath = true; });
        account->readCredentials(doomed.get(),
                                 [&](const std::optional<SyncCredentials>&) { calledAfterDeath = true; });
        doomed.reset();
        account.reset();
    }
    // Later requests on the same bus are answered after the earlier ones were.
    SyncAccount account;
    Answer<bool> stored;
    account.storePassword(alice, QStringLiteral("x"), &receiver, stored.callback());
    ASSERT_EQ(stored.wait(), true);
    Answer<bool> removed;
    account.deletePassword(alice, &receiver, removed.callback());
    ASSERT_EQ(removed.wait(), true);
    EXPECT_FALSE(calledAfterDeath);
}

} // namespace
} // namespace snipjar::test
