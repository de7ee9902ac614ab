#include "TestEnvironment.h"

#include "app/onboarding/OnboardingView.h"
#include "app/onboarding/OnboardingWindow.h"
#include "platform/UserSettings.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

QStringList visibleTexts(QWidget& root) {
    QStringList texts;
    for (QLabel* label : root.findChildren<QLabel*>()) {
        if (label->isVisibleTo(&root) && !label->text().isEmpty()) {
            texts.append(label->text());
        }
    }
    for (QPushButton* button : root.findChildren<QPushButton*>()) {
        if (button->isVisibleTo(&root)) {
            texts.append(QLatin1Char('[') + button->text() + QLatin1Char(']'));
        }
    }
    return texts;
}

void saveShot(QWidget& widget, const QString& name) {
    const QString folder = QStringLiteral(SNIPJAR_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    // The layout settles as the window would before its next frame.
    QCoreApplication::processEvents();
    widget.grab().save(folder + QStringLiteral("/onboarding-%1.png").arg(name));
}

// The steps move forward with the primary button (Return); the second says whether Snipjar can
// type the paste for you and follows a change within a second; the stored hot key is shown in
// Linux form everywhere.
TEST(OnboardingTest, StepsAndThePasteCheck) {
    TestEnvironment environment;
    UserSettings::setValue(UserSettings::hotKeyKey, QStringLiteral("\u2303\u21e7K"));
    bool canPaste = false;
    bool finished = false;
    OnboardingView view([&] { return canPaste; }, [&] { finished = true; });
    view.show();
    EXPECT_EQ(view.step(), 0);
    EXPECT_TRUE(visibleTexts(view).contains(QStringLiteral("Shift+Super+K")));
    saveShot(view, QStringLiteral("1-welcome"));

    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(view.step(), 1);
    EXPECT_TRUE(visibleTexts(view).contains(QStringLiteral("Let Snipjar paste for you")));
    EXPECT_TRUE(visibleTexts(view).contains(QStringLiteral("[Skip for now]")));
    saveShot(view, QStringLiteral("2-paste-unavailable"));

    canPaste = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.canPasteShown(); }, 3000));
    EXPECT_EQ(view.step(), 1) << "the step never advances by itself";
    EXPECT_TRUE(visibleTexts(view).contains(QStringLiteral("Snipjar is ready to paste")));
    EXPECT_FALSE(visibleTexts(view).contains(QStringLiteral("[Skip for now]")));
    saveShot(view, QStringLiteral("2-paste-ready"));

    view.advance();
    EXPECT_EQ(view.step(), 2);
    EXPECT_TRUE(visibleTexts(view).contains(QStringLiteral("[Start Using Snipjar]")));
    EXPECT_TRUE(
        visibleTexts(view).contains(QStringLiteral("Shift+Super+K whenever you need something you copied.")));
    // A fresh install has no sync server: the summary promises no sync.
    EXPECT_EQ(visibleTexts(view).filter(QStringLiteral("Your history stays on this computer")).size(), 1);
    saveShot(view, QStringLiteral("3-summary"));
    EXPECT_FALSE(finished);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_TRUE(finished);

    UserSettings::setValue(UserSettings::syncServerKey, QStringLiteral("host=sync.example"));
    OnboardingView withSync([] { return true; }, [] {});
    withSync.advance();
    withSync.advance();
    EXPECT_EQ(visibleTexts(withSync).filter(QStringLiteral("syncs privately through your own")).size(), 1);
}

// Closing the welcome window completes onboarding, unless the application is quitting.
TEST(OnboardingTest, ClosingCompletesUnlessQuitting) {
    for (const bool quitting : {false, true}) {
        int completions = 0;
        auto* window = new OnboardingWindow([] { return true; }, [quitting] { return quitting; });
        QObject::connect(window, &OnboardingWindow::completed, [&] { ++completions; });
        window->show();
        window->close();
        EXPECT_EQ(completions, quitting ? 0 : 1) << quitting;
    }
}

} // namespace
} // namespace snipjar::test
