// The feed, the versions it names, the schedule and the configuration of update checks, and the
// release tool that signs feeds.
#include "app/update/UpdateFeed.h"
#include "TestEnvironment.h"
#include "UpdateTestSupport.h"
#include "app/update/UpdateConfiguration.h"
#include "app/update/UpdateSchedule.h"
#include "platform/UserSettings.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace snipjar {
// Failure messages name versions instead of dumping their bytes.
void PrintTo(const SemanticVersion& version, std::ostream* out) {
    *out << version.toString().toStdString();
}
} // namespace snipjar

using namespace snipjar;

namespace {

SemanticVersion v(const char* text) {
    const auto parsed = SemanticVersion::parse(QString::fromLatin1(text));
    EXPECT_TRUE(parsed.has_value()) << text;
    return parsed.value_or(SemanticVersion());
}

QJsonObject objectOf(const QByteArray& feed) {
    return QJsonDocument::fromJson(feed).object();
}

QByteArray bytesOf(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

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

// Semantic Versioning 2.0 precedence, numbers ordered numerically; what the grammar forbids is no version.
TEST(SemanticVersion, PrecedenceAndGrammar) {
    const char* ascending[] = {
        "0.9.9",      "0.10.0",       "1.0.0-alpha",   "1.0.0-alpha.1", "1.0.0-alpha.beta",
        "1.0.0-beta", "1.0.0-beta.2", "1.0.0-beta.11", "1.0.0-rc.1",    "1.0.0",
        "1.0.1",      "1.2.0",        "1.10.0",        "2.0.0",         "18446744073709551615.0.0"};
    for (size_t i = 0; i + 1 < std::size(ascending); ++i) {
        EXPECT_LT(v(ascending[i]), v(ascending[i + 1])) << ascending[i] << " < " << ascending[i + 1];
        EXPECT_GT(v(ascending[i + 1]), v(ascending[i])) << ascending[i + 1] << " > " << ascending[i];
    }
    // Build metadata never counts; numeric identifiers longer than any integer still compare.
    EXPECT_EQ(v("1.0.0+build.1"), v("1.0.0+build.2"));
    EXPECT_LT(v("1.0.0-99999999999999999999"), v("1.0.0-100000000000000000000"));
    EXPECT_EQ(v("1.0.0-rc.1+exp.sha.5114f85").toString(), QStringLiteral("1.0.0-rc.1+exp.sha.5114f85"));
    for (const char* text :
         {"", "1", "1.2", "1.2.3.4", "v1.2.3", "01.2.3", "1.02.3", "1.2.3-", "1.2.3-01", "1.2.3-a..b",
          "1.2.3+", "1.2.3-a_b", " 1.2.3", "1.2.-3", "1.2.3-beta+x+y", "99999999999999999999.0.0"}) {
        EXPECT_FALSE(SemanticVersion::parse(QString::fromLatin1(text)).has_value()) << text;
    }
    EXPECT_TRUE(SemanticVersion::parse(u"1.2.3-0.a-b.0a").has_value());
}

// Once a day after the last answered check; never checked, or a last check in the future (a clock
// set back), is due at once.
TEST(UpdateSchedule, DueOnceADay) {
    const QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    EXPECT_TRUE(UpdateSchedule::isDue(std::nullopt, now));
    EXPECT_FALSE(UpdateSchedule::isDue(now.addSecs(-23 * 3600 - 3599), now));
    EXPECT_TRUE(UpdateSchedule::isDue(now.addSecs(-24 * 3600), now));
    EXPECT_TRUE(UpdateSchedule::isDue(now.addSecs(60), now));
    EXPECT_FALSE(UpdateSchedule::isDue(now, now));
}

// A signed feed reads back field for field, also re-indented; the signature covers a fixed text
// that tools outside this program can rebuild.
TEST(UpdateFeed, SignedFeedReadsBack) {
    const auto key = test::SigningKey::generate();
    const UpdateInfo release = test::SigningKey::release(QStringLiteral("1.4.0-beta.2"));
    const QByteArray feed = UpdateFeed::sign(release, key.secretKey);
    for (const QByteArray& form : {feed, bytesOf(objectOf(feed))}) {
        const UpdateFeed::Result result = UpdateFeed::parse(form, key.publicKey);
        ASSERT_TRUE(result) << result.reason.toStdString();
        // The signed text names every field.
        EXPECT_EQ(UpdateFeed::signedText(*result.info), UpdateFeed::signedText(release));
    }
    EXPECT_EQ(
        UpdateFeed::signedText(release),
        "snipjar-update-feed-v1\nversion=1.4.0-beta.2\nnotesUrl=https://updates.example.org/snipjar/"
        "1.4.0-beta.2.html\ndownloadUrl=https://updates.example.org/snipjar/snipjar-1.4.0-beta.2.tar.xz\n"
        "sha256=" +
            release.sha256.toLatin1() + "\nsize=" + QByteArray::number(release.size) + "\n");
}

// Anything but a complete feed signed with the configured key is refused with a reason, and so is a
// signed feed with an insecure download address or a malformed digest.
TEST(UpdateFeed, RefusesWhatTheKeyDidNotSignAndUnusableValues) {
    const auto key = test::SigningKey::generate();
    const auto otherKey = test::SigningKey::generate();
    const QByteArray feed =
        UpdateFeed::sign(test::SigningKey::release(QStringLiteral("2.0.0")), key.secretKey);
    EXPECT_FALSE(UpdateFeed::parse(feed, otherKey.publicKey));
    const std::pair<const char*, QJsonValue> tampered[] = {
        {"version", QStringLiteral("2.0.1")},
        {"notesUrl", QStringLiteral("https://updates.example.org/snipjar/other.html")},
        {"downloadUrl", QStringLiteral("https://attacker.example.net/snipjar-2.0.0.tar.xz")},
        {"sha256", QString(64, u'0')},
        {"size", 1},
    };
    for (const auto& [field, value] : tampered) {
        QJsonObject object = objectOf(feed);
        object.insert(QLatin1String(field), value);
        const UpdateFeed::Result result = UpdateFeed::parse(bytesOf(object), key.publicKey);
        EXPECT_FALSE(result) << field;
        EXPECT_FALSE(result.reason.isEmpty()) << field;
    }
    QJsonObject unsignedFeed = objectOf(feed);
    unsignedFeed.remove(QLatin1String("signature"));
    EXPECT_EQ(UpdateFeed::parse(bytesOf(unsignedFeed), key.publicKey).reason,
              QStringLiteral("The update information is not signed."));
    QJsonObject damaged = objectOf(feed);
    damaged.insert(QLatin1String("signature"), QStringLiteral("not base64 !"));
    EXPECT_FALSE(UpdateFeed::parse(bytesOf(damaged), key.publicKey));
    const QByteArray whole = feed.trimmed();
    for (qsizetype length = 0; length < whole.size(); length += 7) {
        EXPECT_FALSE(UpdateFeed::parse(whole.left(length), key.publicKey)) << length;
    }
    EXPECT_FALSE(UpdateFeed::parse("[1, 2]", key.publicKey));
    EXPECT_FALSE(UpdateFeed::parse(feed, QByteArray()));
    UpdateInfo insecure = test::SigningKey::release(QStringLiteral("2.0.0"));
    insecure.downloadUrl = QUrl(QStringLiteral("http://updates.example.org/snipjar-2.0.0.tar.xz"));
    EXPECT_FALSE(UpdateFeed::parse(UpdateFeed::sign(insecure, key.secretKey), key.publicKey));
    UpdateInfo shortDigest = test::SigningKey::release(QStringLiteral("2.0.0"));
    shortDigest.sha256.chop(2);
    EXPECT_FALSE(UpdateFeed::parse(UpdateFeed::sign(shortDigest, key.secretKey), key.publicKey));
}

// A build without a feed address (a distribution's) offers no check whatever the settings say; one
// with it takes the settings' address and key over its own, unless they do not read as such.
TEST(UpdateConfiguration, SettingsOverrideOnlyABuildWithAFeed) {
    test::TestEnvironment environment;
    const auto key = test::SigningKey::generate();
    const auto builtKey = test::SigningKey::generate();
    const QString builtKeyText = QString::fromLatin1(builtKey.publicKey.toBase64());
    const QString builtUrl = QStringLiteral("https://updates.example.org/feed.json");
    const QUrl mirror(QStringLiteral("https://mirror.example.org/feed.json"));
    UserSettings::setValue(UserSettings::updateFeedURLKey, mirror.toString());
    UserSettings::setValue(UserSettings::updatePublicKeyKey, QString::fromLatin1(key.publicKey.toHex()));
    for (const UpdateConfiguration& distribution :
         {UpdateConfiguration::resolve({}, {}), UpdateConfiguration::resolve({}, builtKeyText)}) {
        EXPECT_FALSE(distribution.canCheck());
        EXPECT_EQ(distribution.menuItemText(), QStringLiteral("Updates Come from Your Package Manager"));
    }
    EXPECT_EQ(UpdateConfiguration::current().canCheck(), !QByteArray(SNIPJAR_UPDATE_FEED_URL).isEmpty());
    const UpdateConfiguration configured = UpdateConfiguration::resolve(builtUrl, builtKeyText);
    EXPECT_TRUE(configured.canCheck());
    EXPECT_EQ(configured.feedUrl, mirror);
    EXPECT_EQ(configured.publicKey, key.publicKey);
    EXPECT_EQ(configured.menuItemText(), QStringLiteral("Check for Updates…"));
    UserSettings::setValue(UserSettings::updatePublicKeyKey, QString::fromLatin1(key.publicKey.toBase64()));
    EXPECT_EQ(UpdateConfiguration::resolve(builtUrl, builtKeyText).publicKey, key.publicKey);
    for (const QString& badKey :
         {QString::fromLatin1(key.publicKey.left(31).toBase64()), QStringLiteral("zz"),
          QString::fromLatin1(key.publicKey.toHex()).chopped(1)}) {
        UserSettings::setValue(UserSettings::updatePublicKeyKey, badKey);
        EXPECT_FALSE(UserSettings::updatePublicKey().has_value()) << badKey.toStdString();
        EXPECT_EQ(UpdateConfiguration::resolve(builtUrl, builtKeyText).publicKey, builtKey.publicKey);
    }
    for (const QString& badUrl : {QStringLiteral("not an address"), QStringLiteral("ftp://example.org/feed"),
                                  QStringLiteral("/feed.json")}) {
        UserSettings::setValue(UserSettings::updateFeedURLKey, badUrl);
        EXPECT_FALSE(UserSettings::updateFeedURL().has_value()) << badUrl.toStdString();
    }
}

// The release tool makes a key and signs a feed that the application accepts with that key;
// a payload the application would refuse is not signed at all.
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
    const ToolRun insecure = runTool({keyPath, QStringLiteral("-")},
                                     R"({"version": "2.1.0", "notesUrl": "https://example.org/n",
                                     "downloadUrl": "http://example.org/d", "sha256": ")" +
                                         QByteArray(64, 'a') + "\", \"size\": 5}");
    EXPECT_NE(insecure.status, 0);
    EXPECT_TRUE(insecure.output.isEmpty());
}
