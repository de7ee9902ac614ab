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
    UpdateOutcome checkAgainst(const char* running) {
        UpdateChecker checker;
        checker.setTimeout(timeout);
        QSignalSpy finished(&checker, &UpdateChecker::finished);
        checker.check(UpdateConfiguration{server.url(), key.publicKey},
                      *SemanticVersion::parse(QString::fromLatin1(running)));
        EXPECT_TRUE(finished.wait(answerWaitMs));
        EXPECT_FALSE(checker.isChecking());
        EXPECT_EQ(finished.size(), 1);
        return finished.isEmpty() ? UpdateOutcome{} : finished.takeFirst().at(0).value<UpdateOutcome>();
    }

    std::chrono::milliseconds timeout = UpdateChecker::defaultTimeout;
};

} // namespace

// Whatever goes wrong on the way (feed, status, a server silent past the timeout), the answer is
// one failure with a message, never an update.
TEST_F(UpdateCheckerTest, EveryBrokenAnswerFailsAndNeverCountsAsAnUpdate) {
    const QByteArray goodFeed = feedFor("9.0.0");
    // A feed the key did not sign stands for every feed that does not read (UpdateFeed's own tests).
    QByteArray unsignedFeed = goodFeed;
    unsignedFeed.replace("\"signature\"", "\"unsigned\"");
    const struct {
        const char* what;
        int status;
        QByteArray body;
        test::FeedServer::Behaviour behaviour;
    } answers[] = {
        {"malformed", 200, "<html>not a feed</html>", test::FeedServer::Behaviour::Answer},
        {"connection cut short", 200, goodFeed, test::FeedServer::Behaviour::CutShort},
        {"unsigned", 200, unsignedFeed, test::FeedServer::Behaviour::Answer},
        {"not found", 404, goodFeed, test::FeedServer::Behaviour::Answer},
        // Valid JSON and correctly signed, but far larger than any feed: not read to the end.
        {"oversized", 200, QByteArray(UpdateChecker::maximumFeedBytes, ' ') + goodFeed,
         test::FeedServer::Behaviour::Answer},
    };
    for (const auto& answer : answers) {
        server.respond(answer.status, answer.body, answer.behaviour);
        const UpdateOutcome outcome = checkAgainst("1.0.0");
        EXPECT_EQ(outcome.kind, UpdateOutcome::Kind::Failed) << answer.what;
        EXPECT_FALSE(outcome.message.isEmpty()) << answer.what;
    }
    timeout = 200ms;
    server.respond(200, goodFeed, test::FeedServer::Behaviour::Silent);
    const UpdateOutcome slow = checkAgainst("1.0.0");
    EXPECT_EQ(slow.kind, UpdateOutcome::Kind::Failed);
    EXPECT_EQ(slow.message, QStringLiteral("The update server did not answer in time."));
}

// A clear-text address or no key is refused before any request; a missing network module says so.
TEST_F(UpdateCheckerTest, RefusesInsecureAddressesMissingKeysAndAMissingNetworkModule) {
    UpdateChecker checker;
    QSignalSpy finished(&checker, &UpdateChecker::finished);
    const auto failureOf = [&](const QUrl& url, const QByteArray& publicKey) {
        checker.check(UpdateConfiguration{url, publicKey}, *SemanticVersion::parse(u"1.0.0"));
        // The answer comes from the event loop, never from inside check().
        EXPECT_TRUE(finished.isEmpty());
        EXPECT_TRUE(finished.wait(answerWaitMs));
        const auto outcome =
            finished.isEmpty() ? UpdateOutcome{} : finished.takeFirst().at(0).value<UpdateOutcome>();
        EXPECT_EQ(outcome.kind, UpdateOutcome::Kind::Failed);
        return outcome.message;
    };
    failureOf(QUrl(QStringLiteral("http://updates.example.org/feed.json")), key.publicKey);
    failureOf(server.url(), QByteArray());
    checker.setHttpModuleLoader(missingModule);
    EXPECT_TRUE(failureOf(server.url(), key.publicKey).contains(u"network module is missing"));
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
