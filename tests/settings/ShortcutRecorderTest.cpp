#include "app/settings/ShortcutRecorder.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

using namespace Qt::StringLiterals;

// A recorder in a real window beside a text field, recording what it reports and what it asked
// the window system about.
class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&window);
        field = new QLineEdit(&window);
        layout->addWidget(field);
        recorder = new ShortcutRecorder(
            [this](const HotKeyCombo& combo) {
                asked.append(combo);
                return !taken.contains(combo);
            },
            &window);
        layout->addWidget(recorder);
        QObject::connect(recorder, &ShortcutRecorder::comboRecorded, &window,
                         [this](const HotKeyCombo& combo) { recorded.append(combo); });
        window.show();
    }

    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(recorder->button(), Qt::Key(key), modifiers);
    }

    static HotKeyCombo comboOf(const char* key) { return *HotKeyCombo::parseLinuxForm(key); }

    QWidget window;
    QLineEdit* field = nullptr;
    ShortcutRecorder* recorder = nullptr;
    QList<HotKeyCombo> asked;
    QList<HotKeyCombo> taken;
    QList<HotKeyCombo> recorded;
};

// A click starts recording; the next valid combination is taken, reported once and shown in
// Linux form. While recording, the window's keys go to the recorder.
TEST_F(RecorderTest, RecordsTheNextCombinationWithAModifier) {
    EXPECT_GE(recorder->button()->minimumWidth(), 120);
    QTest::mouseClick(recorder->button(), Qt::LeftButton);
    ASSERT_TRUE(recorder->isRecording());
    EXPECT_EQ(recorder->title(), u"Type shortcut…"_s);
    EXPECT_EQ(QWidget::keyboardGrabber(), recorder->button());

    press(Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);

    const HotKeyCombo expected = comboOf("Ctrl+Alt+K");
    EXPECT_EQ(recorded, QList{expected});
    EXPECT_EQ(recorder->combo(), expected);
    EXPECT_EQ(recorder->title(), u"Ctrl+Alt+K"_s);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
    // The keys typed into the window reach the recorder and not the focused field.
    recorder->startRecording();
    QTest::keyClick(window.windowHandle(), Qt::Key_J, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(recorded.last(), comboOf("Ctrl+Shift+J"));
    EXPECT_TRUE(field->text().isEmpty());
}

// Presses that are no combination, or would take a capital letter or Snipjar's paste keystroke, are
// swallowed (with the reason); Escape and a second click keep the old combination; a redraw while
// recording changes nothing.
TEST_F(RecorderTest, InvalidPressesAndCancelsKeepTheOldCombination) {
    recorder->startRecording();
    press(Qt::Key_K);
    press(Qt::Key_F5, Qt::ControlModifier);
    press(Qt::Key_Left, Qt::AltModifier);
    press(Qt::Key_Control, Qt::ControlModifier);
    press(Qt::Key_K, Qt::ShiftModifier);
    EXPECT_EQ(recorder->message(), u"Shift+K needs Ctrl, Alt or Super."_s);
    press(Qt::Key_V, Qt::ControlModifier);
    press(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(recorder->message(), u"Ctrl+Shift+V is the keystroke Snipjar pastes with."_s);
    EXPECT_TRUE(recorder->isRecording());

    press(Qt::Key_Escape);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(recorder->title(), u"Ctrl+Alt+V"_s);

    QTest::mouseClick(recorder->button(), Qt::LeftButton);
    QTest::mouseClick(recorder->button(), Qt::LeftButton);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(recorder->title(), u"Ctrl+Alt+V"_s);

    EXPECT_TRUE(recorded.isEmpty());
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(recorder->combo(), HotKeyCombo::defaultCombo());
    // A redraw of the settings while recording leaves "Type shortcut…" alone.
    recorder->startRecording();
    recorder->setCombo(comboOf("Ctrl+Alt+P"));
    EXPECT_EQ(recorder->title(), u"Type shortcut…"_s);
    press(Qt::Key_Escape);
    EXPECT_EQ(recorder->combo(), HotKeyCombo::defaultCombo());
}

// Moving to another window or program ends the recording and gives the keyboard back, so keys
// meant elsewhere are never taken.
TEST_F(RecorderTest, LeavingTheWindowEndsTheRecording) {
    for (const bool hiding : {false, true}) {
        recorder->startRecording();
        QEvent deactivate(QEvent::WindowDeactivate);
        hiding ? window.hide() : void(QCoreApplication::sendEvent(&window, &deactivate));
        EXPECT_FALSE(recorder->isRecording()) << hiding;
        EXPECT_EQ(QWidget::keyboardGrabber(), nullptr) << hiding;
        EXPECT_EQ(recorder->title(), u"Ctrl+Alt+V"_s);
    }
    EXPECT_TRUE(recorded.isEmpty());
}

} // namespace
} // namespace snipjar::test
