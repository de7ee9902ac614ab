// The sync service's own rules beyond the conformance suite: accounts apart whatever is crafted,
// device revocation, limits, pruning, restarts, and what the client makes of hostile pages; the
// account's encryption state, and pairing a computer through it.
#include "ClipStoreTestSupport.h"
#include "CloudBackends.h"
#include "EventLoopWait.h"
#include "TestEnvironment.h"
#include "platform/AppPaths.h"
#include "sync/cloud/service/ServiceAccountCalls.h"
#include "sync/pairing/Pairing.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <signal.h>

#include <future>

namespace snipjar::test {
namespace {

using namespace snipjar::cloud;
using crypto::HistoryKey;
using sync::Pairing;

class ServiceCloudDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        alice = server().newAccount("alice");
        database = std::make_unique<ServiceCloudDatabase>(alice);
        ASSERT_TRUE(database->saveZone(historyZone).ok());
    }

    static ServiceServer& server() { return sharedServiceServer(); }

    ServiceAccount alice;
    std::unique_ptr<ServiceCloudDatabase> database;
    QTemporaryDir folder;
};

// The code a call ended with: its own failure, or that of its first refused record.
int codeOf(const CloudResult<QJsonObject>& result) {
    if (!result) {
        return static_cast<int>(result.error().code);
    }
    for (const char* list : {"failedSaves", "failedDeletes"}) {
        const QJsonArray failed = result.value().value(list).toArray();
        if (!failed.isEmpty()) {
            return failed[0].toObject().value("error").toObject().value("code").toInt();
        }
    }
    return 0;
}

