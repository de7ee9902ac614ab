#pragma once

#include "sync/crypto/HistoryKey.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace snipjar::crypto {

// The clear start of every sealed value and asset: a layout version byte, then the eight bytes of
// the sealing key's public id. It is authenticated with the rest, so that neither can be swapped.
struct SealHeader {
    static constexpr char version = 1;
    static constexpr int size = 9;

    static QByteArray of(const HistoryKey& key);
    // The key id ("k" and 16 hex digits) named by sealed bytes; none when they do not start with a
    // header of this version.
    static std::optional<QString> keyIdOf(const QByteArray& sealed);
};

} // namespace snipjar::crypto
