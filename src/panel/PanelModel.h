#pragma once

#include "image/PreviewCache.h"
#include "model/MacRef.h"
#include "panel/PanelPreview.h"
#include "panel/PanelRow.h"
#include "panel/PreviewDocument.h"
#include "panel/RowFilter.h"
#include "panel/RtfReader.h"
#include "panel/TypeScope.h"
#include "store/ModelContext.h"

#include <QByteArray>
#include <QCache>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <utility>
#include <vector>

class QTextDocument;
class QThreadPool;

namespace snipjar {

struct ClipItem;
class ClipStore;
struct PreviewText;

// The state behind the history panel: the query, the kind and computer filters, every row, the
// selection, the preview of the selected clip, the armed delete and the syncing flag. The view
// only reads it and follows its change signals; the panel controller writes it from key presses,
// clicks and store results, through the operations below and the procedures that fill it from the
// store (row loading, preview loading, pin toggle, two-step delete).
//
// Everything here belongs to the main thread. The rows, the two preview loaders and the thumbnails
// are read on the model's own thread pool, and their results are applied on the main thread: rows
// when no newer load was asked for, previews once they were neither cancelled nor overtaken by
// another selection.
class PanelModel : public QObject {
    Q_OBJECT
public:
    using Row = PanelRow;
    using Preview = PanelPreview;

    // A held arrow key moves the selection faster than this, and only its last position loads.
    static constexpr std::chrono::milliseconds previewDelay{90};

    // The store must outlive the model. Rich text is read as RTF unless another reader is set.
    PanelModel(ClipStore& store, PreviewCache previewCache, QObject* parent = nullptr);
    // Cancels the preview and waits for a loader still running, which may be using the store.
    ~PanelModel() override;
    PanelModel(const PanelModel&) = delete;
    PanelModel& operator=(const PanelModel&) = delete;

    // Reads RTF into a styled document under the preview's character limit, and says whether it
    // cut it; no document when the bytes cannot be read. Runs on a loader thread.
    static RtfReader::Result readRichText(const QByteArray& rtf);
    // How text previews are set and how wide; the preview pane writes it. A text preview on show
    // is built again, on a loader, when the style changes.
    void setTextPreviewStyle(const PreviewDocumentStyle& style);
    const PreviewDocumentStyle& textPreviewStyle() const { return previewStyle; }

    // Published state.
    const QString& query() const { return currentQuery; }
    int selection() const { return selected; }
    const QList<Row>& all() const { return rows; }
    const std::optional<Preview>& preview() const { return currentPreview; }
    bool isSyncing() const { return syncing; }
    const std::optional<QUuid>& armedDeleteID() const { return armedDelete; }
    TypeScope typeScope() const { return currentTypeScope; }
    const std::optional<QString>& macScope() const { return currentMacScope; }
    const QList<MacRef>& macs() const { return computers; }

    // Setters re-filter the rows where needed; none of them clamps the selection or schedules a
    // preview, which the controller does in the order its key handling requires.
    void setQuery(const QString& query);
    void setSelection(int selection);
    void setTypeScope(TypeScope scope);
    void setMacScope(const std::optional<QString>& macScope);
    // Written by the application shell from the sync engine's state.
    void setIsSyncing(bool isSyncing);
    void disarmDelete();

    // The rows that pass the filters, in the order of all().
    QList<Row> visibleRows() const;
    qsizetype visibleCount() const { return qsizetype(visible.size()); }
    const Row& visibleRow(qsizetype index) const { return rows[visible[size_t(index)]]; }
    // The visible row at `selection`, when there is one.
    std::optional<Row> selectedRow() const;

    // Replaces every row, rebuilds the computer list, drops a computer filter whose computer is
    // gone and clamps the selection.
    void setRows(QList<Row> rows);
    // Keeps the selection inside the visible rows (0 when there are none).
    void clampSelection();
    // Moves the selection by a step and clamps it: it stops at the ends and never wraps.
    void moveSelection(int step);
    // The kind filter back to all, every computer, the first row.
    void resetScopes();
    // Steps the kind filter, wrapping; the selection goes to the first row.
    void cycleTypeScope(int step);
    // Steps through every computer, then each of macs() in order, wrapping; the selection goes
    // to the first row. Nothing changes with fewer than two computers.
    void cycleMacScope(int step);

