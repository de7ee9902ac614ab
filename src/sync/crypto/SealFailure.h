#pragma once

#include <QString>

namespace snipjar::crypto {

// Why sealed bytes could not be opened. A value that was damaged and one that was moved from
// another record or account look the same: both fail authentication.
enum class SealFailure {
    malformed,  // not sealed bytes of a layout this version knows
    otherKey,   // sealed with a key this computer does not hold
    forged,     // fails authentication: damaged, or moved from another record or account
    tooLarge,   // larger than the caller accepts
    unreadable, // a file could not be read or written
};

// Words for logs and messages, e.g. "sealed with another key".
QString sealFailureText(SealFailure failure);

} // namespace snipjar::crypto
