#pragma once

#include "app/update/UpdateInfo.h"

#include <QMetaType>
#include <QString>

#include <optional>

namespace snipjar {

// The answer to one update check. Only a verified feed naming a higher version is ever Newer.
struct UpdateOutcome {
    enum class Kind { Newer, UpToDate, Failed };

    Kind kind = Kind::Failed;
    // The feed's release: set for Newer and UpToDate.
    std::optional<UpdateInfo> info;
    // Why the check failed, as a sentence for the user; set for Failed only.
    QString message;

    static UpdateOutcome newer(const UpdateInfo& info) { return {Kind::Newer, info, {}}; }
    static UpdateOutcome upToDate(const UpdateInfo& info) { return {Kind::UpToDate, info, {}}; }
    static UpdateOutcome failed(const QString& message) { return {Kind::Failed, std::nullopt, message}; }
};

} // namespace snipjar

Q_DECLARE_METATYPE(snipjar::UpdateOutcome)
