// Rewriting an account's plain history sealed, killed halfway and run again, then once more for a
// change of key.
#include "sync/Reencryption.h"
#include "CloudBackends.h"
#include "sync/cloud/RecordSealer.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>

#include <iostream>

namespace snipjar::test {
namespace {

using namespace snipjar::cloud;
using sync::Reencryption;

const char* const accountVariable = "SNIPJAR_TEST_REENCRYPTION_ACCOUNT";
const char* const keyVariable = "SNIPJAR_TEST_REENCRYPTION_KEY";

int plainCount(CloudDatabase& raw) {
    const auto all = fetchAll(raw, std::nullopt);
    EXPECT_TRUE(all.has_value());
    return all ? int(std::count_if(all->modifications.begin(), all->modifications.end(),
                                   [](const CloudRecord& r) { return !r.bytes(RecordSealer::envelopeKey); }))
               : -1;
}

// Run by the test below as a child process, which it kills: rewrites and reports its progress.
TEST(Reencryption, DISABLED_RunForAParentThatKillsIt) {
    const QStringList account = qEnvironmentVariable(accountVariable).split('\n');
    const auto key = crypto::HistoryKey::fromBytes(QByteArray::fromHex(qgetenv(keyVariable)));
    ASSERT_TRUE(account.size() == 4 && key);
    Reencryption rewrite(std::make_shared<ServiceCloudDatabase>(
                             ServiceAccount{QUrl(account[0]), account[1], account[2], account[3], {}}),
                         *key, {}, {}, historyZone);
    rewrite.run(10, [](const Reencryption::Progress& progress) {
        std::cout << "rewritten " << progress.rewritten << std::endl;
    });
}

TEST(Reencryption, KilledHalfwayAndRunAgainLeavesNoPlainRecordAndEveryClipOpens) {
    ServiceServer& server = sharedServiceServer();
    const ServiceAccount account = server.newAccount("rewrite");
    auto raw = std::make_shared<ServiceCloudDatabase>(account);
    ASSERT_TRUE(raw->saveZone(historyZone).ok());
    QTemporaryDir folder;
    const QByteArray image = QByteArray("image bytes ").repeated(20'000);
    const QString imagePath = writeFile(folder.filePath("image"), image);
    constexpr int clips = 3000;
    QList<CloudRecord> batch;
    for (int i = 0; i < clips; ++i) {
        batch.append(textRecord(QStringLiteral("clip-%1").arg(i), QStringLiteral("plain clip %1").arg(i)));
        if (i % 500 == 0) {
            batch.last().setValue("image", Asset{imagePath});
        }
        if (batch.size() == 200) {
            auto saved = raw->modifyRecords(batch, {});
            ASSERT_TRUE(saved.ok() && saved.value().failedSaves.isEmpty());
            batch.clear();
        }
    }
    const QString pending = folder.filePath("reencryption-pending");
    ASSERT_TRUE(Reencryption::markPending(pending));

    const auto key = crypto::HistoryKey::generate();
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(
        accountVariable,
        QStringList{account.server.toString(), account.token, account.accountId, account.epoch}.join('\n'));
    environment.insert(keyVariable, QString::fromLatin1(key.bytes().toHex()));
    child.setProcessEnvironment(environment);
    child.start(
        QCoreApplication::applicationFilePath(),
        {"--gtest_filter=Reencryption.DISABLED_RunForAParentThatKillsIt", "--gtest_also_run_disabled_tests"});
    int rewritten = 0;
    while (rewritten < 600 && child.waitForReadyRead(60'000)) {
        while (child.canReadLine()) {
            const QByteArray line = child.readLine().trimmed();
            if (line.startsWith("rewritten ")) {
                rewritten = line.mid(10).toInt();
            }
        }
    }
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished();
    ASSERT_GE(rewritten, 600);
    const int left = plainCount(*raw);
    ASSERT_GT(left, 0);
    ASSERT_LT(left, clips - 500);
    ASSERT_TRUE(Reencryption::isPending(pending));

    // Run again after the crash: only what is still plain is rewritten.
    auto progress = Reencryption(raw, key, {}, {}, historyZone).run();
    ASSERT_TRUE(progress.ok());
    EXPECT_TRUE(progress.value().finished);
    EXPECT_LE(progress.value().rewritten, left);
    EXPECT_EQ(plainCount(*raw), 0);

    // Then a change of key rewrites everything with the new key, opening it with the old.
    const auto newKey = crypto::HistoryKey::generate();
    progress = Reencryption(raw, newKey, {key}, {}, historyZone).run();
    ASSERT_TRUE(progress.ok());
    EXPECT_TRUE(progress.value().finished);
    EXPECT_EQ(progress.value().rewritten, clips);
    EncryptedCloudDatabase opened(raw, newKey);
    const auto all = fetchAll(opened, std::nullopt);
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(opened.unreadableCount(), 0);
    ASSERT_EQ(all->modifications.size(), clips);
    for (const CloudRecord& record : all->modifications) {
        const int i = record.recordName().mid(5).toInt();
        EXPECT_EQ(record.string("text"), QStringLiteral("plain clip %1").arg(i));
        EXPECT_EQ(assetBytes(record, "image"), i % 500 == 0 ? image : QByteArray()) << i;
    }
}

} // namespace
} // namespace snipjar::test
