#pragma once

#include <QtGlobal>

namespace snipjar::crypto {

// The padded size of `size` bytes: at least 256, and within an eighth of the next power of two,
// so that a length the server sees tells little more than its order of magnitude.
qint64 paddedSize(qint64 size);

} // namespace snipjar::crypto
