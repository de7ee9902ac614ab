#pragma once

#include "panel/PanelRow.h"

#include <QList>

namespace snipjar {

class ClipStore;
class ModelContext;

// Builds the panel's rows from the history store: one row per group of the same content, over
// the sync store's items followed by the local store's, newest first.
class RowLoader {
public:
    // Any thread: it reads through fresh contexts of the store's containers.
    static QList<PanelRow> loadRows(ClipStore& store);
    // Through the given contexts of the sync and the local store, on the thread that uses them.
    static QList<PanelRow> loadRows(ModelContext& synced, ModelContext& local);
};

} // namespace snipjar
