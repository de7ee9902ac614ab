#pragma once

#include "platform/x11/DesktopEntryIndex.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QObject>
#include <QSet>

#include <functional>
#include <memory>
#include <optional>

namespace snipjar {

// The desktop entries as the workspace looks them up, read on a thread-pool thread and never on
// the caller's: the frontmost application is named in the middle of a capture on the main thread,
// and reading every entry of the system takes far longer than a capture may stall.
//
// A lookup answers at once from the index at hand (none before the first read has arrived). A class
// that no entry matches is remembered as a miss; a miss once the index is older than the rescan
// interval starts a new read in the background, so that a newly installed application is found.
// A read's result replaces the index on the owner's thread unless a newer one is already in place.
class DesktopEntryIndexCache : public QObject {
    Q_OBJECT
public:
    using Scanner = std::function<DesktopEntryIndex()>;
    static constexpr qint64 defaultRescanMilliseconds = 60'000;

    // The scanner runs on a thread-pool thread; by default it reads the XDG data folders. The first
    // read starts at once.
    explicit DesktopEntryIndexCache(Scanner scanner = {},
                                    qint64 rescanMilliseconds = defaultRescanMilliseconds,
                                    QObject* parent = nullptr);
    ~DesktopEntryIndexCache() override;

    std::optional<DesktopEntryIndex::Entry> entryForWindowClass(const QString& windowClass);

private:
    void startScan();
    void applyScan(quint64 generation);

    Scanner scanner;
    qint64 rescanMilliseconds;
    std::optional<DesktopEntryIndex> index;
    quint64 indexGeneration = 0;
    quint64 latestGeneration = 0;
    QElapsedTimer indexAge;
    // Lower-case classes that the index at hand does not know.
    QSet<QString> misses;
    std::unique_ptr<QFutureWatcher<DesktopEntryIndex>> running;
};

} // namespace snipjar
