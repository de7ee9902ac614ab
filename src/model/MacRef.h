#pragma once

#include <QString>

namespace snipjar {

// One computer in the panel's and the menu's lists: its device identifier and display name.
struct MacRef {
    QString id;
    QString name;

    bool operator==(const MacRef&) const = default;
};

} // namespace snipjar
