#include "sync/engine/SyncEngineWorker.h"

namespace snipjar::sync {

SyncEngineWorker::SyncEngineWorker(std::shared_ptr<cloud::CloudDatabase> database)
    : database(std::move(database))
    , context(std::make_unique<QObject>()) {
    thread.setObjectName(QStringLiteral("sync-engine"));
    context->moveToThread(&thread);
    thread.start();
}

SyncEngineWorker::~SyncEngineWorker() {
    stop();
}

void SyncEngineWorker::stop() {
    if (thread.isFinished() || !thread.isRunning()) {
        return;
    }
    thread.quit();
    while (!thread.wait(QDeadlineTimer(20))) {
        database->cancel();
    }
}

} // namespace snipjar::sync
