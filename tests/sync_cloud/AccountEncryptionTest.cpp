// The account's encryption state on the sync service, and pairing a computer through it.
#include "CloudBackends.h"
#include "EventLoopWait.h"
#include "sync/cloud/service/ServiceAccountCalls.h"
#include "sync/pairing/Pairing.h"

#include <gtest/gtest.h>

#include <future>

namespace snipjar::test {
namespace {

using namespace snipjar::cloud;
using crypto::HistoryKey;
using sync::Pairing;

ServiceServer& server() {
    return sharedServiceServer();
}

TEST(AccountEncryptionTest, OfTwoComputersChangingTheStateAtOnceOneWinsOnADatabaseOfTheFirstSchemaToo) {
    // A database made by the first schema version is brought up to date by init.
    ASSERT_TRUE(server().isRunning());
    ASSERT_TRUE(sharedPostgresCluster().adminSQL(
        "DROP TABLE snipjar_service.pairing_slots, snipjar_service.pairing_mailboxes, "
        "snipjar_service.account_encryption; UPDATE snipjar_service.server SET schema_version = 1"));
    const auto init = server().admin({"init"});
    ASSERT_TRUE(init.has_value());
    EXPECT_EQ(*init, "schema migrated to version 2");
    EXPECT_EQ(server().admin({"init"}).value_or(""), "schema present");

    const ServiceAccount desktop = server().newAccount("encrypting");
    const ServiceAccount laptop = server().signIn(server().userOf(desktop));
    ServiceCloudDatabase records(desktop);
    std::atomic<int> notices = 0;
    auto subscription = records.subscribe([&] { ++notices; });
    ASSERT_TRUE(waitUntil([&] { return notices > 0; }));
    ServiceAccountCalls desktopCalls(desktop);
    ServiceAccountCalls laptopCalls(laptop);
    QString current;
    for (int round = 0; round < 4; ++round) {
        const HistoryKey mine = HistoryKey::generate();
        const HistoryKey theirs = HistoryKey::generate();
        std::promise<void> go;
        auto racing = std::async(std::launch::async, [&, ready = go.get_future().share()] {
            ready.wait();
            return laptopCalls.setEncryption(current, theirs.id(), theirs.verifier());
        });
        go.set_value();
        const CloudStatus desktopWon = desktopCalls.setEncryption(current, mine.id(), mine.verifier());
        const CloudStatus laptopWon = racing.get();
        ASSERT_NE(desktopWon.ok(), laptopWon.ok()) << "round " << round;
        const CloudStatus& lost = desktopWon.ok() ? laptopWon : desktopWon;
        EXPECT_EQ(lost.error().code, CloudErrorCode::serverRecordChanged);
        const HistoryKey& winner = desktopWon.ok() ? mine : theirs;
        const auto state = laptopCalls.encryption();
        ASSERT_TRUE(state.ok());
        EXPECT_EQ(state.value().keyId, winner.id());
        EXPECT_EQ(state.value().verifier, winner.verifier());
        current = winner.id();
    }
    EXPECT_TRUE(waitUntil([&] { return notices > 1; })) << "the account's computers hear of a change";

    ServiceHttp http(desktop);
    const auto put = [&](const QJsonValue& keyId, const QJsonValue& verifier) {
        const auto answer = http.call("PUT", "/v1/account/encryption",
                                      {{"previous", current}, {"keyId", keyId}, {"verifier", verifier}});
        return answer.ok() ? 0 : int(answer.error().code);
    };
    const QString verifier = QString(QByteArray(32, 'v').toBase64());
    const auto invalid = CloudErrorCode::invalidArguments;
    const struct {
        const char* what;
        QJsonValue keyId, verifier;
        CloudErrorCode expected;
    } malformed[] = {
        {"no key id", "", verifier, invalid},
        {"a key id with a space", "k 1", verifier, invalid},
        {"a key id of 65 characters", QString(65, 'k'), verifier, invalid},
        {"a key id that is a number", 12, verifier, invalid},
        {"a verifier of 8 bytes", "k2", QString(QByteArray(8, 'v').toBase64()), invalid},
        {"a verifier of 65 bytes", "k2", QString(QByteArray(65, 'v').toBase64()), invalid},
        {"a verifier not in base64", "k2", "*not base64*", invalid},
        {"a body of 100 KB", "k2", QString(QByteArray(100000, 'v').toBase64()),
         CloudErrorCode::limitExceeded},
    };
    for (const auto& row : malformed) {
        EXPECT_EQ(put(row.keyId, row.verifier), int(row.expected)) << row.what;
    }
    EXPECT_EQ(desktopCalls.clearEncryption("k-stale").error().code, CloudErrorCode::serverRecordChanged);
    ASSERT_TRUE(desktopCalls.clearEncryption(current).ok());
    EXPECT_FALSE(laptopCalls.encryption().value().enabled());
}

TEST(AccountEncryptionTest, PairingGivesTheAccountsKeyOnlyToTheComputerThatTypedTheCode) {
    enum class Kind { rightCode, wrongCode, impostorAnswers, tamperedKey, notTheAccountsKey };
    const struct {
        const char* what;
        Kind kind;
        const char* refusal; // the joining (or, for an impostor, offering) side's message; none: paired
    } cases[] = {
        {"the right code, typed sloppily", Kind::rightCode, nullptr},
        {"a wrong code", Kind::wrongCode, "No computer of this account is offering"},
        {"an answer from one who knows the mailbox but not the code", Kind::impostorAnswers,
         "does not match this code"},
        {"a sealed key changed on the way", Kind::tamperedKey, "damaged"},
        {"a key the account no longer uses", Kind::notTheAccountsKey, "not this account's encryption key"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        const ServiceAccount desktop = server().newAccount("pairing");
        const ServiceAccount laptop = server().signIn(server().userOf(desktop));
        const HistoryKey key = HistoryKey::generate();
        ServiceAccountCalls desktopCalls(desktop);
        ASSERT_TRUE(desktopCalls.setEncryption({}, key.id(), key.verifier()).ok());
        const auto offer = Pairing::offer(desktop, key);
        ASSERT_EQ(offer->open(), std::nullopt);
        auto offering = std::async(std::launch::async, [&] { return offer->connect(); });
        if (row.kind == Kind::impostorAnswers) {
            // The server, or another computer of the account, answers in place of the joining one.
            QString mailbox;
            ASSERT_TRUE(waitUntil([&] {
                mailbox =
                    sharedPostgresCluster()
                        .adminSQL("SELECT mailbox FROM snipjar_service.pairing_slots WHERE account_id = " +
                                  desktop.accountId)
                        .value_or("");
                return !mailbox.isEmpty();
            }));
            ASSERT_TRUE(ServiceAccountCalls(laptop).post(mailbox, "answer", QByteArray(64, 'x')).ok());
            const auto refused = offering.get();
            ASSERT_TRUE(refused.has_value());
            EXPECT_TRUE(refused->contains(row.refusal)) << refused->toStdString();
            continue;
        }
        const QString typed =
            row.kind == Kind::wrongCode
                ? Pairing::offer(desktop, key)->code()
                : offer->code().toLower().replace('0', 'o').replace('1', 'l').replace('-', ' ');
        const auto join = Pairing::join(laptop, typed);
        const auto joined = join->connect();
        if (row.kind == Kind::wrongCode) {
            ASSERT_TRUE(joined.has_value());
            EXPECT_TRUE(joined->contains(row.refusal)) << joined->toStdString();
            offer->cancel();
            EXPECT_EQ(offering.get().value_or(""), "Pairing was cancelled.")
                << "the offering side stops waiting";
            continue;
        }
        ASSERT_EQ(joined, std::nullopt) << joined->toStdString();
        ASSERT_EQ(offering.get(), std::nullopt);
        EXPECT_EQ(join->confirmationBytes().size(), Pairing::confirmationSize);
        EXPECT_EQ(join->confirmationBytes(), offer->confirmationBytes());
        ASSERT_EQ(offer->sendKey(), std::nullopt);
        if (row.kind == Kind::notTheAccountsKey) {
            // A third computer changed the account's key meanwhile.
            const HistoryKey replacing = HistoryKey::generate();
            ASSERT_TRUE(desktopCalls.setEncryption(key.id(), replacing.id(), replacing.verifier()).ok());
            EXPECT_TRUE(
                Pairing::offer(desktop, key)->open().value_or("").contains("no longer the account's"));
        }
        if (row.kind == Kind::tamperedKey) {
            ASSERT_TRUE(sharedPostgresCluster().adminSQL(
                "UPDATE snipjar_service.pairing_slots SET body = set_byte(body, 40, get_byte(body, 40) # 1) "
                "WHERE slot = 'key' AND account_id = " +
                desktop.accountId));
        }
        const auto received = join->receiveKey();
        if (row.refusal == nullptr) {
            ASSERT_TRUE(std::holds_alternative<HistoryKey>(received));
            EXPECT_TRUE(std::get<HistoryKey>(received) == key);
        } else {
            ASSERT_TRUE(std::holds_alternative<QString>(received));
            EXPECT_TRUE(std::get<QString>(received).contains(row.refusal))
                << std::get<QString>(received).toStdString();
        }
    }
}

TEST(AccountEncryptionTest, GuessingMailboxNamesIsCutOff) {
    const ServiceAccount laptop = server().newAccount("guessing");
    ServiceAccountCalls calls(laptop);
    for (int guess = 0; guess < 20; ++guess) {
        EXPECT_EQ(calls.read(QStringLiteral("guessed-mailbox-%1").arg(guess), "offer", 0).error().code,
                  CloudErrorCode::unknownItem);
    }
    EXPECT_EQ(calls.read("guessed-mailbox-last", "offer", 0).error().code, CloudErrorCode::limitExceeded);
    const auto joined = Pairing::join(laptop, "7K3M-9QXF-2HPR")->connect();
    ASSERT_TRUE(joined.has_value());
    EXPECT_TRUE(joined->contains("Too many pairing attempts")) << joined->toStdString();
}

} // namespace
} // namespace snipjar::test
