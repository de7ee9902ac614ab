#include "app/settings/SettingsEvents.h"

namespace snipjar {

SettingsEvents& SettingsEvents::instance() {
    static SettingsEvents events;
    return events;
}

} // namespace snipjar
