#include "paste/StoredClipPaster.h"

#include "model/ClipStore.h"
#include "paste/Paster.h"

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
    StoredClipPaster* const context = this;
    const QPointer<StoredClipPaster> self(this);
    loader->start(
        [context, self, target, id, &store = store] {
            std::optional<Clip> clip = store.loadClip(id, store.syncContainer());
            if (!clip) {
                clip = store.loadClip(id, store.localContainer());
            }
            if (!clip) {
                return;
            }
            std::optional<QByteArray> tiff = Paster::tiffFallback(*clip);
            QMetaObject::invokeMethod(
                context,
                [self, target, id, clip = std::move(*clip), tiff = std::move(tiff)] {
                    if (!self) {
                        return;
                    }
                    // An application that quit meanwhile is no target any more.
                    std::optional<RunningApplication> current;
                    if (target && self->workspace.application(target->processID)) {
                        current = target;
                    }
                    self->paster.paste(clip, tiff, current);
                    emit self->pasted(id);
                },
                Qt::QueuedConnection);
        },
        QThread::HighPriority);
}

} // namespace snipjar
