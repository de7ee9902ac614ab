#include "sync/crypto/SizeBuckets.h"

namespace snipjar::crypto {

qint64 paddedSize(qint64 size) {
    constexpr qint64 smallest = 256;
    if (size <= smallest) {
        return smallest;
    }
    qint64 power = smallest;
    while (power < size) {
        power *= 2;
    }
    const qint64 step = power / 8;
    return (size + step - 1) / step * step;
}

} // namespace snipjar::crypto
