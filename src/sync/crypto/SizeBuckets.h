#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace snipjar::crypto {

// The padded size of `size` bytes: at least 256, and within an eighth of the next power of two,
// so that a length the server sees tells little more than its order of magnitude.
qint64 paddedSize(qint64 size);

// The byte after the content of a padded value or asset; zeros follow it to the padded size, so
// that the content's end is the last byte that is not zero.
constexpr unsigned char padMarker = 0x80;

// The bytes as libsodium takes them.
inline const unsigned char* bytesOf(const QByteArray& bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}

} // namespace snipjar::crypto
