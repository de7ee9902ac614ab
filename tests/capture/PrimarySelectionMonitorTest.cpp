#include "capture/PrimarySelectionMonitor.h"
#include "capture/ClipIngestor.h"
#include "capture/SelectedTextRead.h"
#include "platform/TypeIdentifier.h"
#include "platform/UserSettings.h"
#include "platform/fakes/FakePasteboard.h"
#include "platform/fakes/FakeWorkspace.h"
#include "store/ClipStore.h"

#include "EventLoopWait.h"
#include "TestEnvironment.h"
#include "TestImages.h"

#include <gtest/gtest.h>

#include <memory>

namespace snipjar {
namespace {

using namespace std::chrono_literals;
using test::settle;
using test::waitUntil;

QString id(const char* identifier) {
    return QString::fromLatin1(identifier);
}

// What may be read of a selection and what never is.
class SelectedTextReadTest : public ::testing::Test {
protected:
    SelectedTextRead read(qint64 byteCap = Pasteboard::noByteCap) {
        return readSelectedText(selection, byteCap);
    }

    test::TestEnvironment environment;
    FakePasteboard selection;
};

// The markers that keep a copy out of the history keep a selection out, without reading its text;
// so does a selection of files.
TEST_F(SelectedTextReadTest, MarkersAndFilesAreSkippedUnread) {
    for (const char* marker : {TypeIdentifier::concealedMarker, TypeIdentifier::transientMarker,
                               TypeIdentifier::remoteClipboardMarker, TypeIdentifier::fileURL}) {
        selection.setEntries({{TypeIdentifier::plainText, "hunter2"}, {marker, "secret"}});
        EXPECT_EQ(read(), (SelectedTextRead{CaptureOutcome::skipped, std::nullopt})) << marker;
    }
    EXPECT_EQ(selection.readCount(id(TypeIdentifier::plainText)), 0);
}

// Only the plain text is taken from a rich selection; one without text gives nothing.
TEST_F(SelectedTextReadTest, OnlyPlainTextIsRead) {
    selection.setEntries({{TypeIdentifier::html, "<b>bold</b> words"},
                          {TypeIdentifier::rtf, "{\\rtf1 {\\b bold} words}"},
                          {TypeIdentifier::plainText, "bold words"}});
    EXPECT_EQ(read(), (SelectedTextRead{CaptureOutcome::captured, QStringLiteral("bold words")}));
    EXPECT_EQ(selection.readCount(id(TypeIdentifier::rtf)), 0);
    EXPECT_EQ(selection.readCount(id(TypeIdentifier::html)), 0);

    selection.setEntries({{TypeIdentifier::png, test::makeImage("png", 8, 8)}});
    EXPECT_EQ(read(), (SelectedTextRead{CaptureOutcome::empty, std::nullopt}));
    EXPECT_EQ(selection.readCount(id(TypeIdentifier::png)), 0);
    selection.setText(QString());
    EXPECT_EQ(read().outcome, CaptureOutcome::empty);
}

// A text over the byte cap is skipped; one at the cap is read.
TEST_F(SelectedTextReadTest, TextOverTheCapIsSkipped) {
    selection.setText(QStringLiteral("0123456789"));
    EXPECT_EQ(read(10).outcome, CaptureOutcome::captured);
    EXPECT_EQ(read(9), (SelectedTextRead{CaptureOutcome::skipped, std::nullopt}));
}

// Another owner taking the selection in the middle of a read leaves nothing of either.
TEST_F(SelectedTextReadTest, OwnerChangeDuringTheReadGivesNothing) {
    selection.setText(QStringLiteral("ordinary words"));
    selection.runAfterNextTypes([this] {
        selection.setEntries(
            {{TypeIdentifier::plainText, "hunter2"}, {TypeIdentifier::concealedMarker, "secret"}});
    });
    EXPECT_EQ(read(), (SelectedTextRead{CaptureOutcome::empty, std::nullopt}));
}

// The stability rule of the monitor, with short waits.
class PrimarySelectionMonitorTest : public ::testing::Test {
protected:
    static constexpr PrimarySelectionMonitor::Timing timing{150ms, 150ms};
    // Longer than a settle time and a confirm time together.
    static constexpr auto afterSettling = 800ms;

