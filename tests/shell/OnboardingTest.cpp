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

using namespace Qt::StringLiterals;

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
    widget.grab().save(folder + u"/onboarding-%1.png"_s.arg(name));
}

// The steps move forward with the primary button (Return); the second says whether Snipjar can
// type the paste for you and follows a change within a second; the stored hot key is shown in
// Linux form everywhere.
TEST(OnboardingTest, StepsAndThePasteCheck) {
    TestEnvironment environment;
    UserSettings::setValue(UserSettings::hotKeyKey, u"\u2303\u21e7K"_s);
    bool canPaste = false;
    bool finished = false;
    OnboardingView view([&] { return canPaste; }, [&] { finished = true; });
    view.show();
    const auto shows = [&view](const QString& text) { return visibleTexts(view).contains(text); };
    EXPECT_TRUE(shows(u"Shift+Super+K"_s));
    saveShot(view, u"1-welcome"_s);

    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_TRUE(shows(u"Let Snipjar paste for you"_s));
    EXPECT_TRUE(shows(u"[Skip for now]"_s));
    saveShot(view, u"2-paste-unavailable"_s);

    canPaste = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.canPasteShown(); }, 3000));
    EXPECT_EQ(view.step(), 1) << "the step never advances by itself";
    EXPECT_TRUE(shows(u"Snipjar is ready to paste"_s));
    EXPECT_FALSE(shows(u"[Skip for now]"_s));
    saveShot(view, u"2-paste-ready"_s);

    view.advance();
    EXPECT_TRUE(shows(u"[Start Using Snipjar]"_s));
    EXPECT_TRUE(shows(u"Shift+Super+K whenever you need something you copied."_s));
    // A fresh install has no sync server: the summary promises no sync.
    EXPECT_EQ(visibleTexts(view).filter(u"Your history stays on this computer"_s).size(), 1);
    saveShot(view, u"3-summary"_s);
    EXPECT_FALSE(finished);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_TRUE(finished);

    UserSettings::setValue(UserSettings::syncServerKey, u"host=sync.example"_s);
    OnboardingView withSync([] { return true; }, [] {});
    withSync.advance();
    withSync.advance();
    EXPECT_EQ(visibleTexts(withSync).filter(u"syncs privately through your own"_s).size(), 1);
}

// Closing the welcome window completes onboarding (quitting with it open does not: AppProcessTest).
TEST(OnboardingTest, ClosingCompletes) {
    int completions = 0;
    auto* window = new OnboardingWindow([] { return true; }, [] { return false; });
    QObject::connect(window, &OnboardingWindow::completed, [&] { ++completions; });
    window->show();
    window->close();
    EXPECT_EQ(completions, 1);
}

} // namespace
} // namespace snipjar::test
