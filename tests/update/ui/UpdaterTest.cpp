#include "app/update/Updater.h"
#include "TestEnvironment.h"
#include "UpdateTestSupport.h"
#include "app/update/UpdateChecker.h"
#include "app/update/UpdateDownload.h"
#include "app/update/UpdateFeed.h"
#include "platform/AppIdentity.h"
#include "platform/UserSettings.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace snipjar;

using test::answerWaitMs;

namespace {

QStringList visibleDialogTexts() {
    QStringList texts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
            texts.append(box->text());
        }
    }
    return texts;
}

class UpdaterTest : public test::FeedTest {
protected:
    // The local feed server, as a build with a feed would be configured.
    std::function<UpdateConfiguration()> configured() {
        return [this] { return UpdateConfiguration{server.url(), key.publicKey}; };
    }

    void serveVersion(const char* version) { server.respond(200, feedFor(version)); }

    // Runs one check to its end, and the event loop once more so that the dialog can show.
    void waitForCheck(Updater& updater) {
        QSignalSpy finished(&updater.checker(), &UpdateChecker::finished);
        ASSERT_TRUE(finished.wait(answerWaitMs));
        QCoreApplication::processEvents();
    }

    test::TestEnvironment environment;
};

} // namespace

// In the background only a newer version speaks up; being up to date and errors stay in the log.
// An answered check is remembered, so the next start within a day sends no request.
TEST_F(UpdaterTest, BackgroundChecksSpeakOnlyForANewerVersion) {
    serveVersion(AppIdentity::version().toLatin1().constData());
    {
        Updater updater(configured());
        updater.startBackgroundChecks();
        waitForCheck(updater);
        EXPECT_TRUE(visibleDialogTexts().isEmpty());
    }
    {
        Updater updater(configured());
        updater.startBackgroundChecks();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        EXPECT_FALSE(updater.checker().isChecking());
        EXPECT_EQ(server.requestCount(), 1);
    }
    UserSettings::remove(UserSettings::lastUpdateCheckKey);
    server.respond(200, "{\"version\": \"99.0.0\"}");
    {
        Updater updater(configured());
        updater.startBackgroundChecks();
        waitForCheck(updater);
        EXPECT_TRUE(visibleDialogTexts().isEmpty());
        // A failed check is tried again at the next hourly look, not a day later.
        EXPECT_FALSE(UserSettings::lastUpdateCheck().has_value());
    }
    serveVersion("99.0.0");
    Updater updater(configured());
    updater.startBackgroundChecks();
    waitForCheck(updater);
    EXPECT_EQ(visibleDialogTexts(), QStringList{QStringLiteral("A new version of Snipjar is available!")});
}

// Asked by the user, every answer is a dialog, and one at a time.
TEST_F(UpdaterTest, UserInitiatedChecksAlwaysAnswer) {
    Updater updater(configured());
    serveVersion(AppIdentity::version().toLatin1().constData());
    updater.checkForUpdates();
    waitForCheck(updater);
    EXPECT_EQ(visibleDialogTexts(), QStringList{QStringLiteral("You're up to date!")});
    server.respond(500, "{}");
    updater.checkForUpdates();
    waitForCheck(updater);
    EXPECT_EQ(visibleDialogTexts(), QStringList{QStringLiteral("Snipjar couldn't check for updates.")});
    Updater unconfigured([] { return UpdateConfiguration{}; });
    unconfigured.checkForUpdates();
    QCoreApplication::processEvents();
    EXPECT_TRUE(visibleDialogTexts().contains(QStringLiteral("Updates come from your package manager.")));
}

// The download is fetched by Snipjar and offered only once it is the announced file; anything else
// is one error and no file.
TEST_F(UpdaterTest, OffersADownloadOnlyOnceItIsChecked) {
    Updater updater(configured());
    UpdateInfo info = test::SigningKey::release(QStringLiteral("9.0.0"));
    info.downloadUrl = server.url().resolved(QUrl(QStringLiteral("snipjar-9.0.0.tar.xz")));
    const std::pair<QByteArray, QString> answers[] = {
        {"the bytes of the release archive 9.0.0", QStringLiteral("The update is downloaded and checked.")},
        {"forged", QStringLiteral("Snipjar couldn't download the update.")}};
    for (const auto& [body, dialogText] : answers) {
        server.respond(200, body);
        QSignalSpy finished(&updater.downloader(), &UpdateDownload::finished);
        updater.download(info);
        ASSERT_TRUE(finished.wait(answerWaitMs));
        QCoreApplication::processEvents();
        EXPECT_EQ(visibleDialogTexts(), QStringList{dialogText});
    }
    EXPECT_EQ(QDir(UpdateDownload::defaultFolder()).entryList(QDir::Files),
              QStringList{QStringLiteral("snipjar-9.0.0.tar.xz")});
}