TEST_F(ServiceCloudDatabaseTest, AccountsCannotReachEachOthersRecordsAssetsDevicesOrNotices) {
    CloudRecord record = textRecord("clip-1", "alice's");
    record.setValue("image", Asset{writeFile(folder.filePath("image"), QByteArray(5000, 'i'))});
    ASSERT_TRUE(database->modifyRecords({record}, {}).ok());
    ServiceHttp aliceHttp(alice);
    const auto page = aliceHttp.call("GET", "/v1/zones/SnipjarHistory/changes");
    ASSERT_TRUE(page.ok());
    const QJsonValue aliceRecord = page.value().value("records")[0];
    const QString assetId = aliceRecord["assets"]["image"]["id"].toString();
    const QString deviceId =
        aliceHttp.call("GET", "/v1/devices").value().value("devices")[0]["id"].toString();

    ServiceAccountCalls aliceCalls(alice);
    const QString mailbox = QStringLiteral("alices-mailbox-0123");
    ASSERT_TRUE(aliceCalls.setEncryption({}, "k-alice", QByteArray(32, 'v')).ok());
    ASSERT_TRUE(aliceCalls.openMailbox(mailbox).ok());
    ASSERT_TRUE(aliceCalls.post(mailbox, "offer", "alice's public key").ok());

    const ServiceAccount bob = server().newAccount("bob");
    ServiceCloudDatabase bobDatabase(bob);
    ASSERT_TRUE(bobDatabase.saveZone(historyZone).ok());
    std::atomic<int> bobNotices = 0;
    auto bobSubscription = bobDatabase.subscribe([&] { ++bobNotices; });
    ASSERT_TRUE(waitUntil([&] { return bobNotices > 0; })) << "the socket connected";
    ServiceHttp bobHttp(bob);
    const auto save = [](const QJsonObject& extra) {
        QJsonObject saved{
            {"zone", "SnipjarHistory"}, {"name", "clip-1"}, {"type", "ClipItem"}, {"fields", ""}};
        for (auto it = extra.begin(); it != extra.end(); ++it) {
            saved.insert(it.key(), it.value());
        }
        return QJsonObject{{"saves", QJsonArray{saved}}};
    };
    const auto unknown = CloudErrorCode::unknownItem;
    const auto changed = CloudErrorCode::serverRecordChanged;
    const struct {
        const char* what;
        QByteArray verb;
        QString path;
        QJsonObject body;
        CloudErrorCode expected;
    } crafted[] = {
        {"Alice's asset id", "GET", "/v1/assets/" + assetId, {}, unknown},
        {"Alice's record with her tag", "POST", "/v1/records/modify", save({{"tag", aliceRecord["tag"]}}),
         unknown},
        {"Alice's asset in a save", "POST", "/v1/records/modify",
         save({{"name", "clip-2"}, {"assets", QJsonObject{{"image", assetId}}}}),
         CloudErrorCode::invalidArguments},
        {"Alice's record deleted",
         "POST",
         "/v1/records/modify",
         {{"deletions", QJsonArray{QJsonObject{{"zone", "SnipjarHistory"}, {"name", "clip-1"}}}}},
         unknown},
        {"Alice's device revoked", "DELETE", "/v1/devices/" + deviceId, {}, unknown},
        {"a zone Bob never made", "GET", "/v1/zones/Other/changes", {}, CloudErrorCode::zoneNotFound},
        {"an escaped path", "GET", "/v1/zones/..%2FSnipjarHistory/changes", {}, CloudErrorCode::zoneNotFound},
        {"Alice's key id as the one replaced",
         "PUT",
         "/v1/account/encryption",
         {{"previous", "k-alice"}, {"keyId", "k-bob"}, {"verifier", QString(QByteArray(32, 'b').toBase64())}},
         changed},
        {"Alice's encryption turned off", "DELETE", "/v1/account/encryption?keyId=k-alice", {}, changed},
        {"Alice's mailbox read", "GET", "/v1/pairing/" + mailbox + "/offer", {}, unknown},
        {"Alice's mailbox answered",
         "PUT",
         "/v1/pairing/" + mailbox + "/answer",
         {{"body", "AAAA"}},
         unknown},
        {"Alice's mailbox closed", "DELETE", "/v1/pairing/" + mailbox, {}, unknown},
    };
    for (const auto& row : crafted) {
        EXPECT_EQ(codeOf(bobHttp.call(row.verb, row.path, row.body)), static_cast<int>(row.expected))
            << row.what;
    }
    // Alice's account id with Bob's secret is no token at all.
    ServiceAccount forged = bob;
    forged.token = alice.accountId + bob.token.mid(bob.token.indexOf('.'));
    EXPECT_EQ(codeOf(ServiceHttp(forged).call("GET", "/v1/account")), int(CloudErrorCode::notAuthenticated));
    EXPECT_FALSE(ServiceAccountCalls(bob).encryption().value().enabled()) << "Bob sees his own state only";
    EXPECT_EQ(aliceCalls.encryption().value().keyId, "k-alice");
    EXPECT_EQ(aliceCalls.read(mailbox, "offer", 0).value(), QByteArray("alice's public key"));

    settle(std::chrono::milliseconds(300));
    const int bobHeard = bobNotices;
    ASSERT_TRUE(database->modifyRecords({textRecord("clip-3", "more")}, {}).ok());
    settle(std::chrono::milliseconds(500));
    EXPECT_EQ(bobNotices, bobHeard) << "Bob hears nothing of Alice's changes";
    // Alice's record and asset are as she left them.
    const auto alices = fetchAll(*database, std::nullopt);
    const CloudRecord mine = byName(alices.modifications).value("clip-1");
    EXPECT_EQ(alices.modifications.size(), 2);
    EXPECT_EQ(mine.string("text"), QString("alice's"));
    EXPECT_EQ(assetBytes(mine, "image"), QByteArray(5000, 'i'));
}

TEST_F(ServiceCloudDatabaseTest, WrongPasswordsAreRateLimitedPerAccountWhetherSigningInOrChecking) {
    const QString user = server().userOf(alice);
    ServiceAccountCalls calls(alice);
    EXPECT_TRUE(calls.verifyPassword("password-1").ok());
    // A device token is no way around the sign-in limits: the check counts with them.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const CloudStatus wrong =
            attempt % 2 == 0 ? calls.verifyPassword("guessed")
                             : CloudStatus(signInToService(alice.server, user, "guessed", "thief").error());
        ASSERT_FALSE(wrong.ok());
        EXPECT_EQ(wrong.error().code,
                  attempt % 2 == 0 ? CloudErrorCode::permissionFailure : CloudErrorCode::notAuthenticated);
    }
    const auto locked = signInToService(alice.server, user, "password-1", "laptop");
    ASSERT_FALSE(locked.ok()) << "even the right password waits for the window to end";
    EXPECT_EQ(locked.error().code, CloudErrorCode::limitExceeded);
    EXPECT_EQ(calls.verifyPassword("password-1").error().code, CloudErrorCode::limitExceeded);
    EXPECT_TRUE(ServiceHttp(alice).call("GET", "/v1/account").ok()) << "signed-in devices go on";
}

