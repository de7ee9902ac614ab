#pragma once

#include "app/CommandLine.h"
#include "app/cli/CommandOutcome.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace snipjar {

// `snipjar config [KEY [VALUE]]`: the settings the settings window shows, read and written with
// the same checks. Values are written as the window writes them; a running Snipjar is then told
// which one changed, so that it acts at once.
class SettingsCommand {
public:
    // Called once a setting was written, with its name; a reason when the running Snipjar could not
    // take the value after all (a hot key another program holds), which it has then put back.
    using Applied = std::function<std::optional<QString>(const QString& key)>;

    static CommandOutcome run(const CommandLine& commandLine, const Applied& applied = {});
    static QStringList keys();
};

} // namespace snipjar
