#include "app/update/UpdateFeed.h"
#include "SigningKey.h"
#include "TestEnvironment.h"
#include "app/update/UpdateConfiguration.h"
#include "platform/UserSettings.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace snipjar;

namespace {

QJsonObject objectOf(const QByteArray& feed) {
    return QJsonDocument::fromJson(feed).object();
}

QByteArray bytesOf(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

// A signed feed reads back field for field, also re-indented; the signature covers a fixed text
// that tools outside this program can rebuild.
TEST(UpdateFeed, SignedFeedReadsBack) {
    const auto key = test::SigningKey::generate();
    const UpdateInfo release = test::SigningKey::release(QStringLiteral("1.4.0-beta.2"));
    const QByteArray feed = UpdateFeed::sign(release, key.secretKey);

    for (const QByteArray& form : {feed, bytesOf(objectOf(feed))}) {
        const UpdateFeed::Result result = UpdateFeed::parse(form, key.publicKey);
        ASSERT_TRUE(result) << result.reason.toStdString();
        EXPECT_TRUE(result.reason.isEmpty());
        EXPECT_EQ(result.info->version.toString(), QStringLiteral("1.4.0-beta.2"));
        EXPECT_EQ(result.info->notesUrl, release.notesUrl);
        EXPECT_EQ(result.info->downloadUrl, release.downloadUrl);
        EXPECT_EQ(result.info->sha256, release.sha256);
        EXPECT_EQ(result.info->size, release.size);
    }
    EXPECT_EQ(
        UpdateFeed::signedText(release),
        "snipjar-update-feed-v1\nversion=1.4.0-beta.2\nnotesUrl=https://updates.example.org/snipjar/"
        "1.4.0-beta.2.html\ndownloadUrl=https://updates.example.org/snipjar/snipjar-1.4.0-beta.2.tar.xz\n"
        "sha256=" +
            release.sha256.toLatin1() + "\nsize=" + QByteArray::number(release.size) + "\n");
}

// Anything but a complete feed signed with the configured key is refused with a reason: another
// key, any signed field changed, the signature missing or damaged, the JSON cut short.
TEST(UpdateFeed, RefusesWhatTheKeyDidNotSign) {
    const auto key = test::SigningKey::generate();
    const auto otherKey = test::SigningKey::generate();
    const QByteArray feed =
        UpdateFeed::sign(test::SigningKey::release(QStringLiteral("2.0.0")), key.secretKey);

    EXPECT_FALSE(UpdateFeed::parse(feed, otherKey.publicKey));
    EXPECT_FALSE(UpdateFeed::parse(
        UpdateFeed::sign(test::SigningKey::release(QStringLiteral("2.0.0")), otherKey.secretKey),
        key.publicKey));

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
}

// A signature proves who wrote the feed, not that its values are usable: a signed feed with an
// insecure download address or a malformed digest is still refused.
TEST(UpdateFeed, RefusesSignedButUnusableValues) {
    const auto key = test::SigningKey::generate();
    UpdateInfo insecure = test::SigningKey::release(QStringLiteral("2.0.0"));
    insecure.downloadUrl = QUrl(QStringLiteral("http://updates.example.org/snipjar-2.0.0.tar.xz"));
    EXPECT_FALSE(UpdateFeed::parse(UpdateFeed::sign(insecure, key.secretKey), key.publicKey));
    UpdateInfo shortDigest = test::SigningKey::release(QStringLiteral("2.0.0"));
    shortDigest.sha256.chop(2);
    EXPECT_FALSE(UpdateFeed::parse(UpdateFeed::sign(shortDigest, key.secretKey), key.publicKey));
}

// A build without a feed address, as distribution packages are made, offers no check whatever the
// settings file says. A build with one takes the settings' address and key over its own; a value
// that does not read as an address or a 32-byte key counts as not set.
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