TEST_F(ServiceCloudDatabaseTest, ARevokedDeviceIsRefusedAtOnceAndItsSocketClosed) {
    const ServiceAccount laptop = server().signIn(server().userOf(alice));
    QWebSocket socket;
    QNetworkRequest request(QUrl(laptop.server.toString().replace("http:", "ws:") + "/v1/push"));
    request.setRawHeader("Authorization", "Bearer " + laptop.token.toLatin1());
    bool closed = false;
    QObject::connect(&socket, &QWebSocket::disconnected, [&] { closed = true; });
    socket.open(request);
    ASSERT_TRUE(waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
    ServiceHttp desktop(alice);
    const QJsonArray devices = desktop.call("GET", "/v1/devices").value().value("devices").toArray();
    ASSERT_EQ(devices.size(), 2);
    const QString laptopId = devices[devices[0]["current"].toBool() ? 1 : 0]["id"].toString();
    ASSERT_TRUE(desktop.call("DELETE", "/v1/devices/" + laptopId).ok());
    EXPECT_EQ(codeOf(ServiceHttp(laptop).call("GET", "/v1/account")), int(CloudErrorCode::notAuthenticated));
    EXPECT_TRUE(waitUntil([&] { return closed; }, 5000)) << "the revoked device's socket is closed";
    EXPECT_TRUE(desktop.call("GET", "/v1/account").ok()) << "the other device stays signed in";
    // One account cannot hold the server's sockets: past its share, a socket is closed at once.
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    int open = 0;
    request.setRawHeader("Authorization", "Bearer " + alice.token.toLatin1());
    for (int i = 0; i < 21; ++i) {
        sockets.push_back(std::make_unique<QWebSocket>());
        QObject::connect(sockets.back().get(), &QWebSocket::connected, [&] { ++open; });
        sockets.back()->open(request);
    }
    EXPECT_TRUE(waitUntil([&] {
        return open == 21 && std::count_if(sockets.begin(), sockets.end(), [](const auto& s) {
                                 return s->state() == QAbstractSocket::UnconnectedState;
                             }) == 1;
    })) << "twenty sockets stay, the twenty-first is closed";
}

TEST_F(ServiceCloudDatabaseTest, QuotaSizeAndConnectionLimitsRefuseWhatPassesThem) {
    ASSERT_TRUE(server().admin({"set-quota", server().userOf(alice), "200000"}));
    const auto bigRecord = [](const QString& name, qsizetype size) {
        CloudRecord record = textRecord(name, "big");
        record.setValue("blob", QByteArray(size, 'b'));
        return record;
    };
    const auto assetFile = [&](const QString& name, qsizetype size) {
        CloudRecord record = textRecord(name, "with an asset");
        record.setValue("image", Asset{writeFile(folder.filePath(name), QByteArray(size, 'a'))});
        return record;
    };
    const struct {
        const char* what;
        CloudRecord record;
        const char* description; // of the refused record; none when the whole call fails
    } cases[] = {
        {"fields past the quota", bigRecord("clip-fields", 300000), "quota exceeded"},
        {"an asset past the quota", assetFile("clip-asset", 300000), "quota exceeded"},
        {"an asset past the size limit", assetFile("clip-huge-asset", 3 * ServiceServer::maxRequestBytes),
         "the request is too large"},
        {"a request past the size limit", bigRecord("clip-huge", ServiceServer::maxRequestBytes), nullptr},
    };
    for (const auto& row : cases) {
        if (row.description == nullptr) {
            ASSERT_TRUE(server().admin({"set-quota", server().userOf(alice), "100000000"}));
        }
        const auto outcome = database->modifyRecords({row.record, textRecord("clip-small", row.what)}, {});
        if (row.description == nullptr) {
            ASSERT_FALSE(outcome.ok()) << row.what;
            EXPECT_EQ(outcome.error().code, CloudErrorCode::limitExceeded) << row.what;
            EXPECT_FALSE(outcome.error().isTransient()) << row.what;
            continue;
        }
        ASSERT_TRUE(outcome.ok()) << row.what;
        ASSERT_EQ(outcome.value().failedSaves.size(), 1) << row.what;
        EXPECT_EQ(outcome.value().failedSaves[0].second.code, CloudErrorCode::limitExceeded) << row.what;
        EXPECT_EQ(outcome.value().failedSaves[0].second.description, row.description) << row.what;
        EXPECT_EQ(outcome.value().saved.size(), 1) << "the other record of " << row.what;
        ASSERT_TRUE(database->modifyRecords({}, {textRecord("clip-small", "").recordID()}).ok());
    }
    EXPECT_TRUE(database->modifyRecords({textRecord("clip-after", "fits")}, {}).ok());

    // Idle connections up to the cap: a new client is turned away, for a while, not for good.
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    for (int i = 0; i < ServiceServer::maxConnections; ++i) {
        flood.push_back(std::make_unique<QTcpSocket>());
        flood.back()->connectToHost(alice.server.host(), quint16(alice.server.port()));
        ASSERT_TRUE(flood.back()->waitForConnected(5000));
    }
    const auto turnedAway = ServiceCloudDatabase(alice).saveZone(historyZone);
    ASSERT_FALSE(turnedAway.ok());
    EXPECT_TRUE(turnedAway.error().isTransient());
    flood.clear();
    bool servedAgain = false;
    for (int attempt = 0; attempt < 50 && !servedAgain; ++attempt) {
        servedAgain = ServiceCloudDatabase(alice).saveZone(historyZone).ok();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(servedAgain);
}

TEST_F(ServiceCloudDatabaseTest, AFetchFromTheStartPassesEveryPageAfterAPrune) {
    QList<CloudRecord> records;
    for (int i = 0; i < 450; ++i) {
        records.append(textRecord(QStringLiteral("clip-%1").arg(i), "x"));
    }
    ASSERT_TRUE(database->modifyRecords(records, {}).ok());
    const auto before = fetchAll(*database, std::nullopt);
    QList<RecordID> doomed;
    for (int i = 400; i < 450; ++i) {
        doomed.append(records[i].recordID());
    }
    ASSERT_TRUE(database->modifyRecords({}, doomed).ok());
    EXPECT_GE(server().admin({"prune", "--retention-seconds", "0"}).value_or("").toInt(), 50);
    const auto fresh = fetchAll(*database, std::nullopt);
    EXPECT_GE(fresh.pages, 2);
    EXPECT_EQ(fresh.modifications.size(), 400);
    const auto expired = database->fetchChanges(historyZone, before.token);
    ASSERT_FALSE(expired.ok());
    EXPECT_EQ(expired.error().code, CloudErrorCode::changeTokenExpired);
    EXPECT_FALSE(expired.error().historyWentBack);
}

TEST_F(ServiceCloudDatabaseTest, FetchedAssetFilesArePrivateAndGoWithTheirPage) {
    TestEnvironment environment;
    CloudRecord record = textRecord("pay-2", "x", "ClipPayload");
    record.setValue("image", Asset{writeFile(folder.filePath("a.img"), "image bytes")});
    ASSERT_TRUE(database->modifyRecords({record}, {}).ok());
    auto page = database->fetchChanges(historyZone, std::nullopt);
    ASSERT_TRUE(page.ok());
    ASSERT_EQ(page.value().modifications.size(), 1);
    const QString fetched = page.value().modifications[0].asset("image")->filePath;
    // In the application's own cache, not the shared and often small system temporary folder.
    EXPECT_TRUE(fetched.startsWith(AppPaths::cacheFolder() + QLatin1Char('/'))) << fetched.toStdString();
    EXPECT_EQ(modeOf(fetched), 0600u);
    EXPECT_EQ(modeOf(QFileInfo(fetched).absolutePath()), 0700u);
    auto keeper = page.value().assetFiles;
    page = CloudError{};
    EXPECT_TRUE(QFile::exists(fetched)) << "a copy of the handle keeps the files";
    keeper.reset();
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(fetched).absolutePath())) << "the folder goes, with the files";
}

