#include "PanelTestSupport.h"

#include "panel/widgets/ClickableGlassView.h"
#include "panel/widgets/ClipPanel.h"
#include "panel/widgets/PanelController.h"
#include "panel/widgets/RowListView.h"
#include "paste/Paster.h"
#include "paste/StoredClipPaster.h"
#include "platform/MemoryRelief.h"
#include "platform/TypeIdentifier.h"
#include "platform/WindowLayers.h"
#include "platform/fakes/FakeDesktopNotifier.h"
#include "platform/fakes/FakeKeySynthesizer.h"
#include "platform/fakes/FakePasteboard.h"
#include "platform/fakes/FakeWorkspace.h"

#include <QAccessible>
#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QTest>
#include <QWindow>

namespace snipjar::test {
namespace {

using namespace Qt::StringLiterals;

const RunningApplication editor{4242, u"org.example.Editor"_s, u"Editor"_s, u"Editor"_s, 0x600001};

// XKB's keycode of the Backspace key.
constexpr quint32 backspaceKeycode = 22;

// The real controller and window over a real store, with recording fakes for the desktop.
class PanelControllerTest : public PanelTest {
protected:
    PanelControllerTest()
        : paster(pasteboard, workspace, keys, notifier)
        , clipPaster(*store, paster, workspace)
        , controller(*store, clipPaster, workspace) {
        workspace.addApplication(editor);
        workspace.setFrontmost(editor);
        controller.setHotKey(HotKeyCombo::defaultCombo());
    }

    // Shows the panel and waits for its rows, which load off the main thread.
    void show() {
        controller.show();
        ASSERT_TRUE(waitUntil([this] { return !panel().isLoadingRows(); }));
    }
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {}) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        QCoreApplication::sendEvent(&controller.window(), &event);
    }
    void type(const QString& text) {
        for (const QChar c : text) {
            press(Qt::Key_unknown, Qt::NoModifier, QString(c));
        }
    }
    PanelModel& panel() { return controller.model(); }
    static std::optional<QString> textOf(const PasteboardContent& content) {
        for (const PasteboardContent::Entry& entry : content.entries) {
            if (entry.type == QLatin1String(TypeIdentifier::plainText)) {
                return QString::fromUtf8(entry.data);
            }
        }
        return std::nullopt;
    }
    QList<ClickableGlassView*> circles() { return controller.window().findChildren<ClickableGlassView*>(); }
    static qreal opacityOf(QWidget* widget) {
        return static_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect())->opacity();
    }

    FakePasteboard pasteboard;
    FakeWorkspace workspace;
    FakeKeySynthesizer keys;
    FakeDesktopNotifier notifier;
    Paster paster;
    // The tray's paster, which the panel shares.
    StoredClipPaster clipPaster;
    PanelController controller;
};

// Every show starts afresh: empty query, every kind, every computer, the first row and its preview,
// no circles; hiding empties it all and gives the memory back.
TEST_F(PanelControllerTest, ShowingStartsFromTheWholeHistory) {
    file(text(u"alpha"_s));
    file(text(u"beta"_s));
    show();
    ASSERT_TRUE(waitUntil([this] { return panel().preview().has_value(); }));
    type(u"al"_s);
    press(Qt::Key_Tab);
    panel().setMacScope(thisMac);
    panel().setSelection(1);
    const int released = MemoryRelief::count();
    controller.hide();
    EXPECT_TRUE(panel().all().isEmpty());
    EXPECT_TRUE(panel().macs().isEmpty());
    EXPECT_FALSE(panel().preview().has_value());
    // The memory of the hidden panel goes back to the system.
    EXPECT_TRUE(waitUntil([released] { return MemoryRelief::count() > released; }));
    // Asked for again before its rows came (a command that a held key repeats), it opens all the same.
    controller.open(std::nullopt);
    controller.open(std::nullopt);
    ASSERT_TRUE(waitUntil([this] { return controller.isVisible(); }));
    EXPECT_EQ(panel().query(), QString());
    EXPECT_EQ(panel().typeScope(), TypeScope::all);
    EXPECT_EQ(panel().macScope(), std::nullopt);
    EXPECT_EQ(panel().selection(), 0);
    ASSERT_TRUE(waitUntil([this] { return panel().preview().has_value(); }));
    EXPECT_EQ(panel().preview()->text, u"beta"_s);
    for (ClickableGlassView* circle : circles()) {
        EXPECT_EQ(opacityOf(circle), 0.0);
        EXPECT_EQ(circle->geometry(), PanelController::circleFrame(0, false));
    }
}

