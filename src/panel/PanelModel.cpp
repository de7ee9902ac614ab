#include "panel/PanelModel.h"

#include "panel/PreviewText.h"
#include "store/ClipStore.h"

#include <QSet>
#include <QThreadPool>

#include <algorithm>

namespace snipjar {

PanelModel::PanelModel(ClipStore& store, PreviewCache previewCache, QObject* parent)
    : QObject(parent)
    , store(store)
    , previewCache(std::move(previewCache))
    , loaders(std::make_unique<QThreadPool>()) {
    previewTimer.setSingleShot(true);
    connect(&previewTimer, &QTimer::timeout, this, &PanelModel::loadPreview);
    // A cancelled loader may still be finishing a render; a second thread lets the loader of the
    // next preview start meanwhile.
    loaders->setMaxThreadCount(2);
}

RtfReader::Result PanelModel::readRichText(const QByteArray& rtf) {
    // Styled text is previewed under the same limit as plain text: even on a loader, a million
    // characters took minutes to lay out.
    return RtfReader::read(rtf, RtfReader::Limits{.maxCharacters = PreviewText::shownCharacterLimit});
}

PanelModel::~PanelModel() {
    cancelPreview();
    loaders->waitForDone();
}

void PanelModel::setQuery(const QString& query) {
    if (query == currentQuery) {
        return;
    }
    currentQuery = query;
    refilter();
    emit queryChanged();
    emit visibleRowsChanged();
}

void PanelModel::setSelection(int selection) {
    if (selection == selected) {
        return;
    }
    selected = selection;
    emit selectionChanged();
}

void PanelModel::setTypeScope(TypeScope scope) {
    if (scope == currentTypeScope) {
        return;
    }
    currentTypeScope = scope;
    refilter();
    emit typeScopeChanged();
    emit visibleRowsChanged();
}

void PanelModel::setMacScope(const std::optional<QString>& macScope) {
    if (macScope == currentMacScope) {
        return;
    }
    currentMacScope = macScope;
    refilter();
    emit macScopeChanged();
    emit visibleRowsChanged();
}

void PanelModel::setIsSyncing(bool isSyncing) {
    if (isSyncing == syncing) {
        return;
    }
    syncing = isSyncing;
    emit isSyncingChanged();
}

void PanelModel::disarmDelete() {
    if (!armedDelete) {
        return;
    }
    armedDelete.reset();
    emit armedDeleteIDChanged();
}

void PanelModel::setPreview(std::optional<Preview> preview) {
    if (preview == currentPreview) {
        return;
    }
    currentPreview = std::move(preview);
    emit previewChanged();
}

void PanelModel::refilter() {
    filter.filter(rows, currentQuery, currentTypeScope, currentMacScope, visible);
}

QList<PanelModel::Row> PanelModel::visibleRows() const {
    QList<Row> result;
    result.reserve(visibleCount());
    for (const qsizetype position : visible) {
        result.append(rows[position]);
    }
    return result;
}

std::optional<PanelModel::Row> PanelModel::selectedRow() const {
    if (selected < 0 || selected >= visibleCount()) {
        return std::nullopt;
    }
    return visibleRow(selected);
}

void PanelModel::setRows(QList<Row> newRows) {
    rows = std::move(newRows);
    filter.index(rows);
    // The visible positions are brought up to date before any signal, so that no receiver ever
    // sees positions into the old rows.
    refilter();

    // The computers in row order; a later entry for the same computer is dropped even when its
    // name differs.
    QList<MacRef> present;
    QSet<QString> seen;
    for (const Row& row : std::as_const(rows)) {
        for (const MacRef& origin : row.origins) {
            if (!seen.contains(origin.id)) {
                seen.insert(origin.id);
                present.append(origin);
            }
        }
    }
    const bool macsDiffer = present != computers;
    computers = std::move(present);
    const bool macScopeGone = currentMacScope && !seen.contains(*currentMacScope);
    if (macScopeGone) {
        currentMacScope.reset();
        refilter();
    }

    emit rowsChanged();
    if (macsDiffer) {
        emit macsChanged();
    }
    if (macScopeGone) {
        emit macScopeChanged();
    }
    emit visibleRowsChanged();
    clampSelection();
}

void PanelModel::clampSelection() {
    const qsizetype count = visibleCount();
    setSelection(count == 0 ? 0 : int(std::clamp<qsizetype>(selected, 0, count - 1)));
}

void PanelModel::moveSelection(int step) {
    setSelection(selected + step);
    clampSelection();
}

void PanelModel::resetScopes() {
    setTypeScope(TypeScope::all);
    setMacScope(std::nullopt);
    setSelection(0);
}

void PanelModel::cycleTypeScope(int step) {
    setTypeScope(cycledTypeScope(currentTypeScope, step));
    setSelection(0);
}

void PanelModel::cycleMacScope(int step) {
    if (computers.size() < 2) {
        return;
    }
    // Option 0 is every computer, option i + 1 the i-th of macs(); an unknown filter counts as 0.
    const qsizetype options = computers.size() + 1;
    qsizetype current = 0;
    if (currentMacScope) {
        const auto found = std::find_if(computers.cbegin(), computers.cend(),
                                        [this](const MacRef& mac) { return mac.id == *currentMacScope; });
        current = found == computers.cend() ? 0 : (found - computers.cbegin()) + 1;
    }
    const qsizetype next = ((current + step) % options + options) % options;
    setMacScope(next == 0 ? std::nullopt : std::optional(computers[next - 1].id));
    setSelection(0);
}

} // namespace snipjar
