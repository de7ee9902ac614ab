#pragma once

#include <QByteArray>
#include <QStringView>

#include <optional>

namespace snipjar {

// Keys written as text in the build configuration, the settings file or a key file: hexadecimal
// (either case) or base64 (standard or URL alphabet, padding optional), with surrounding white
// space ignored. A text that decodes to any other length than the one expected is no key at all,
// so a truncated or mistyped key reads as "not set" instead of as a different key.
class KeyText {
public:
    static std::optional<QByteArray> decode(QStringView text, qsizetype length);
};

} // namespace snipjar