// Return pastes the selected row into the window the panel opened over, active or not; with no rows
// it only hides. Ctrl+n pastes the n-th row; a number past the rows keeps the panel open.
TEST_F(PanelControllerTest, ReturnAndCtrlNumbersPasteIntoTheWindowInFront) {
    file(text(u"one"_s));
    file(text(u"two"_s));
    const QUuid three = file(text(u"three"_s));

    show();
    // No window is active any more; the paste still goes to the one the panel opened over.
    workspace.setFrontmost(std::nullopt);
    clockNow = clockNow.addSecs(10);
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    ASSERT_TRUE(waitUntil([this] { return !pasteboard.writes().isEmpty(); }));
    EXPECT_EQ(textOf(pasteboard.writes().constLast()), u"two"_s);
    EXPECT_TRUE(waitUntil([this] { return !keys.keystrokes.isEmpty(); }));
    EXPECT_EQ(workspace.activations.value(0), editor);

    show();
    press(Qt::Key_5, Qt::ControlModifier, u"5"_s);
    EXPECT_TRUE(controller.isVisible());
    press(Qt::Key_3, Qt::ControlModifier, u"3"_s);
    EXPECT_FALSE(controller.isVisible());
    // A paste from the tray right after it comes after it.
    clipPaster.paste(three, editor);
    EXPECT_TRUE(waitUntil([this] { return pasteboard.writes().size() == 3; }));
    EXPECT_EQ(textOf(pasteboard.writes()[1]), u"one"_s);
    EXPECT_EQ(textOf(pasteboard.writes()[2]), u"three"_s);
    // Enter with no matching rows only hides.
    show();
    type(u"nothing matches this"_s);
    press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(controller.isVisible());
    settle(std::chrono::milliseconds(100));
    EXPECT_EQ(pasteboard.writes().size(), 3);
}

