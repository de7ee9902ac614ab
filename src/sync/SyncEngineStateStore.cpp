#include "sync/SyncEngineStateStore.h"

#include "platform/AppPaths.h"
#include "platform/LogCategories.h"
#include "platform/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace snipjar::sync {

namespace {

bool writeState(const QString& path, const StateSerialization& state) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!AppPaths::ensurePrivateFolder(folder)) {
        qCCritical(lcSyncState).noquote()
            << QStringLiteral("state save failed: %1")
                   .arg(QStringLiteral("cannot create the folder %1").arg(folder));
        return false;
    }
    const QByteArray bytes = state.toJson();
    // The temporary file is created 0600; rename into place keeps the previous file whole until the
    // new one is complete on disk.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        qCCritical(lcSyncState).noquote() << QStringLiteral("state save failed: %1").arg(file.errorString());
        file.cancelWriting();
        return false;
    }
    PrivateFiles::restrictFile(path);
    return true;
}

} // namespace

// One thread that writes the newest state handed to it. A state that is still waiting when a newer
// one arrives is replaced: the file only ever moves forward.
class SyncEngineStateStore::Writer {
public:
    explicit Writer(QString path)
        : path(std::move(path)) {}

    ~Writer() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        if (thread.joinable()) {
            thread.join();
        }
    }

    void submit(const StateSerialization& state) {
        {
            std::lock_guard lock(mutex);
            waiting = state;
            ++submitted;
            if (!thread.joinable()) {
                thread = std::thread([this] { run(); });
            }
        }
        wake.notify_all();
    }

    void waitForAll() {
        std::unique_lock lock(mutex);
        const std::uint64_t target = submitted;
        finished.wait(lock, [&] { return written >= target; });
    }

private:
    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stopping || waiting.has_value(); });
            if (!waiting) {
                return;
            }
            const StateSerialization state = std::move(*waiting);
            waiting.reset();
            const std::uint64_t covers = submitted;
            lock.unlock();
            writeState(path, state);
            lock.lock();
            written = covers;
            finished.notify_all();
        }
    }

    const QString path;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    std::optional<StateSerialization> waiting;
    // Saves handed over, and how many of them the file holds (a replaced one counts as written).
    std::uint64_t submitted = 0;
    std::uint64_t written = 0;
    bool stopping = false;
    std::thread thread;
};

SyncEngineStateStore::SyncEngineStateStore(QString filePath)
    : path(std::move(filePath))
    , writer(std::make_unique<Writer>(path)) {}

SyncEngineStateStore::~SyncEngineStateStore() = default;

std::unique_ptr<SyncEngineStateStore> SyncEngineStateStore::standard() {
    const QString folder = AppPaths::storeFolder();
    QFile::remove(folder + QLatin1Char('/') + retiredFileName);
    return std::make_unique<SyncEngineStateStore>(folder + QLatin1Char('/') + fileName);
}

std::optional<StateSerialization> SyncEngineStateStore::load() const {
    waitForSaves();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty()) {
        return std::nullopt;
    }
    QString error;
    std::optional<StateSerialization> state = StateSerialization::fromJson(bytes, &error);
    if (!state) {
        qCCritical(lcSyncState).noquote()
            << QStringLiteral("state file undecodable (%1) — cold-bootstrapping").arg(error);
    }
    return state;
}

void SyncEngineStateStore::save(const StateSerialization& state) {
    writer->submit(state);
}

void SyncEngineStateStore::waitForSaves() const {
    writer->waitForAll();
}

} // namespace snipjar::sync
