#include "EventLoopWait.h"
#include "PostgresCluster.h"
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

const QString user = QStringLiteral("e2e_user");
const QString password = QStringLiteral("correct-e2e-password");

// Two computers of one sync user and their server.
class SyncEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
        ASSERT_TRUE(cluster.addUser(user, password)) << cluster.error().toStdString();
        for (SyncProfile* profile : {&first, &second}) {
            ASSERT_TRUE(profile->startDisplay()) << profile->error().toStdString();
            ASSERT_TRUE(profile->configureSync(cluster.socketURI(user), user, password));
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
                "SELECT (SELECT count(*) FROM snipjar.records WHERE position(convert_to('%1', 'UTF8') "
                "in fields) > 0) + (SELECT count(*) FROM snipjar.assets WHERE position(convert_to('%1', "
                "'UTF8') in data) > 0)")
                .arg(literal));
        return count ? count->toInt() : -1;
    }

    PostgresCluster cluster;
    SyncProfile first{QStringLiteral("first computer"),
                      QStringLiteral("1E2E0001-0000-4000-8000-000000000001")};
    SyncProfile second{QStringLiteral("second computer"),
                       QStringLiteral("1E2E0002-0000-4000-8000-000000000002")};
};

} // namespace

// A secret and a file copy stay on the computer they were made on: the server never holds their
// bytes, while the ordinary copy made after them reaches it and the other computer. A copy on either
// computer shows up on the other with the id of the computer it was made on, and a deletion on the
// second removes it from the first.
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
}
