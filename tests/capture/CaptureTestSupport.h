#pragma once

#include "capture/ClipboardMonitor.h"
#include "capture/PrimarySelectionMonitor.h"
#include "platform/fakes/FakeWorkspace.h"
#include "store/ClipStore.h"

#include "EventLoopWait.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <memory>

namespace snipjar::test {

inline Clip textClip(const QString& text) {
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = text;
    return clip;
}

// An in-memory store fed by a monitor of the clipboard or of the primary selection, recording the
// outcome of every read (with the change count it was for, where the monitor says) and every
// filing job.
class MonitorTest : public ::testing::Test {
protected:
    void TearDown() override {
        clipboardMonitor.reset();
        selectionMonitor.reset();
    }

    void createClipboardMonitor(Pasteboard& pasteboard, CaptureLimits limits = {}) {
        clipboardMonitor = std::make_unique<ClipboardMonitor>(store, pasteboard, workspace, nullptr, limits);
        QObject::connect(clipboardMonitor.get(), &ClipboardMonitor::captureFinished,
                         [this](qint64 changeCount, CaptureOutcome outcome) {
                             outcomes.append(outcome);
                             outcomeChanges.append(changeCount);
                         });
        QObject::connect(&clipboardMonitor->ingestor(), &ClipIngestor::jobFinished, [this] { ++filed; });
    }
    // Starts a clipboard monitor and waits for its first capture, of what was there before.
    void startClipboardMonitor(Pasteboard& pasteboard, CaptureLimits limits = {}) {
        createClipboardMonitor(pasteboard, limits);
        clipboardMonitor->start();
        ASSERT_TRUE(waitUntil([&] { return !outcomes.isEmpty(); }));
    }
    // Starts a primary selection monitor and forgets its look at what was selected before.
    void
    startSelectionMonitor(Pasteboard& selection, Workspace& on,
                          PrimarySelectionMonitor::Timing timing = PrimarySelectionMonitor::defaultTiming) {
        selectionMonitor =
            std::make_unique<PrimarySelectionMonitor>(selection, on, ingestor, nullptr, timing);
        QObject::connect(selectionMonitor.get(), &PrimarySelectionMonitor::selectionRead,
                         [this](CaptureOutcome outcome) { outcomes.append(outcome); });
        QObject::connect(selectionMonitor.get(), &PrimarySelectionMonitor::textRecorded,
                         [this](const QString& text) { recorded.append(text); });
        QObject::connect(&ingestor, &ClipIngestor::jobFinished, [this] { ++filed; });
        selectionMonitor->start();
        ASSERT_TRUE(waitUntil([&] { return outcomes.size() == 1; }));
        outcomes.clear();
    }

    QList<CaptureOutcome> outcomesFor(qint64 changeCount) const {
        QList<CaptureOutcome> result;
        for (qsizetype index = 0; index < outcomes.size(); ++index) {
            if (outcomeChanges.value(index) == changeCount) {
                result.append(outcomes[index]);
            }
        }
        return result;
    }
    // Both stores' items, the sync store's first, each newest first.
    QList<ClipItem> items() {
        return ClipStore::allItems(store.syncContext()) + ClipStore::allItems(store.localContext());
    }
    QStringList titles() {
        QStringList result;
        for (const ClipItem& item : items()) {
            result << item.title;
        }
        return result;
    }
    // The newest clip of the sync store, or of the local one.
    std::optional<Clip> newestClip(bool local = false) {
        ModelContainer& container = local ? store.localContainer() : store.syncContainer();
        const QList<ClipItem> stored =
            ClipStore::allItems(local ? store.localContext() : store.syncContext());
        return stored.isEmpty() ? std::nullopt : store.loadClip(stored.front().id, container);
    }

    TestEnvironment environment;
    ClipStore store{ClipStore::Location::inMemory};
    FakeWorkspace workspace;
    ClipIngestor ingestor{store};
    std::unique_ptr<ClipboardMonitor> clipboardMonitor;
    std::unique_ptr<PrimarySelectionMonitor> selectionMonitor;
    QList<CaptureOutcome> outcomes;
    QList<qint64> outcomeChanges;
    QStringList recorded;
    int filed = 0;
};

} // namespace snipjar::test