    void startMonitor(PrimarySelectionMonitor::Timing chosen = timing) {
        monitor = std::make_unique<PrimarySelectionMonitor>(selection, workspace, ingestor, nullptr, chosen);
        QObject::connect(monitor.get(), &PrimarySelectionMonitor::selectionRead,
                         [this](CaptureOutcome outcome) { outcomes.append(outcome); });
        QObject::connect(monitor.get(), &PrimarySelectionMonitor::textRecorded,
                         [this](const QString& text) { recorded.append(text); });
        QObject::connect(&ingestor, &ClipIngestor::jobFinished, [this] { ++filed; });
        monitor->start();
        // The look at what was selected before.
        ASSERT_TRUE(waitUntil([&] { return outcomes.size() == 1; }));
        outcomes.clear();
    }
    // Extends a selection in steps a little apart, as a drag does.
    void grow(const QString& text, bool keepingOwner, std::chrono::milliseconds apart = 30ms) {
        for (qsizetype length = 1; length <= text.size(); ++length) {
            if (keepingOwner) {
                selection.changeTextKeepingOwner(text.left(length));
            } else {
                selection.setText(text.left(length));
            }
            settle(apart);
        }
    }
    QStringList titles() {
        QStringList result;
        for (const ClipItem& item : ClipStore::allItems(store.syncContext())) {
            result << item.title;
        }
        return result;
    }

    test::TestEnvironment environment;
    ClipStore store{ClipStore::Location::inMemory};
    FakePasteboard selection;
    FakeWorkspace workspace;
    ClipIngestor ingestor{store};
    std::unique_ptr<PrimarySelectionMonitor> monitor;
    QList<CaptureOutcome> outcomes;
    QStringList recorded;
    int filed = 0;
};

// An owner that takes the selection at every extension: nothing is read until it has been quiet for
// the settle time, then the text is read twice and filed once, as a text clip from the frontmost
// application.
TEST_F(PrimarySelectionMonitorTest, SelectionRetakenAtEveryStepIsFiledOnce) {
    workspace.setFrontmost(RunningApplication{42, "org.kde.kate", "Kate", "kate", 7});
    startMonitor();
    grow(QStringLiteral("selected words"), false);
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    settle(afterSettling);
    EXPECT_EQ(outcomes, (QList{CaptureOutcome::captured, CaptureOutcome::captured}));
    EXPECT_EQ(recorded, QStringList{"selected words"});
    const QList<ClipItem> items = ClipStore::allItems(store.syncContext());
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items.front().kind(), Clip::Kind::text);
    EXPECT_EQ(items.front().sourceName, QStringLiteral("Kate"));
    EXPECT_EQ(items.front().sourceBundleID, QStringLiteral("org.kde.kate"));
}

// An owner that keeps the selection and only answers with more text: a read that differs from the
// one before is read again, and only the settled text is filed.
TEST_F(PrimarySelectionMonitorTest, SelectionGrowingUnderOneOwnerIsFiledWhenItStops) {
    startMonitor({150ms, 250ms});
    selection.setText(QStringLiteral("s"));
    grow(QStringLiteral("still growing while it is read"), true, 20ms);
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    settle(afterSettling);
    EXPECT_EQ(recorded, QStringList{"still growing while it is read"});
    EXPECT_GT(outcomes.size(), 2);
}

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

// A password manager's selection, a transient one and a too long text file nothing; the next
// ordinary selection is filed.
TEST_F(PrimarySelectionMonitorTest, SkippedSelectionsFileNothing) {
    UserSettings::setValue(UserSettings::maxCaptureRepBytesKey, 16);
    startMonitor();
    selection.setEntries(
        {{TypeIdentifier::plainText, "hunter2"}, {TypeIdentifier::concealedMarker, "secret"}});
    settle(afterSettling);
    selection.setEntries({{TypeIdentifier::plainText, "gone soon"}, {TypeIdentifier::transientMarker, ""}});
    settle(afterSettling);
    selection.setText(QStringLiteral("seventeen bytes!!"));
    settle(afterSettling);
    EXPECT_EQ(outcomes, QList<CaptureOutcome>(3, CaptureOutcome::skipped));
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