    // The rows of both stores, read on the calling thread.
    QList<Row> loadRows() const;
    // True from a row load's start until its rows are set; keys meant for the rows wait for them.
    bool isLoadingRows() const { return rowsLoading; }
    // Reloads the rows on a loader, then keeps the selected clip selected when it is still there
    // (else the selection index, clamped) and schedules a preview.
    void reloadKeepingSelection();
    // The decoded thumbnail of a row's clip when it was loaded (a null image when it has none).
    // Otherwise none: it is loaded on a loader, and thumbnailLoaded says when it is there. Only
    // painted rows ask, and thumbnails are kept across shows.
    std::optional<QImage> thumbnail(const QUuid& id);
    // Disarms delete and loads the preview of the selection after previewDelay; a newer call
    // replaces an older one.
    void schedulePreview();
    // Stops the pending or running preview load; its result, if any, is dropped.
    void cancelPreview();
    // Builds and publishes the preview of the selected row at once, replacing any pending or
    // running load. Images and payloads are read on the loaders and published when they are done.
    void loadPreview();
    void togglePinSelected();
    // The first press arms the selected row; a second press on the same row deletes it.
    void deleteSelected();
    // Deletes the row's content from both stores and every computer; the row that takes its
    // place becomes the selected one.
    void performDelete(const Row& row);

    // The state of a panel just shown: empty query, every scope reset, and the rows loading; once
    // they are there, the first row's preview starts at once.
    void resetForShow();
    // The state of a hidden panel: no preview, no rows, no computers.
    void resetForHide();

signals:
    void queryChanged();
    void selectionChanged();
    void rowsChanged();
    // The set of visible rows may have changed (rows, query or a filter).
    void visibleRowsChanged();
    void previewChanged();
    void isSyncingChanged();
    void armedDeleteIDChanged();
    void typeScopeChanged();
    void macScopeChanged();
    void macsChanged();
    // A row load finished and its rows were set.
    void rowsLoaded();
    void thumbnailLoaded(const QUuid& id);

private:
    void setPreview(std::optional<Preview> preview);
    // Loads the rows on the pool; `apply` gets them on the main thread unless a newer load or a
    // hide came first.
    void requestRows(std::function<void(QList<Row>)> apply);
    void setRowsKeepingSelection(QList<Row> rows);
    void refilter();
    // Loaders are started on the model's pool; `apply` runs on the main thread only when the
    // preview task is still current and the selection still shows the same clip.
    template <typename Result, typename Load, typename Apply>
    void runLoader(const QUuid& clipID, Load load, Apply apply);
    bool isCurrent(const std::stop_token& task, const QUuid& clipID) const;
    void publishPreview(const ClipItem& item, bool localOnly, const PreviewText& text,
                        std::shared_ptr<const QTextDocument> document, QImage image);

    ClipStore& store;
    const PreviewCache previewCache;
    PreviewDocumentStyle previewStyle;

    QString currentQuery;
    int selected = 0;
    QList<Row> rows;
    std::optional<Preview> currentPreview;
    bool syncing = false;
    std::optional<QUuid> armedDelete;
    TypeScope currentTypeScope = TypeScope::all;
    std::optional<QString> currentMacScope;
    QList<MacRef> computers;

    RowFilter filter;
    std::vector<qsizetype> visible;

    bool rowsLoading = false;
    quint64 rowLoad = 0;
    // The row loads' own contexts, kept from one load to the next: a connection's page cache
    // keeps the next load quick. The rows of the last load are kept with the stores' data versions
    // they were read at, and given again while neither store changed: reading and grouping ten
    // thousand items took most of the panel's opening time. One load uses them at a time.
    struct RowContexts {
        std::mutex mutex;
        std::unique_ptr<ModelContext> synced;
        std::unique_ptr<ModelContext> local;
        std::optional<std::pair<qint64, qint64>> versions;
        QList<Row> rows;
    };
    std::shared_ptr<RowContexts> rowContexts = std::make_shared<RowContexts>();
    // Decoded thumbnails by clip id, their cost in kilobytes.
    QCache<QUuid, QImage> thumbnails{4096};
    QSet<QUuid> thumbnailsLoading;

    QTimer previewTimer;
    // The current preview task; a cancelled task's loader stops early and its result is dropped.
    std::stop_source previewTask;
    std::unique_ptr<QThreadPool> loaders;
};

} // namespace snipjar
