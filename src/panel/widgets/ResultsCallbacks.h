#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace snipjar {

// What the result list and the preview pane hand back to the panel controller. Each action holds
// the controller weakly and does nothing once it is gone.
struct ResultsCallbacks {
    std::function<void()> onTogglePin;
    std::function<void()> onDelete;
    // A computer chip was clicked: its device id, or none for every computer.
    std::function<void(const std::optional<QString>&)> onSelectMac;
    // A single click on the row at this position among the visible rows.
    std::function<void(int)> onSelectRow;
    // A double click on the row at this position among the visible rows.
    std::function<void(int)> onPasteRow;
};

} // namespace snipjar
