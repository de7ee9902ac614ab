#include "app/update/Updater.h"
#include "FeedServer.h"
#include "SigningKey.h"
#include "TestEnvironment.h"
#include "app/update/UpdateChecker.h"
#include "app/update/UpdateFeed.h"
#include "platform/AppIdentity.h"
#include "platform/UserSettings.h"

#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace snipjar;

namespace {

constexpr int answerWaitMs = 10'000;

QStringList visibleDialogTexts() {
    QStringList texts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
            texts.append(box->text());
        }
    }
    return texts;
}

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.isListening());
        UserSettings::setValue(UserSettings::updateFeedURLKey, server.url().toString());
        UserSettings::setValue(UserSettings::updatePublicKeyKey,
                               QString::fromLatin1(key.publicKey.toBase64()));
    }

    void serveVersion(const char* version) {
        server.respond(
            200, UpdateFeed::sign(test::SigningKey::release(QString::fromLatin1(version)), key.secretKey));
    }

    // Runs one check to its end, and the event loop once more so that the dialog can show.
    void waitForCheck(Updater& updater) {
        QSignalSpy finished(&updater.checker(), &UpdateChecker::finished);
        ASSERT_TRUE(finished.wait(answerWaitMs));
        QCoreApplication::processEvents();
    }

    test::TestEnvironment environment;
    test::SigningKey key = test::SigningKey::generate();
    test::FeedServer server;
};

} // namespace

// In the background only a newer version speaks up; being up to date and errors stay in the log.
// An answered check is remembered, so the next start within a day sends no request.
TEST_F(UpdaterTest, BackgroundChecksSpeakOnlyForANewerVersion) {
    serveVersion(AppIdentity::version().toLatin1().constData());
    {
        Updater updater;
        updater.startBackgroundChecks();
        waitForCheck(updater);
        EXPECT_TRUE(visibleDialogTexts().isEmpty());
        EXPECT_TRUE(UserSettings::lastUpdateCheck().has_value());
    }
    {
        Updater updater;
        updater.startBackgroundChecks();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        EXPECT_FALSE(updater.checker().isChecking());
        EXPECT_EQ(server.requestCount(), 1);
    }

    UserSettings::remove(UserSettings::lastUpdateCheckKey);
    server.respond(200, "{\"version\": \"99.0.0\"}");
    {
        Updater updater;
        updater.startBackgroundChecks();
        waitForCheck(updater);
        EXPECT_TRUE(visibleDialogTexts().isEmpty());
        // A failed check is tried again at the next hourly look, not a day later.
        EXPECT_FALSE(UserSettings::lastUpdateCheck().has_value());
    }

    serveVersion("99.0.0");
    Updater updater;
    updater.startBackgroundChecks();
    waitForCheck(updater);
    EXPECT_EQ(visibleDialogTexts(), QStringList{QStringLiteral("A new version of Snipjar is available!")});
}

// Asked by the user, every answer is a dialog, and one at a time.
TEST_F(UpdaterTest, UserInitiatedChecksAlwaysAnswer) {
    Updater updater;
    serveVersion(AppIdentity::version().toLatin1().constData());
    updater.checkForUpdates();
    waitForCheck(updater);
    EXPECT_EQ(visibleDialogTexts(), QStringList{QStringLiteral("You're up to date!")});

    server.respond(500, "{}");
    updater.checkForUpdates();
    waitForCheck(updater);
    EXPECT_EQ(visibleDialogTexts(), QStringList{QStringLiteral("Snipjar couldn't check for updates.")});

    UserSettings::remove(UserSettings::updateFeedURLKey);
    if (!Updater::canCheck()) {
        EXPECT_EQ(Updater::menuItemText(), QStringLiteral("Updates Come from Your Package Manager"));
        updater.checkForUpdates();
        QCoreApplication::processEvents();
        EXPECT_EQ(visibleDialogTexts(),
                  QStringList{QStringLiteral("Updates come from your package manager.")});
    }
}
