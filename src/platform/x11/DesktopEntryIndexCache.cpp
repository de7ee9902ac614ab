#include "platform/x11/DesktopEntryIndexCache.h"

#include <QtConcurrent/QtConcurrentRun>

namespace snipjar {

DesktopEntryIndexCache::DesktopEntryIndexCache(Scanner scanner, qint64 rescanMilliseconds, QObject* parent)
    : QObject(parent)
    , scanner(scanner ? std::move(scanner) : [] { return DesktopEntryIndex::scan(); })
    , rescanMilliseconds(rescanMilliseconds) {
    startScan();
}

// A read still running finishes on its own; its watcher is gone, so the result goes nowhere.
DesktopEntryIndexCache::~DesktopEntryIndexCache() = default;

std::optional<DesktopEntryIndex::Entry>
DesktopEntryIndexCache::entryForWindowClass(const QString& windowClass) {
    if (windowClass.isEmpty() || !index) {
        return std::nullopt;
    }
    const QString key = windowClass.toLower();
    if (!misses.contains(key)) {
        if (std::optional<DesktopEntryIndex::Entry> entry = index->entryForWindowClass(windowClass)) {
            return entry;
        }
        misses.insert(key);
    }
    if (!running && indexAge.elapsed() >= rescanMilliseconds) {
        startScan();
    }
    return std::nullopt;
}

void DesktopEntryIndexCache::startScan() {
    const quint64 generation = ++latestGeneration;
    running = std::make_unique<QFutureWatcher<DesktopEntryIndex>>();
    connect(running.get(), &QFutureWatcherBase::finished, this,
            [this, generation] { applyScan(generation); });
    running->setFuture(QtConcurrent::run(scanner));
}

void DesktopEntryIndexCache::applyScan(quint64 generation) {
    // The watcher is inside its own signal here, so it is deleted from the event loop.
    QFutureWatcher<DesktopEntryIndex>* finished = running.release();
    finished->deleteLater();
    // An older read that finishes late never replaces the result of a newer one.
    if (generation <= indexGeneration) {
        return;
    }
    index = finished->result();
    indexGeneration = generation;
    indexAge.start();
    misses.clear();
}

} // namespace snipjar
