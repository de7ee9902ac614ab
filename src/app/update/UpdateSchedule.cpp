#include "app/update/UpdateSchedule.h"

namespace snipjar {

bool UpdateSchedule::isDue(const std::optional<QDateTime>& lastCheck, const QDateTime& now) {
    if (!lastCheck || !lastCheck->isValid()) {
        return true;
    }
    const qint64 elapsed = lastCheck->msecsTo(now);
    return elapsed < 0 || elapsed >= std::chrono::milliseconds(interval).count();
}

} // namespace snipjar
