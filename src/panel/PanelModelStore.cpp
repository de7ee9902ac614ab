// The procedures of the panel that read and change the history store: loading the rows and their
// thumbnails, the pin toggle, the two-step delete, and the state at show and hide.

#include "panel/PanelModel.h"

#include "panel/PreviewLoader.h"
#include "panel/RowLoader.h"
#include "store/ClipStore.h"

#include <QPointer>
#include <QThreadPool>

namespace snipjar {

namespace {

// Rows come first, then previews (priority 0), then thumbnails, which only replace a symbol.
constexpr int thumbnailPriority = -1;

} // namespace

QList<PanelModel::Row> PanelModel::loadRows() const {
    return RowLoader::loadRows(store);
}

void PanelModel::requestRows(std::function<void(QList<Row>)> apply) {
    const quint64 load = ++rowLoad;
    rowsLoading = true;
    PanelModel* const context = this;
    const QPointer<PanelModel> owner(this);
    loaders->start(
        [context, owner, load, &store = store, contexts = rowContexts, apply = std::move(apply)] {
            QList<Row> loaded;
            {
                const std::lock_guard lock(contexts->mutex);
                if (!contexts->synced) {
                    contexts->synced = store.syncContainer().newContext();
                    contexts->local = store.localContainer().newContext();
                }
                // Read before the rows, so that a change committed meanwhile loads them again next time.
                const std::pair versions{contexts->synced->dataVersion(), contexts->local->dataVersion()};
                if (contexts->versions != versions) {
                    contexts->rows = RowLoader::loadRows(*contexts->synced, *contexts->local);
                    contexts->versions = versions;
                }
                // Shared, not copied.
                loaded = contexts->rows;
            }
            QMetaObject::invokeMethod(
                context,
                [owner, load, apply, loaded = std::move(loaded)]() mutable {
                    if (!owner || owner->rowLoad != load) {
                        return;
                    }
                    owner->rowsLoading = false;
                    apply(std::move(loaded));
                    emit owner->rowsLoaded();
                },
                Qt::QueuedConnection);
        },
        QThread::HighPriority);
}

void PanelModel::setRowsKeepingSelection(QList<Row> loaded) {
    // Clips that arrived meanwhile (by sync, from the command line) move the selected one down; the
    // highlight follows the clip, so that Return pastes what the user chose. Only a clip that is
    // gone leaves its index to the row that took its place.
    const std::optional<Row> chosen = selectedRow();
    const int remembered = selected;
    setRows(std::move(loaded));
    setSelection(remembered);
    if (chosen) {
        for (qsizetype index = 0; index < visibleCount(); ++index) {
            if (visibleRow(index).id == chosen->id) {
                setSelection(int(index));
                break;
            }
        }
    }
    clampSelection();
}

void PanelModel::reloadKeepingSelection() {
    requestRows([this](QList<Row> loaded) {
        setRowsKeepingSelection(std::move(loaded));
        schedulePreview();
    });
}

std::optional<QImage> PanelModel::thumbnail(const QUuid& id) {
    if (const QImage* cached = thumbnails.object(id)) {
        return *cached;
    }
    if (!thumbnailsLoading.contains(id)) {
        thumbnailsLoading.insert(id);
        PanelModel* const context = this;
        const QPointer<PanelModel> owner(this);
        loaders->start(
            [context, owner, id, &store = store] {
                QImage image = PreviewLoader::loadThumbnail(store, id);
                QMetaObject::invokeMethod(
                    context,
                    [owner, id, image = std::move(image)] {
                        if (!owner) {
                            return;
                        }
                        owner->thumbnailsLoading.remove(id);
                        owner->thumbnails.insert(id, new QImage(image), int(image.sizeInBytes() / 1024) + 1);
                        emit owner->thumbnailLoaded(id);
                    },
                    Qt::QueuedConnection);
            },
            thumbnailPriority);
    }
    return std::nullopt;
}

void PanelModel::togglePinSelected() {
    const std::optional<Row> row = selectedRow();
    if (!row) {
        return;
    }
    store.togglePin(row->id);
    reloadKeepingSelection();
}

void PanelModel::deleteSelected() {
    const std::optional<Row> row = selectedRow();
    if (!row) {
        return;
    }
    if (armedDelete == row->id) {
        performDelete(*row);
        return;
    }
    armedDelete = row->id;
    emit armedDeleteIDChanged();
}

void PanelModel::performDelete(const Row& row) {
    disarmDelete();
    store.remove(row.id);
    // The same index now holds the row after the deleted one.
    reloadKeepingSelection();
}

void PanelModel::resetForShow() {
    setQuery(QString());
    resetScopes();
    requestRows([this](QList<Row> loaded) {
        setRows(std::move(loaded));
        loadPreview();
    });
}

void PanelModel::resetForHide() {
    // A row load still running is for the panel that was shown.
    ++rowLoad;
    rowsLoading = false;
    cancelPreview();
    setPreview(std::nullopt);
    setRows({});
}

} // namespace snipjar
