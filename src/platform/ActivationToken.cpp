#include "platform/ActivationToken.h"

#include <QByteArray>

#include <cstdlib>
#include <cstring>

namespace snipjar {

std::optional<QString> ActivationToken::checked(QStringView given) {
    if (given.isEmpty() || given.size() > largestLength) {
        return std::nullopt;
    }
    for (const QChar character : given) {
        if (character.unicode() < 0x20 || character.unicode() > 0x7e) {
            return std::nullopt;
        }
    }
    return given.toString();
}

std::optional<QString> ActivationToken::fromEnvironment() {
    // Read with getenv and measured before any copy: the variable may be as long as the system
    // lets an environment string be.
    for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        const char* value = std::getenv(name);
        if (!value || value[0] == '\0') {
            continue;
        }
        const std::size_t length = ::strnlen(value, largestLength + 1);
        return checked(QString::fromLatin1(value, qsizetype(length)));
    }
    return std::nullopt;
}

} // namespace snipjar