// Escape disarms an armed delete instead of hiding the panel; Backspace edits the query and keeps
// the selection index.
TEST_F(PanelControllerTest, EscapeDisarmsAndBackspaceEditsTheQuery) {
    file(text(u"a1"_s));
    file(text(u"a2"_s));
    file(text(u"b"_s));
    show();
    press(Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_TRUE(panel().armedDeleteID().has_value());
    press(Qt::Key_Escape);
    EXPECT_FALSE(panel().armedDeleteID().has_value());
    EXPECT_TRUE(controller.isVisible());

    press(Qt::Key_Backspace);
    EXPECT_EQ(panel().query(), QString());
    type(u"ab"_s);
    press(Qt::Key_Backspace);
    EXPECT_EQ(panel().query(), u"a"_s);
    press(Qt::Key_Down);
    type(u"é"_s);
    press(Qt::Key_Backspace);
    EXPECT_EQ(panel().selection(), 0) << "typing resets the selection, erasing keeps it";
    press(Qt::Key_Down);
    press(Qt::Key_Backspace);
    EXPECT_EQ(panel().query(), QString());
    EXPECT_EQ(panel().selection(), 1);
}

// Holding Ctrl+Backspace arms the delete once; only a press after the key's release (a real one,
// not one flagged as auto-repeat) deletes, and a key held after a delete arms nothing.
TEST_F(PanelControllerTest, AHeldDeleteKeyArmsOnceAndDeletesOnlyAfterItsRelease) {
    for (const char* clip : {"one", "two", "three"}) {
        file(text(QString::fromLatin1(clip)));
    }
    show();
    // Ctrl+Backspace as X delivers it: auto-repeat is presses without releases, some flagged as repeats.
    const auto backspace = [this](QEvent::Type type, bool flagged = false) {
        QKeyEvent event(type, Qt::Key_Backspace, Qt::ControlModifier, backspaceKeycode, 0, 0, QString(),
                        flagged);
        QCoreApplication::sendEvent(&controller.window(), &event);
    };
    for (const bool flagged : {false, true, false, false}) {
        backspace(QEvent::KeyPress, flagged);
    }
    EXPECT_EQ(panel().armedDeleteID(), panel().visibleRow(0).id);
    backspace(QEvent::KeyRelease, true);
    backspace(QEvent::KeyPress);
    backspace(QEvent::KeyRelease);
    settle(std::chrono::milliseconds(50));
    EXPECT_EQ(panel().visibleCount(), 3);

    backspace(QEvent::KeyPress);
    EXPECT_TRUE(waitUntil([this] { return panel().visibleCount() == 2; }));
    for (const bool flagged : {false, true, false}) {
        backspace(QEvent::KeyPress, flagged);
    }
    EXPECT_FALSE(panel().armedDeleteID().has_value());
}

// The hot key that opened the panel repeats into it while held and is ignored; once the keyboard
// has it up (its release may have gone to another window), the next press closes the panel.
TEST_F(PanelControllerTest, TheHotKeyRepeatsIntoThePanelUntilTheKeyboardHasItUp) {
    file(text(u"one"_s));
    bool held = true;
    controller.isHotKeyHeld = [&held] { return held; };
    show();
    for (int repeat = 0; repeat < 3; ++repeat) {
        press(Qt::Key_V, Qt::ControlModifier | Qt::AltModifier, u"v"_s);
    }
    EXPECT_TRUE(controller.isVisible());
    held = false;
    press(Qt::Key_V, Qt::ControlModifier | Qt::AltModifier, u"v"_s);
    EXPECT_FALSE(controller.isVisible());
}

// Tab and Shift+Tab step the kind filter and bring the circles in and out; clicking the lit circle
// returns to every kind, and under every kind the circles cannot be clicked. Screen readers follow
// the selected row and see the circles as buttons, checked while their kind is the filter, invisible
// while they cannot be pressed, and pressing one selects its kind.
TEST_F(PanelControllerTest, KindFilterCirclesAndScreenReaders) {
    file(text(u"one"_s));
    file(text(u"two"_s));
    show();
    QAccessibleInterface* rows =
        QAccessible::queryAccessibleInterface(controller.window().findChild<RowListView*>());
    ASSERT_TRUE(rows && rows->childCount() >= 2);
    EXPECT_TRUE(rows->child(0)->state().selected);
    press(Qt::Key_Down);
    EXPECT_FALSE(rows->child(0)->state().selected);
    EXPECT_TRUE(rows->child(1)->state().selected);

    const auto button = [](QWidget* circle) { return QAccessible::queryAccessibleInterface(circle); };
    EXPECT_TRUE(button(circles().front())->state().invisible);
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(panel().typeScope(), TypeScope::pinned);
    ASSERT_TRUE(waitUntil([this] { return opacityOf(circles().back()) == 1.0; }));
    EXPECT_TRUE(circles().back()->tint().has_value());
    EXPECT_FALSE(circles().front()->tint().has_value());
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    EXPECT_EQ(panel().typeScope(), TypeScope::text);
    for (ClickableGlassView* circle : circles()) {
        EXPECT_EQ(button(circle)->role(), QAccessible::Button);
        EXPECT_FALSE(button(circle)->state().invisible);
        EXPECT_EQ(button(circle)->state().checked, circle == circles().front());
    }
    controller.selectScope(TypeScope::text);
    EXPECT_EQ(panel().typeScope(), TypeScope::all);
    controller.selectScope(TypeScope::image);
    EXPECT_EQ(panel().typeScope(), TypeScope::all);

    press(Qt::Key_Tab);
    button(circles().at(1))->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(panel().typeScope(), TypeScope::image);
    EXPECT_TRUE(button(circles().at(1))->state().checked);
}

// Windows as layers that record what they were asked, and refuse when told to.
class RecordingLayers : public WindowLayers {
public:
    explicit RecordingLayers(bool accepts)
        : accepts(accepts) {}
    bool raise(QWindow* window, Role role, std::function<void()>) override {
        raised.append({window->title(), role});
        return accepts;
    }
    void lower(QWindow* window) override { lowered.append(window->title()); }

    const bool accepts;
    QList<std::pair<QString, Role>> raised;
    QStringList lowered;
};

// On layers the panel is one over a backdrop whose press closes it, both let go at hide; a refused
// layer leaves the panel a popup, shown all the same and not asked again.
TEST_F(PanelControllerTest, OnLayersAPressOutsideClosesAndARefusalLeavesThePopup) {
    file(text(u"one"_s));
    for (const bool accepts : {true, false}) {
        SCOPED_TRACE(accepts);
        PanelController layered(*store, clipPaster, workspace);
        RecordingLayers layers(accepts);
        layered.setWindowLayers(&layers);
        EXPECT_TRUE(layered.window().windowFlags() & WindowLayers::layerFlag);
        layered.show();
        ASSERT_TRUE(waitUntil([&] { return layered.isVisible(); }));
        const QString panelTitle = layered.window().windowTitle();
        if (accepts) {
            using Role = WindowLayers::Role;
            ASSERT_EQ(layers.raised.size(), 2);
            EXPECT_EQ(layers.raised[0], std::make_pair(panelTitle, Role::front));
            EXPECT_EQ(layers.raised[1].second, Role::backdrop);
            QWidget* backdrop = nullptr;
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window->isVisible() && window->windowTitle() == layers.raised[1].first) {
                    backdrop = window;
                }
            }
            ASSERT_TRUE(backdrop);
            QTest::mouseClick(backdrop, Qt::LeftButton, {}, QPoint(5, 5));
            EXPECT_FALSE(layered.isVisible());
            EXPECT_EQ(layers.lowered, QStringList({layers.raised[1].first, panelTitle}));
        } else {
            EXPECT_EQ(layers.raised.size(), 1);
            EXPECT_EQ(layered.window().windowType(), Qt::Popup);
            EXPECT_FALSE(layered.window().windowFlags() & WindowLayers::layerFlag);
            layered.hide();
            layered.show();
            ASSERT_TRUE(waitUntil([&] { return layered.isVisible(); }));
            EXPECT_EQ(layers.raised.size(), 1);
            layered.hide();
        }
    }
}

} // namespace
} // namespace snipjar::test
