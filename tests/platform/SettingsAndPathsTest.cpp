#include "TestEnvironment.h"
#include "platform/AppIdentity.h"
#include "platform/AppPaths.h"
#include "platform/DeviceIdentity.h"
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
    EXPECT_EQ(AppPaths::storeFolder(), environment.path(QStringLiteral("data/Snipjar")));
    EXPECT_EQ(AppPaths::cacheFolder(), environment.path(QStringLiteral("cache/Snipjar")));
    AppIdentity::overrideDebug(true);
    EXPECT_EQ(AppPaths::configFolder(), environment.path(QStringLiteral("config/Snipjar (Debug)")));
    AppIdentity::clearOverride();
}

// A limit outside its valid range counts as its default; the file is private; a value written by
// another process is seen at the next read.
TEST(UserSettings, RangesDefaultsAndWritesFromOutside) {
    test::TestEnvironment environment;
    const std::pair<const char*, QVariant> outOfRange[] = {
        {"historyLength", 1001}, {"retentionDays", 0}, {"maxStoreBytes", -5}, {"menuClipLimit", 31}};
    for (const auto& [key, value] : outOfRange) {
        UserSettings::setValue(key, value);
    }
    EXPECT_EQ(UserSettings::historyLength(), 100);
    EXPECT_EQ(UserSettings::retentionDays(), 7);
    EXPECT_EQ(UserSettings::maxStoreBytes(), 500'000'000);
    EXPECT_EQ(UserSettings::menuClipLimit(), 15);
    EXPECT_EQ(modeOf(UserSettings::filePath()), 0600);
    EXPECT_EQ(modeOf(AppPaths::configFolder()), 0700);

    UserSettings::setValue("historyLength", 200);
    EXPECT_EQ(UserSettings::historyLength(), 200);
    // Another process writes the file, at the same size.
    QSettings(UserSettings::filePath(), QSettings::IniFormat).setValue("historyLength", 300);
    EXPECT_EQ(UserSettings::historyLength(), 300);
    QFile::remove(UserSettings::filePath());
    EXPECT_EQ(UserSettings::historyLength(), 100);
}

// Identifiers map to MIME targets; image types outside the table become "public." + subtype and
// count as images.
TEST(TypeIdentifier, MimeTypesAndImageConformance) {
    EXPECT_EQ(TypeIdentifier::fromMimeType("image/x-portable-anymap"), "public.portable-anymap");
    EXPECT_TRUE(TypeIdentifier::conformsToImage("public.webp"));
    EXPECT_FALSE(TypeIdentifier::conformsToImage("com.adobe.pdf"));
    EXPECT_TRUE(TypeIdentifier::isKnown("com.adobe.pdf"));
    EXPECT_FALSE(TypeIdentifier::isKnown("x-special/whatever"));
    EXPECT_EQ(TypeIdentifier::preferredFilenameExtension("public.jpeg"), "jpeg");
    EXPECT_EQ(TypeIdentifier::preferredFilenameExtension("com.example.none"), std::nullopt);
}

// The machine id is never the device id: the device id is derived from it for this application
// alone, as systemd derives application-specific ids (the vector is systemd's own derivation for
// that machine id); the raw machine id is only the former device id.
TEST(DeviceIdentity, TheDeviceIDIsAnApplicationSpecificHashOfTheMachineID) {
    EXPECT_EQ(DeviceIdentity::appSpecificID("0123456789abcdef0123456789abcdef\n"),
              QStringLiteral("0F700647-168B-4BA4-AD00-16D4EAF49FB7"));
    for (const char* refused : {"", "uninitialized\n", "00000000000000000000000000000000"}) {
        EXPECT_TRUE(DeviceIdentity::appSpecificID(refused).isEmpty());
    }
    QFile machineID(QStringLiteral("/etc/machine-id"));
    if (!machineID.open(QIODevice::ReadOnly)) {
        GTEST_SKIP() << "no /etc/machine-id here";
    }
    EXPECT_EQ(DeviceIdentity::previousDeviceID(), DeviceIdentity::uuidFromMachineID(machineID.readAll()));
}

// The override takes a UUID in its usual spellings; anything else is refused.
TEST(DeviceIdentity, OverrideTakesAUUIDOnly) {
    const QString expected = QStringLiteral("0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9");
    EXPECT_EQ(DeviceIdentity::uuidFromOverride("0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9"), expected);
    EXPECT_EQ(DeviceIdentity::uuidFromOverride("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\n"), expected);
    EXPECT_EQ(DeviceIdentity::uuidFromOverride("0a1b2c3d4e5f60718293a4b5c6d7e8f9"), expected);
    EXPECT_TRUE(DeviceIdentity::uuidFromOverride("laptop").isEmpty());
    EXPECT_TRUE(DeviceIdentity::uuidFromOverride("0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f").isEmpty());
    EXPECT_TRUE(DeviceIdentity::uuidFromOverride("0a1b-2c3d4e5f-6071-8293-a4b5c6d7e8f9").isEmpty());
}
