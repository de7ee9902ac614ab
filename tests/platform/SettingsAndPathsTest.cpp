#include "TestEnvironment.h"
#include "platform/AppIdentity.h"
#include "platform/AppPaths.h"
#include "platform/TypeIdentifier.h"
#include "platform/UserSettings.h"

#include <QFileInfo>
#include <QSettings>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace snipjar;

namespace {

int modeOf(const QString& path) {
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}

} // namespace

// Folders follow the XDG variables and the identity; the debug identity moves every folder.
TEST(AppPaths, FoldersFollowXdgAndIdentity) {
    test::TestEnvironment environment;
    AppIdentity::overrideDebug(false);
    EXPECT_EQ(AppIdentity::identifier(), QStringLiteral("app.snipjar.Snipjar"));
    EXPECT_EQ(AppPaths::storeFolder(), environment.path(QStringLiteral("data/Snipjar")));
    EXPECT_EQ(AppPaths::cacheFolder(), environment.path(QStringLiteral("cache/Snipjar")));
    AppIdentity::overrideDebug(true);
    EXPECT_EQ(AppIdentity::identifier(), QStringLiteral("app.snipjar.Snipjar.debug"));
    EXPECT_EQ(AppPaths::storeFolder(), environment.path(QStringLiteral("data/Snipjar (Debug)")));
    EXPECT_EQ(AppPaths::configFolder(), environment.path(QStringLiteral("config/Snipjar (Debug)")));
    AppIdentity::clearOverride();

    const QString folder = environment.path(QStringLiteral("data/a/b"));
    umask(022);
    ASSERT_TRUE(AppPaths::ensurePrivateFolder(folder));
    EXPECT_EQ(modeOf(folder), 0700);
}

// Each limit falls back to its default outside its valid range; absent booleans take their default.
TEST(UserSettings, DefaultsAndValidRanges) {
    test::TestEnvironment environment;
    EXPECT_EQ(UserSettings::historyLength(), 100);
    EXPECT_EQ(UserSettings::retentionDays(), 7);
    EXPECT_EQ(UserSettings::maxStoreBytes(), 500'000'000);
    EXPECT_EQ(UserSettings::maxCaptureRepBytes(), 300'000'000);
    EXPECT_EQ(UserSettings::menuClipLimit(), 15);
    EXPECT_TRUE(UserSettings::syncEnabled());
    EXPECT_FALSE(UserSettings::didOnboard());
    EXPECT_FALSE(UserSettings::didConfigureLoginItem().has_value());
    EXPECT_FALSE(UserSettings::hotKey().has_value());

    for (const auto& [stored, used] :
         std::vector<std::pair<int, int>>{{0, 100}, {1001, 100}, {1, 1}, {1000, 1000}}) {
        UserSettings::setValue(QStringLiteral("historyLength"), stored);
        EXPECT_EQ(UserSettings::historyLength(), used) << stored;
    }
    UserSettings::setValue(QStringLiteral("retentionDays"), 0);
    EXPECT_EQ(UserSettings::retentionDays(), 7);
    UserSettings::setValue(QStringLiteral("retentionDays"), 14);
    EXPECT_EQ(UserSettings::retentionDays(), 14);
    UserSettings::setValue(QStringLiteral("maxStoreBytes"), -5);
    EXPECT_EQ(UserSettings::maxStoreBytes(), 500'000'000);
    UserSettings::setValue(QStringLiteral("menuClipLimit"), 31);
    EXPECT_EQ(UserSettings::menuClipLimit(), 15);
    UserSettings::setValue(QStringLiteral("syncEnabled"), false);
    EXPECT_FALSE(UserSettings::syncEnabled());
    UserSettings::setValue(QStringLiteral("didConfigureLoginItem"), false);
    EXPECT_EQ(UserSettings::didConfigureLoginItem(), false);
    UserSettings::setValue(QStringLiteral("hotKey"), QStringLiteral("\u21E7\u2318K"));
    EXPECT_EQ(UserSettings::hotKey(), QStringLiteral("\u21E7\u2318K"));

    EXPECT_EQ(modeOf(UserSettings::filePath()), 0600);
    EXPECT_EQ(modeOf(AppPaths::configFolder()), 0700);
}

// MIME targets map to identifiers and back; other image types become "public." + subtype.
TEST(TypeIdentifier, MimeMapping) {
    EXPECT_EQ(TypeIdentifier::fromMimeType(QStringLiteral("UTF8_STRING")),
              QStringLiteral("public.utf8-plain-text"));
    EXPECT_EQ(TypeIdentifier::fromMimeType(QStringLiteral("image/png")), QStringLiteral("public.png"));
    EXPECT_EQ(TypeIdentifier::fromMimeType(QStringLiteral("image/heif")), QStringLiteral("public.heic"));
    EXPECT_EQ(TypeIdentifier::fromMimeType(QStringLiteral("image/webp")), QStringLiteral("public.webp"));
    EXPECT_EQ(TypeIdentifier::fromMimeType(QStringLiteral("image/x-portable-anymap")),
              QStringLiteral("public.portable-anymap"));
    EXPECT_EQ(TypeIdentifier::fromMimeType(QStringLiteral("TARGETS")), std::nullopt);
    EXPECT_EQ(TypeIdentifier::mimeTypes(QStringLiteral("public.rtf")).first(), QStringLiteral("text/rtf"));
    EXPECT_TRUE(TypeIdentifier::conformsToImage(QStringLiteral("public.webp")));
    EXPECT_FALSE(TypeIdentifier::conformsToImage(QStringLiteral("com.adobe.pdf")));
    EXPECT_TRUE(TypeIdentifier::isKnown(QStringLiteral("com.adobe.pdf")));
    EXPECT_FALSE(TypeIdentifier::isKnown(QStringLiteral("x-special/whatever")));
    EXPECT_EQ(TypeIdentifier::preferredFilenameExtension(QStringLiteral("public.jpeg")),
              QStringLiteral("jpeg"));
    EXPECT_EQ(TypeIdentifier::preferredFilenameExtension(QStringLiteral("com.example.none")), std::nullopt);
}

// A value written to the file by another process is seen at the next read, even at the same size.
TEST(UserSettings, SeesWritesFromOutside) {
    test::TestEnvironment environment;
    UserSettings::setValue(QStringLiteral("historyLength"), 200);
    EXPECT_EQ(UserSettings::historyLength(), 200);
    {
        QSettings outside(UserSettings::filePath(), QSettings::IniFormat);
        outside.setValue(QStringLiteral("historyLength"), 300);
    }
    EXPECT_EQ(UserSettings::historyLength(), 300);
    QFile::remove(UserSettings::filePath());
    EXPECT_EQ(UserSettings::historyLength(), 100);
}
