#include "app/update/UpdateFeed.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace snipjar;

namespace {

struct ToolRun {
    int status = -1;
    QByteArray output;
};

ToolRun runTool(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess tool;
    tool.start(QStringLiteral(SNIPJAR_SIGN_FEED_TOOL), arguments);
    tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(30'000)) {
        tool.kill();
        tool.waitForFinished();
        return {};
    }
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1, tool.readAllStandardOutput()};
}

} // namespace

// The release tool's whole road: a new key, its public key, a payload naming the download, and a
// printed feed that the application accepts with that public key and no other; a payload the
// application would refuse is not signed at all.
TEST(SignFeedTool, SignsFeedsTheApplicationAccepts) {
    QTemporaryDir folder;
    const QString keyPath = folder.filePath(QStringLiteral("release.key"));
    const ToolRun created = runTool({QStringLiteral("--new-key"), keyPath});
    ASSERT_EQ(created.status, 0);
    const QByteArray publicKey = QByteArray::fromBase64(created.output.trimmed());
    ASSERT_EQ(publicKey.size(), UpdateFeed::publicKeyBytes);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(keyPath).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_NE(runTool({QStringLiteral("--new-key"), keyPath}).status, 0);
    EXPECT_EQ(runTool({QStringLiteral("--public-key"), keyPath}).output, created.output);

    const QByteArray download(100'000, 'x');
    QFile file(folder.filePath(QStringLiteral("snipjar-2.1.0.tar.xz")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(download);
    file.close();
    const QByteArray payload = R"({"version": "2.1.0", "notesUrl": "https://example.org/2.1.0.html",
        "downloadUrl": "https://example.org/snipjar-2.1.0.tar.xz", "file": ")" +
                               file.fileName().toUtf8() + "\"}";
    const ToolRun signedFeed = runTool({keyPath, QStringLiteral("-")}, payload);
    ASSERT_EQ(signedFeed.status, 0);
    const UpdateFeed::Result feed = UpdateFeed::parse(signedFeed.output, publicKey);
    ASSERT_TRUE(feed) << feed.reason.toStdString();
    EXPECT_EQ(feed.info->version.toString(), QStringLiteral("2.1.0"));
    EXPECT_EQ(feed.info->size, download.size());
    EXPECT_EQ(feed.info->sha256,
              QString::fromLatin1(QCryptographicHash::hash(download, QCryptographicHash::Sha256).toHex()));
    QByteArray otherKey = publicKey;
    otherKey[0] = char(otherKey[0] ^ 1);
    EXPECT_FALSE(UpdateFeed::parse(signedFeed.output, otherKey));

    const ToolRun insecure = runTool({keyPath, QStringLiteral("-")},
                                     R"({"version": "2.1.0", "notesUrl": "https://example.org/n",
                                     "downloadUrl": "http://example.org/d", "sha256": ")" +
                                         QByteArray(64, 'a') + "\", \"size\": 5}");
    EXPECT_NE(insecure.status, 0);
    EXPECT_TRUE(insecure.output.isEmpty());
}
