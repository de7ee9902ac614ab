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

namespace {

// Generous: a check that never ends fails the test instead of hanging it; no check's duration is
// asserted.
constexpr int answerWaitMs = 10'000;

class UpdateCheckerTest : public ::testing::Test {
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
        if (finished.isEmpty()) {
            return UpdateOutcome::failed(QStringLiteral("no answer"));
        }
        return finished.takeFirst().at(0).value<UpdateOutcome>();
    }

    QByteArray feedFor(const char* version) const {
        return UpdateFeed::sign(test::SigningKey::release(QString::fromLatin1(version)), key.secretKey);
    }

    test::SigningKey key = test::SigningKey::generate();
    test::FeedServer server;
    std::chrono::milliseconds timeout = UpdateChecker::defaultTimeout;
};

} // namespace

// A verified feed is compared with the running version: only a higher version is an update, in
// semantic version order (a release is newer than its own pre-release).
TEST_F(UpdateCheckerTest, ComparesAVerifiedFeedWithTheRunningVersion) {
    ASSERT_TRUE(server.isListening());
    server.respond(200, feedFor("1.3.0"));
    const UpdateOutcome newer = checkAgainst("1.2.9");
    ASSERT_EQ(newer.kind, UpdateOutcome::Kind::Newer) << newer.message.toStdString();
    EXPECT_EQ(newer.info->version.toString(), QStringLiteral("1.3.0"));
    EXPECT_EQ(newer.info->downloadUrl, test::SigningKey::release(QStringLiteral("1.3.0")).downloadUrl);
    EXPECT_EQ(checkAgainst("1.3.0").kind, UpdateOutcome::Kind::UpToDate);
    EXPECT_EQ(checkAgainst("1.3.0+local.build").kind, UpdateOutcome::Kind::UpToDate);
    EXPECT_EQ(checkAgainst("1.10.0").kind, UpdateOutcome::Kind::UpToDate);
    EXPECT_EQ(checkAgainst("1.3.0-rc.1").kind, UpdateOutcome::Kind::Newer);
    EXPECT_EQ(server.requestCount(), 5);
}

// Whatever goes wrong on the way, the answer is one failure with a message, never an update: a
// malformed, cut-short or unsigned feed, an error status, and a server that never answers within
// the configured timeout.
TEST_F(UpdateCheckerTest, EveryBrokenAnswerFailsAndNeverCountsAsAnUpdate) {
    ASSERT_TRUE(server.isListening());
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
        EXPECT_FALSE(outcome.info.has_value()) << answer.what;
        EXPECT_FALSE(outcome.message.isEmpty()) << answer.what;
    }
    timeout = 200ms;
    server.respond(200, goodFeed, test::FeedServer::Behaviour::Silent);
    const UpdateOutcome slow = checkAgainst("1.0.0");
    EXPECT_EQ(slow.kind, UpdateOutcome::Kind::Failed);
    EXPECT_EQ(slow.message, QStringLiteral("The update server did not answer in time."));
}

// An address that would carry the feed in the clear over the network is refused before any
// request, and so is a check without a key.
TEST_F(UpdateCheckerTest, RefusesInsecureAddressesAndMissingKeys) {
    UpdateChecker checker;
    QSignalSpy finished(&checker, &UpdateChecker::finished);
    const auto running = *SemanticVersion::parse(u"1.0.0");
    checker.check(
        UpdateConfiguration{QUrl(QStringLiteral("http://updates.example.org/feed.json")), key.publicKey},
        running);
    // The answer comes from the event loop, never from inside check().
    EXPECT_TRUE(finished.isEmpty());
    ASSERT_TRUE(finished.wait(answerWaitMs));
    EXPECT_EQ(finished.takeFirst().at(0).value<UpdateOutcome>().kind, UpdateOutcome::Kind::Failed);
    checker.check(UpdateConfiguration{server.url(), QByteArray()}, running);
    ASSERT_TRUE(finished.wait(answerWaitMs));
    EXPECT_EQ(finished.takeFirst().at(0).value<UpdateOutcome>().kind, UpdateOutcome::Kind::Failed);
    EXPECT_EQ(server.requestCount(), 0);
}

// A download is kept only when it is exactly the file the signed feed announced. Other bytes of the
// same size, a longer file (never read much past the signed size) and a shorter one are one clear
// failure each and leave no file behind; the kept file is private to the user.
TEST_F(UpdateCheckerTest, KeepsADownloadOnlyWhenItIsTheSignedFile) {
    ASSERT_TRUE(server.isListening());
    const QByteArray signedFile = "the bytes of the release archive 9.0.0";
    UpdateInfo info = test::SigningKey::release(QStringLiteral("9.0.0"));
    info.downloadUrl = server.url().resolved(QUrl(QStringLiteral("snipjar-9.0.0.tar.xz")));
    QByteArray otherBytes = signedFile;
    otherBytes[0] = 'T';
    const struct {
        const char* what;
        QByteArray body;
    } answers[] = {
        {"the signed file", signedFile},
        {"other bytes", otherBytes},
        {"a longer file", signedFile + QByteArray(4 << 20, 'x')},
        {"a shorter file", signedFile.chopped(1)},
    };
    const QTemporaryDir folder;
    for (const auto& answer : answers) {
        server.respond(200, answer.body);
        UpdateDownload download;
        QSignalSpy finished(&download, &UpdateDownload::finished);
        download.start(info, folder.path());
        ASSERT_TRUE(finished.wait(answerWaitMs)) << answer.what;
        const auto result = finished.takeFirst().at(0).value<UpdateDownload::Result>();
        const QStringList left = QDir(folder.path()).entryList(QDir::Files);
        if (answer.body == signedFile) {
            ASSERT_TRUE(result) << result.message.toStdString();
            EXPECT_EQ(left, QStringList{QStringLiteral("snipjar-9.0.0.tar.xz")});
            QFile kept(result.path);
            EXPECT_EQ(kept.permissions() & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            EXPECT_TRUE(kept.open(QIODevice::ReadOnly) && kept.readAll() == signedFile);
            EXPECT_TRUE(kept.remove());
        } else {
            EXPECT_FALSE(result) << answer.what;
            EXPECT_TRUE(left.isEmpty()) << answer.what;
            EXPECT_EQ(result.message,
                      QStringLiteral("The downloaded file is not the one the update announced "
                                     "(its size or SHA-256 differs), so it was deleted."))
                << answer.what;
        }
    }
}
