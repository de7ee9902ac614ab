#pragma once

#include <QDateTime>

#include <chrono>
#include <optional>

namespace snipjar {

// When the background check is due: once a day after the last check that got an answer.
class UpdateSchedule {
public:
    static constexpr std::chrono::hours interval{24};

    // Due when there was no answered check yet, when the last one is a day or more ago, and when
    // it lies in the future, which only a clock set back can cause.
    static bool isDue(const std::optional<QDateTime>& lastCheck, const QDateTime& now);
};

} // namespace snipjar
