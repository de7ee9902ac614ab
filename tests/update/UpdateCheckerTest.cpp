#include "app/update/UpdateChecker.h"
#include "UpdateTestSupport.h"
#include "app/update/UpdateDownload.h"
#include "app/update/UpdateFeed.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace snipjar;
using namespace std::chrono_literals;

using test::answerWaitMs;

namespace {

const HttpModuleLoader missingModule = []() -> const HttpModule* { return nullptr; };

class UpdateCheckerTest : public test::FeedTest {
protected:
    // One check of version 1.0.0 against the feed at the address, by a checker of its own.
    UpdateOutcome check(const UpdateConfiguration& configuration) {
        UpdateChecker checker;
        checker.setTimeout(timeout);
        checker.setHttpModuleLoader(loader);
        QSignalSpy finished(&checker, &UpdateChecker::finished);
        checker.check(configuration, *SemanticVersion::parse(u"1.0.0"));
        // The answer comes from the event loop, never from inside check().
        EXPECT_TRUE(finished.isEmpty());
        EXPECT_TRUE(finished.wait(answerWaitMs));
        EXPECT_FALSE(checker.isChecking());
        EXPECT_EQ(finished.size(), 1);
        return finished.isEmpty() ? UpdateOutcome{} : finished.takeFirst().at(0).value<UpdateOutcome>();
    }
    UpdateOutcome checkServed() { return check({server.url(), key.publicKey}); }

    std::chrono::milliseconds timeout = UpdateChecker::defaultTimeout;
    HttpModuleLoader loader = &HttpModule::loaded;
};

} // namespace

// Whatever goes wrong on the way (feed, status, a server silent past the timeout), the answer is
// one failure with a message, never an update.
TEST_F(UpdateCheckerTest, EveryBrokenAnswerFailsAndNeverCountsAsAnUpdate) {
    const QByteArray goodFeed = feedFor("9.0.0");
    const struct {
        const char* what;
        int status;
        QByteArray body;
        test::FeedServer::Behaviour behaviour;
    } answers[] = {
        {"malformed", 200, "<html>not a feed</html>", test::FeedServer::Behaviour::Answer},
        {"connection cut short", 200, goodFeed, test::FeedServer::Behaviour::CutShort},
        {"not found", 404, goodFeed, test::FeedServer::Behaviour::Answer},
        // Valid JSON and correctly signed, but far larger than any feed: not read to the end.
        {"oversized", 200, QByteArray(UpdateChecker::maximumFeedBytes, ' ') + goodFeed,
         test::FeedServer::Behaviour::Answer},
    };
    for (const auto& answer : answers) {
        server.respond(answer.status, answer.body, answer.behaviour);
        const UpdateOutcome outcome = checkServed();
        EXPECT_EQ(outcome.kind, UpdateOutcome::Kind::Failed) << answer.what;
        EXPECT_FALSE(outcome.message.isEmpty()) << answer.what;
    }
    timeout = 200ms;
    server.respond(200, goodFeed, test::FeedServer::Behaviour::Silent);
    const UpdateOutcome slow = checkServed();
    EXPECT_EQ(slow.kind, UpdateOutcome::Kind::Failed);
    EXPECT_EQ(slow.message, QStringLiteral("The update server did not answer in time."));
}

// A clear-text address or no key is refused before any request; a missing network module says so.
TEST_F(UpdateCheckerTest, RefusesInsecureAddressesMissingKeysAndAMissingNetworkModule) {
    EXPECT_EQ(check({QUrl(QStringLiteral("http://updates.example.org/feed.json")), key.publicKey}).kind,
              UpdateOutcome::Kind::Failed);
    EXPECT_EQ(check({server.url(), QByteArray()}).kind, UpdateOutcome::Kind::Failed);
    loader = missingModule;
    const UpdateOutcome missing = checkServed();
    EXPECT_EQ(missing.kind, UpdateOutcome::Kind::Failed);
    EXPECT_TRUE(missing.message.contains(u"network module is missing"));
    EXPECT_EQ(server.requestCount(), 0);
}

// A download is kept, private, only when it is exactly the signed file; anything else is one clear
// failure and leaves no file behind.
TEST_F(UpdateCheckerTest, KeepsADownloadOnlyWhenItIsTheSignedFile) {
    const QByteArray signedFile = "the bytes of the release archive 9.0.0";
    UpdateInfo info = test::SigningKey::release(QStringLiteral("9.0.0"));
    info.downloadUrl = server.url().resolved(QUrl(QStringLiteral("snipjar-9.0.0.tar.xz")));
    QByteArray otherBytes = signedFile;
    otherBytes[0] = 'T';
    const char* notSigned = "is not the one the update announced (its size or SHA-256 differs)";
    const struct {
        const char* what;
        QByteArray body;
        const char* failure;
        HttpModuleLoader loader = &HttpModule::loaded;
    } answers[] = {
        {"the signed file", signedFile, nullptr},
        {"other bytes", otherBytes, notSigned},
        {"a longer file", signedFile + QByteArray(4 << 20, 'x'), notSigned},
        {"a shorter file", signedFile.chopped(1), notSigned},
        {"no network module", signedFile, "network module is missing", missingModule},
    };
    const QTemporaryDir folder;
    for (const auto& answer : answers) {
        server.respond(200, answer.body);
        UpdateDownload download;
        download.setHttpModuleLoader(answer.loader);
        QSignalSpy finished(&download, &UpdateDownload::finished);
        download.start(info, folder.path());
        ASSERT_TRUE(finished.wait(answerWaitMs)) << answer.what;
        const auto result = finished.takeFirst().at(0).value<UpdateDownload::Result>();
        const QStringList left = QDir(folder.path()).entryList(QDir::Files);
        if (!answer.failure) {
            ASSERT_TRUE(result) << result.message.toStdString();
            EXPECT_EQ(left, QStringList{QStringLiteral("snipjar-9.0.0.tar.xz")});
            QFile kept(result.path);
            EXPECT_EQ(kept.permissions() & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            EXPECT_TRUE(kept.open(QIODevice::ReadOnly) && kept.readAll() == signedFile);
            EXPECT_TRUE(kept.remove());
        } else {
            EXPECT_FALSE(result) << answer.what;
            EXPECT_TRUE(left.isEmpty()) << answer.what;
            EXPECT_TRUE(result.message.contains(QLatin1String(answer.failure))) << answer.what;
        }
    }
}
