#include "CaptureTestSupport.h"
#include "platform/TypeIdentifier.h"
#include "platform/fakes/FakePasteboard.h"

#include <QSignalBlocker>

namespace snipjar {
namespace {

using namespace std::chrono_literals;
using test::settle;
using test::waitUntil;

// Longer than the whole retry window (25 + 50 + 100 + 250 + 400 ms) and a few polls.
constexpr auto afterRetries = 1500ms;

class ClipboardMonitorTest : public test::MonitorTest {
protected:
    void startMonitor() { startClipboardMonitor(pasteboard); }
    // Rich text whose plain string appears only from the given capture attempt on.
    void setLazyRichText(const QString& text, int availableFromAttempt) {
        FakePasteboard::Contents contents;
        contents.entries = {
            FakePasteboard::Entry{TypeIdentifier::rtf, "{\\rtf1\\ansi {\\b bold} words}", 1},
            FakePasteboard::Entry{TypeIdentifier::plainText, text.toUtf8(), availableFromAttempt}};
        pasteboard.setContents(contents);
    }

    FakePasteboard pasteboard;
    std::unique_ptr<ClipboardMonitor>& monitor = clipboardMonitor;
};

// start() looks at the clipboard once; an empty clipboard at launch is not retried. (What is on it
// then reaching the history is AppLifecycle.LaunchStartsEveryPartInOrder's.)
TEST_F(ClipboardMonitorTest, AnEmptyClipboardAtStartIsNotRetried) {
    startMonitor();
    settle(afterRetries);
    EXPECT_EQ(outcomes, QList{CaptureOutcome::empty});
}

// A change is captured once: the same count is ignored, a change announced by the clipboard is
// looked at at once, one that was not announced is found by the poll, and the same text copied twice
// counts as two changes (the store de-duplicates). The clip's source is the application in front when
// the clip is handed over. (The application's own write not being captured again is CliInstance's,
// whose copies are never filed.)
TEST_F(ClipboardMonitorTest, EachChangeIsCapturedOnceWithItsSource) {
    workspace.setFrontmost(RunningApplication{42, "org.kde.kate", "Kate", "kate", 7});
    startMonitor();
    pasteboard.setText(QStringLiteral("hello"));
    EXPECT_EQ(monitor->lastChangeCount(), pasteboard.changeCount());
    ASSERT_TRUE(waitUntil([&] { return filed == 1; }));
    monitor->tick();
    monitor->tick();
    settle(300ms);
    EXPECT_EQ(outcomesFor(pasteboard.changeCount()), QList{CaptureOutcome::captured});

    pasteboard.bumpChangeCount();
    ASSERT_TRUE(waitUntil([&] { return filed == 2; }));
    EXPECT_EQ(titles(), QStringList{"hello"});

    // A change whose notice went missing is found by the poll.
    workspace.setFrontmost(RunningApplication{43, "", "", "xterm", 8});
    {
        const QSignalBlocker silent(pasteboard);
        pasteboard.setText(QStringLiteral("unannounced"));
    }
    ASSERT_TRUE(waitUntil([&] { return filed == 3; }));
    EXPECT_EQ(titles(), (QStringList{"unannounced", "hello"}));
    for (const ClipItem& item : ClipStore::allItems(store.syncContext())) {
        const bool fromKate = item.title == "hello";
        EXPECT_EQ(item.sourceBundleID, fromKate ? std::optional<QString>("org.kde.kate") : std::nullopt);
        EXPECT_EQ(item.sourceName, fromKate ? std::optional<QString>("Kate") : std::nullopt);
    }
}

// Contents that become readable within the retry window give exactly one clip; five empty retries
// after the first attempt end the retry without one.
TEST_F(ClipboardMonitorTest, RetriesLateContentsFiveTimes) {
    startMonitor();
    const auto [empty, captured] = std::pair{CaptureOutcome::empty, CaptureOutcome::captured};
    for (const auto& [attempt, expected] :
         {std::pair{3, QList{empty, empty, captured}}, std::pair{100, QList<CaptureOutcome>(6, empty)}}) {
        setLazyRichText(QStringLiteral("late words %1").arg(attempt), attempt);
        const qint64 change = pasteboard.changeCount();
        settle(afterRetries);
        EXPECT_EQ(outcomesFor(change), expected);
    }
    EXPECT_EQ(titles(), QStringList{"late words 3"});
}

// A newer change ends the pending retry of an earlier one, whether it is captured or skipped; at
// most the retry already under way when it arrived still runs.
TEST_F(ClipboardMonitorTest, NewerChangeEndsTheRetry) {
    startMonitor();
    const QList<QPair<QString, QByteArray>> secret{{TypeIdentifier::plainText, "hunter2"},
                                                   {TypeIdentifier::concealedMarker, "secret"}};
    for (const bool newerIsSkipped : {false, true}) {
        setLazyRichText(QStringLiteral("old"), 4);
        const qint64 oldChange = pasteboard.changeCount();
        ASSERT_TRUE(waitUntil([&] { return outcomesFor(oldChange).size() == 1; }));
        if (newerIsSkipped) {
            pasteboard.setEntries(secret);
        } else {
            pasteboard.setText(QStringLiteral("new"));
        }
        const qint64 newChange = pasteboard.changeCount();
        settle(afterRetries);
        EXPECT_EQ(outcomesFor(newChange),
                  QList{newerIsSkipped ? CaptureOutcome::skipped : CaptureOutcome::captured});
        EXPECT_LE(outcomesFor(oldChange).size(), 2);
        EXPECT_EQ(outcomesFor(oldChange).count(CaptureOutcome::empty), outcomesFor(oldChange).size());
    }
    EXPECT_EQ(titles(), QStringList{"new"});
}

} // namespace
} // namespace snipjar
