#include "paste/StoredClipPaster.h"

#include "paste/Paster.h"
#include "store/ClipStore.h"

#include <QPointer>
#include <QThreadPool>

namespace snipjar {

StoredClipPaster::StoredClipPaster(ClipStore& store, Paster& paster, Workspace& workspace, QObject* parent)
    : QObject(parent)
    , store(store)
    , paster(paster)
    , workspace(workspace)
    , loader(std::make_unique<QThreadPool>()) {
    loader->setMaxThreadCount(1);
}

StoredClipPaster::~StoredClipPaster() {
    loader->waitForDone();
}

void StoredClipPaster::paste(const QUuid& id, const std::optional<RunningApplication>& target) {
    // The clip becomes the newest of the history.
    store.touch(id);
    waiting.push_back(Request{id, target});
    loadNext();
}

void StoredClipPaster::loadNext() {
    // One load at a time, in the order asked: a thread pool does not keep its queue in order, and a
    // paste from the tray right after one from the panel must land second.
    if (loading || waiting.empty()) {
        return;
    }
    loading = true;
    const Request request = waiting.front();
    waiting.pop_front();
    StoredClipPaster* const context = this;
    const QPointer<StoredClipPaster> self(this);
    loader->start(
        [context, self, request, &store = store] {
            std::optional<Clip> clip = store.loadClip(request.id, store.syncContainer());
            if (!clip) {
                clip = store.loadClip(request.id, store.localContainer());
            }
            std::optional<QByteArray> tiff = clip ? Paster::tiffFallback(*clip) : std::nullopt;
            QMetaObject::invokeMethod(
                context,
                [self, request, clip = std::move(clip), tiff = std::move(tiff)] {
                    if (!self) {
                        return;
                    }
                    self->loading = false;
                    if (clip) {
                        // An application that quit meanwhile is no target any more. A window known
                        // without its process (a Wayland toplevel) stays the target: activating it
                        // once it is gone does nothing.
                        std::optional<RunningApplication> current;
                        if (request.target && (request.target->processID == 0 ||
                                               self->workspace.application(request.target->processID))) {
                            current = request.target;
                        }
                        self->paster.paste(*clip, tiff, current);
                        emit self->pasted(request.id);
                    }
                    self->loadNext();
                },
                Qt::QueuedConnection);
        },
        QThread::HighPriority);
}

} // namespace snipjar
