#include "CaptureTestSupport.h"
#include "capture/SelectedTextRead.h"
#include "platform/TypeIdentifier.h"
#include "platform/UserSettings.h"
#include "platform/fakes/FakePasteboard.h"

namespace snipjar {
namespace {

using namespace std::chrono_literals;
using test::settle;
using test::waitUntil;

// What may be read of a selection and what never is: the markers that keep a copy out of the
// history keep a selection out (the three markers are CaptureReadTest.WhatIsCaptured's, the same
// check), and so does a selection of files, without their text being read; only the plain text is
// taken from a rich selection, an empty one gives nothing (a selection without text is
// PrimarySelectionX11Test's); a text over the byte cap is skipped, one at the cap is read; another
// owner taking the selection in the middle of a read leaves nothing of either.
TEST(SelectedTextRead, WhatIsRead) {
    using T = TypeIdentifier;
    const auto [skipped, captured, empty] =
        std::tuple{CaptureOutcome::skipped, CaptureOutcome::captured, CaptureOutcome::empty};
    const QList<QPair<QString, QByteArray>> rich = {
        {T::html, "<b>bold</b> words"}, {T::rtf, "{\\rtf1 {\\b bold} words}"}, {T::plainText, "bold words"}};
    const struct {
        QList<QPair<QString, QByteArray>> entries;
        SelectedTextRead read;
        qint64 byteCap = Pasteboard::noByteCap;
        bool ownerChanges = false;
    } rows[] = {
        {{{T::plainText, "hunter2"}, {T::concealedMarker, "secret"}}, {skipped, std::nullopt}},
        {{{T::plainText, "hunter2"}, {T::fileURL, "file:///tmp/a"}}, {skipped, std::nullopt}},
        {rich, {captured, QStringLiteral("bold words")}},
        {{{T::plainText, ""}}, {empty, std::nullopt}},
        {{{T::plainText, "0123456789"}}, {captured, QStringLiteral("0123456789")}, 10},
        {{{T::plainText, "0123456789"}}, {skipped, std::nullopt}, 9},
        {{{T::plainText, "ordinary words"}}, {empty, std::nullopt}, Pasteboard::noByteCap, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.entries.constLast().first.toStdString());
        FakePasteboard selection;
        selection.setEntries(row.entries);
        if (row.ownerChanges) {
            selection.runAfterNextTypes([&] {
                selection.setEntries({{T::plainText, "hunter2"}, {T::concealedMarker, "secret"}});
            });
        }
        EXPECT_EQ(readSelectedText(selection, row.byteCap), row.read);
        for (const char* unread : {T::rtf, T::html, T::png}) {
            EXPECT_EQ(selection.readCount(QString::fromLatin1(unread)), 0) << unread;
        }
        if (row.read.outcome == skipped && row.byteCap == Pasteboard::noByteCap) {
            EXPECT_EQ(selection.readCount(QString::fromLatin1(T::plainText)), 0);
        }
    }
}

// The stability rule of the monitor, with short waits.
class PrimarySelectionMonitorTest : public test::MonitorTest {
protected:
    // Longer than a settle time and a confirm time together.
    static constexpr auto afterSettling = 800ms;

    void startMonitor() { startSelectionMonitor(selection, workspace, {150ms, 150ms}); }

    FakePasteboard selection;
    std::unique_ptr<PrimarySelectionMonitor>& monitor = selectionMonitor;
};

// Nothing is read while a mouse button is held, however long the drag pauses; letting go starts the
// settle time, which also finds a new text under an owner that kept the selection.
TEST_F(PrimarySelectionMonitorTest, NothingIsReadWhileAButtonIsHeld) {
    startMonitor();
    workspace.mouseButtonHeld = true;
    selection.setText(QStringLiteral("drag"));
    settle(afterSettling);
    selection.changeTextKeepingOwner(QStringLiteral("dragged further"));
    settle(afterSettling);
    EXPECT_TRUE(outcomes.isEmpty());
    workspace.mouseButtonHeld = false;
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    EXPECT_EQ(recorded, QStringList{"dragged further"});

    // A later click that selects nothing new files nothing; a new text under the same owner is filed.
    for (const bool selectsNewText : {false, true}) {
        workspace.mouseButtonHeld = true;
        settle(250ms);
        if (selectsNewText) {
            selection.changeTextKeepingOwner(QStringLiteral("double-clicked"));
        }
        workspace.mouseButtonHeld = false;
        settle(afterSettling);
    }
    ASSERT_TRUE(waitUntil([&] { return filed == 2; }));
    EXPECT_EQ(recorded, (QStringList{"dragged further", "double-clicked"}));
}

// What was selected before the monitor started is not recorded, not even after a click; the same
// text selected anew (a new owner) is.
TEST_F(PrimarySelectionMonitorTest, EarlierSelectionIsNotRecorded) {
    selection.setText(QStringLiteral("selected before"));
    startMonitor();
    workspace.mouseButtonHeld = true;
    settle(250ms);
    workspace.mouseButtonHeld = false;
    settle(afterSettling);
    EXPECT_TRUE(recorded.isEmpty());
    selection.bumpChangeCount();
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    EXPECT_EQ(titles(), QStringList{"selected before"});
}

// The byte cap comes from the settings: a selection one byte over it files nothing, the next
// ordinary one is filed. The markers are checked against real selection owners
// (PrimarySelectionX11Test).
TEST_F(PrimarySelectionMonitorTest, SkippedSelectionsFileNothing) {
    UserSettings::setValue(UserSettings::maxCaptureRepBytesKey, 16);
    startMonitor();
    selection.setText(QStringLiteral("seventeen bytes!!"));
    settle(afterSettling);
    EXPECT_EQ(outcomes, QList<CaptureOutcome>{CaptureOutcome::skipped});
    selection.setText(QStringLiteral("sixteen bytes!!!"));
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    EXPECT_EQ(titles(), QStringList{"sixteen bytes!!!"});
}

// Destroying the monitor in the middle of the wait or of a read files nothing afterwards.
TEST_F(PrimarySelectionMonitorTest, DestructionStopsEverything) {
    startMonitor();
    selection.setText(QStringLiteral("never filed"));
    settle(200ms);
    monitor.reset();
    settle(afterSettling);
    EXPECT_EQ(filed, 0);
    EXPECT_TRUE(titles().isEmpty());
}

} // namespace
} // namespace snipjar