TEST_F(ServiceCloudDatabaseTest, RecordsWithDamagedFieldsAreSkippedAndTheRestDelivered) {
    saveAll(*database, {textRecord("clip-0", "ok"), textRecord("clip-1", "ok"), textRecord("clip-2", "ok"),
                        textRecord("clip-3", "ok")});
    // As a damaged or hostile server would send them: truncated CBOR, and a text where the field
    // map belongs.
    const std::pair<const char*, const char*> damages[] = {{"clip-1", "substring(fields from 1 for 5)"},
                                                           {"clip-2", "'\\x6568656c6c6f'"}};
    for (const auto& [name, value] : damages) {
        ASSERT_TRUE(sharedPostgresCluster().adminSQL(
            QStringLiteral("UPDATE snipjar_service.records SET fields = %1 WHERE account_id = %2 AND "
                           "record_name = '%3'")
                .arg(QLatin1String(value), alice.accountId, QLatin1String(name))));
    }
    const auto all = fetchAll(*database, std::nullopt);
    EXPECT_EQ(namesOf(all.modifications), (QSet<QString>{"clip-0", "clip-3"}));
}

TEST_F(ServiceCloudDatabaseTest, CancelStopsACallWaitingForAServerThatHangs) {
    const qint64 pid = server().processId();
    ASSERT_GT(pid, 0);
    ::kill(pid_t(pid), SIGSTOP);
    auto call = std::async(std::launch::async,
                           [&] { return database->modifyRecords({textRecord("clip-2", "2")}, {}); });
    EXPECT_EQ(call.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
    database->cancel();
    const auto outcome = call.get();
    ::kill(pid_t(pid), SIGCONT);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().code, CloudErrorCode::operationCancelled);
    EXPECT_TRUE(database->modifyRecords({textRecord("clip-3", "3")}, {}).ok()) << "the next call works";
}

