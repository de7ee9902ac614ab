#include "EventLoopWait.h"
#include "PostgresCluster.h"
#include "ServiceServer.h"
#include "SyncProfile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <iostream>

using namespace snipjar::test;
using namespace std::chrono_literals;

namespace {

constexpr auto syncTimeout = 90s;

const QString password = QStringLiteral("password-1");

// Two computers of one sync user and their snipjar-server, each signed in through the command line.
class SyncEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
        ASSERT_TRUE(server.start());
        // The test's own device of the account gives the server's address.
        const snipjar::cloud::ServiceAccount account = server.newAccount(QStringLiteral("e2e"));
        address = account.server.toString();
        user = server.userOf(account);
        for (SyncProfile* profile : {&first, &second}) {
            ASSERT_TRUE(profile->startDisplay()) << profile->error().toStdString();
            // A wrong password signs nothing in; the right one does.
            ASSERT_EQ(profile->signIn(address, user, QStringLiteral("wrong")), 1);
            ASSERT_EQ(profile->signIn(address, user, password), 0);
            ASSERT_TRUE(profile->startSnipjar()) << profile->error().toStdString();
        }
    }

    void TearDown() override {
        if (HasFailure()) {
            std::cerr << first.log().constData() << '\n' << second.log().constData() << std::endl;
        }
    }

    // How many server rows (records, or assets) hold the text among their bytes.
    int serverRowsHolding(const QString& text) {
        QString literal = text;
        literal.replace(QLatin1Char('\''), QStringLiteral("''"));
        const std::optional<QString> count = cluster.adminSQL(
            QStringLiteral(
                "SELECT (SELECT count(*) FROM snipjar_service.records WHERE position(convert_to('%1', "
                "'UTF8') in fields) > 0) + (SELECT count(*) FROM snipjar_service.asset_chunks WHERE "
                "position(convert_to('%1', 'UTF8') in data) > 0)")
                .arg(literal));
        return count ? count->toInt() : -1;
    }

    int devices() {
        return cluster.adminSQL(QStringLiteral("SELECT count(*) FROM snipjar_service.devices"))
            .value_or(QStringLiteral("-1"))
            .toInt();
    }

    PostgresCluster cluster;
    ServiceServer server{cluster};
    QString address;
    QString user;
    SyncProfile first{QStringLiteral("first computer"),
                      QStringLiteral("1E2E0001-0000-4000-8000-000000000001")};
    SyncProfile second{QStringLiteral("second computer"),
                       QStringLiteral("1E2E0002-0000-4000-8000-000000000002")};
};

} // namespace

// A secret and a file copy stay on the computer they were made on: the server never holds their
// bytes, while the ordinary copy made after them reaches it and the other computer. A copy on either
// computer shows up on the other with the id of the computer it was made on, and a deletion on the
// second removes it from the first. Signing out revokes the computer's token on the server.
TEST_F(SyncEndToEnd, CopiesTravelWithTheirComputersIdSecretsAndFilesNeverAndDeletionsComeBack) {
    const QString secret = QStringLiteral("hunter2-e2e-secret");
    QProcess* secretOwner =
        first.copyWithOwner({QStringLiteral("UTF8_STRING"), secret,
                             QStringLiteral("x-kde-passwordManagerHint"), QStringLiteral("secret")});
    // The first computer has looked at the copy (its hint, or its text were it not a secret) before
    // anything else is copied.
    QByteArray requests;
    ASSERT_TRUE(waitUntil(
        [&] {
            requests += secretOwner->readAllStandardOutput();
            return requests.contains("request x-kde-passwordManagerHint") ||
                   requests.contains("request UTF8_STRING");
        },
        syncTimeout));
    QTemporaryDir files;
    const QString path = files.filePath(QStringLiteral("quarterly-e2e-report.pdf"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("%PDF-1.4");
    }
    const QString uri = QUrl::fromLocalFile(path).toString();
    first.copyWithOwner({QStringLiteral("text/uri-list"), uri + QStringLiteral("\r\n"),
                         QStringLiteral("x-special/gnome-copied-files"), QStringLiteral("copy\n") + uri});
    const auto fileRow = [&] {
        for (const QJsonValue& row : first.list()) {
            if (row.toObject().value(QStringLiteral("kind")).toString() == QLatin1String("file")) {
                return row.toObject();
            }
        }
        return QJsonObject();
    };
    ASSERT_TRUE(waitUntil([&] { return !fileRow().isEmpty(); }, syncTimeout));
    EXPECT_EQ(fileRow().value(QStringLiteral("store")).toString(), QStringLiteral("local-only"));
    const QString text = QStringLiteral("copied on the first computer");
    first.copyWithXclip(text.toUtf8());
    ASSERT_TRUE(waitUntil([&] { return serverRowsHolding(text) > 0; }, syncTimeout));
    ASSERT_TRUE(waitUntil([&] { return !second.rowTitled(text).isEmpty(); }, syncTimeout));
    // Anything sent from the first computer has been sent by now, in order.
    EXPECT_EQ(serverRowsHolding(secret), 0);
    EXPECT_EQ(serverRowsHolding(path), 0);
    EXPECT_EQ(serverRowsHolding(QStringLiteral("quarterly-e2e-report")), 0);
    EXPECT_TRUE(first.rowTitled(secret).isEmpty());
    EXPECT_EQ(second.list().size(), 1);
    const QJsonObject arrived = second.rowTitled(text);
    EXPECT_EQ(arrived.value(QStringLiteral("device")).toString(), first.deviceID());
    EXPECT_EQ(arrived.value(QStringLiteral("store")).toString(), QStringLiteral("synced"));
    EXPECT_EQ(first.rowTitled(text).value(QStringLiteral("device")).toString(), first.deviceID());
    // And the other way, with the second computer's own id.
    const QString reply = QStringLiteral("copied on the second computer");
    second.copyWithXclip(reply.toUtf8());
    ASSERT_TRUE(waitUntil([&] { return !first.rowTitled(reply).isEmpty(); }, syncTimeout));
    EXPECT_EQ(first.rowTitled(reply).value(QStringLiteral("device")).toString(), second.deviceID());
    int exitCode = -1;
    second.run({QStringLiteral("delete"), arrived.value(QStringLiteral("id")).toString()}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(second.rowTitled(text).isEmpty());
    EXPECT_TRUE(waitUntil([&] { return first.rowTitled(text).isEmpty(); }, syncTimeout));
    const int signedIn = devices();
    second.run({QStringLiteral("sync"), QStringLiteral("sign-out")}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(devices(), signedIn - 1);
    EXPECT_EQ(second.run({QStringLiteral("config"), QStringLiteral("syncServer")}).trimmed(),
              address.toUtf8());
    EXPECT_TRUE(
        waitUntil([&] { return second.run({QStringLiteral("status")}).contains("sync: off"); }, syncTimeout))
        << second.run({QStringLiteral("status")}).constData();
}