TEST_F(ServiceCloudDatabaseTest, ARestartOfTheServiceOrItsDatabaseLosesNothing) {
    auto sender = std::async(std::launch::async, [account = alice] {
        ServiceCloudDatabase own(account);
        for (int batch = 0; batch < 20; ++batch) {
            QList<CloudRecord> records;
            for (int i = 0; i < 50; ++i) {
                records.append(textRecord(QStringLiteral("clip-%1-%2").arg(batch).arg(i), "x"));
            }
            // As the sync engine does: a transient failure sends the batch again.
            for (int attempt = 0; attempt < 100; ++attempt) {
                const auto outcome = own.modifyRecords(records, {});
                if (outcome.ok() || !outcome.error().isTransient()) {
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server().stop();
    ASSERT_TRUE(server().start());
    sender.get();
    const auto all = fetchAll(*database, std::nullopt);
    EXPECT_EQ(namesOf(all.modifications).size(), 1000);

    // The database restarts under the running service: its pooled connections are dead but still
    // look open, and not one call after the restart may be refused for them.
    ASSERT_TRUE(sharedPostgresCluster().restart());
    for (int call = 0; call < 8; ++call) {
        EXPECT_TRUE(database->modifyRecords({textRecord(QStringLiteral("after-%1").arg(call), "y")}, {}).ok())
            << "call " << call << " after the database restarted";
    }
}

TEST_F(ServiceCloudDatabaseTest, TlsIsRequiredOffLoopbackAndASelfSignedServerIsTrustedOnlyByItsFingerprint) {
    const auto init = server().admin({"init", "--self-signed", folder.path()});
    ASSERT_TRUE(init.has_value());
    const QString printed = init->section("fingerprint (SHA-256) ", 1).section('\n', 0, 0).remove(':');
    QProcess open;
    open.start(SNIPJAR_SERVER_BINARY,
               {"--database", server().databaseURI(), "serve", "--listen", "0.0.0.0:0"});
    ASSERT_TRUE(open.waitForFinished(10000));
    EXPECT_NE(open.exitCode(), 0) << "no certificate: refused off the loopback address";
    QProcess tls;
    tls.start(SNIPJAR_SERVER_BINARY,
              {"--database", server().databaseURI(), "serve", "--listen", "127.0.0.1:0", "--certificate",
               folder.filePath("server.crt"), "--key", folder.filePath("server.key")});
    ASSERT_TRUE(tls.waitForReadyRead(10000));
    const QString listening = QString::fromUtf8(tls.readLine()).trimmed();
    ASSERT_TRUE(listening.startsWith("listening on ")) << listening.toStdString();
    const QUrl url("https://" + listening.mid(13));
    const QString user = server().userOf(alice);
    QByteArray seen;
    const auto untrusted = signInToService(url, user, "password-1", "laptop", {}, &seen);
    ASSERT_FALSE(untrusted.ok());
    EXPECT_EQ(untrusted.error().code, CloudErrorCode::permissionFailure);
    EXPECT_EQ(seen.toHex().toUpper(), printed.toLatin1()) << "the fingerprint to compare with the operator's";
    EXPECT_FALSE(signInToService(url, user, "password-1", "laptop", QByteArray(32, 'x')).ok())
        << "another pin";
    const auto pinned = signInToService(url, user, "password-1", "laptop", seen);
    ASSERT_TRUE(pinned.ok());
    ServiceCloudDatabase overTls(
        {url, pinned.value().token, pinned.value().accountId, pinned.value().epoch, seen});
    std::atomic<int> notices = 0;
    auto subscription = overTls.subscribe([&] { ++notices; });
    EXPECT_TRUE(overTls.modifyRecords({textRecord("clip-tls", "x")}, {}).ok());
    EXPECT_TRUE(waitUntil([&] { return notices > 0; })) << "push over TLS";
    EXPECT_NE(overTls.accountIdentity(), database->accountIdentity()) << "another address, another server";
    EXPECT_TRUE(overTls.accountIdentity().endsWith(" account " + alice.accountId + " epoch " + alice.epoch));
    subscription.reset();
    tls.terminate();
    tls.waitForFinished();
}

TEST_F(ServiceCloudDatabaseTest, OfTwoComputersChangingEncryptionAtOnceOneWinsEvenOnTheFirstSchema) {
    // A database made by the first schema version is brought up to date by init.
    ASSERT_TRUE(sharedPostgresCluster().adminSQL(
        "DROP TABLE snipjar_service.pairing_slots, snipjar_service.pairing_mailboxes, "
        "snipjar_service.account_encryption; UPDATE snipjar_service.server SET schema_version = 1"));
    EXPECT_EQ(server().admin({"init"}).value_or(""), "schema migrated to version 2");
    EXPECT_EQ(server().admin({"init"}).value_or(""), "schema present");

    const ServiceAccount laptop = server().signIn(server().userOf(alice));
    std::atomic<int> notices = 0;
    auto subscription = database->subscribe([&] { ++notices; });
    ASSERT_TRUE(waitUntil([&] { return notices > 0; }));
    ServiceAccountCalls desktopCalls(alice);
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

    ServiceHttp http(alice);
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
        const QJsonObject body{{"previous", current}, {"keyId", row.keyId}, {"verifier", row.verifier}};
        EXPECT_EQ(codeOf(http.call("PUT", "/v1/account/encryption", body)), int(row.expected)) << row.what;
    }
    EXPECT_EQ(desktopCalls.clearEncryption("k-stale").error().code, CloudErrorCode::serverRecordChanged);
    ASSERT_TRUE(desktopCalls.clearEncryption(current).ok());
    EXPECT_FALSE(laptopCalls.encryption().value().enabled());
}

TEST_F(ServiceCloudDatabaseTest, PairingGivesTheAccountsKeyOnlyToTheComputerThatTypedTheCode) {
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

TEST_F(ServiceCloudDatabaseTest, GuessingMailboxNamesIsCutOff) {
    ServiceAccountCalls calls(alice);
    for (int guess = 0; guess < 20; ++guess) {
        EXPECT_EQ(calls.read(QStringLiteral("guessed-mailbox-%1").arg(guess), "offer", 0).error().code,
                  CloudErrorCode::unknownItem);
    }
    EXPECT_EQ(calls.read("guessed-mailbox-last", "offer", 0).error().code, CloudErrorCode::limitExceeded);
    const auto joined = Pairing::join(alice, "7K3M-9QXF-2HPR")->connect();
    ASSERT_TRUE(joined.has_value());
    EXPECT_TRUE(joined->contains("Too many pairing attempts")) << joined->toStdString();
}

} // namespace
} // namespace snipjar::test
