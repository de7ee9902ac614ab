#pragma once

#include <QByteArray>

namespace snipjar::crypto::wordBits {

// Bytes seen as a string of bits, most significant first, cut into words of 11 bits: the
// position-th group, or 0 for bits past the end.
inline int read(const QByteArray& bytes, int position) {
    int value = 0;
    for (int bit = position * 11; bit < position * 11 + 11; ++bit) {
        const int byte = bit / 8;
        const int set =
            byte < bytes.size() ? (static_cast<unsigned char>(bytes[byte]) >> (7 - bit % 8)) & 1 : 0;
        value = (value << 1) | set;
    }
    return value;
}

// Sets the position-th group of 11 bits to value; bytes must be long enough to hold it.
inline void write(QByteArray& bytes, int position, int value) {
    for (int offset = 0; offset < 11; ++offset) {
        const int bit = position * 11 + offset;
        const auto mask = static_cast<unsigned char>(1u << (7 - bit % 8));
        auto byte = static_cast<unsigned char>(bytes[bit / 8]);
        byte = (value >> (10 - offset)) & 1 ? byte | mask : byte & ~mask;
        bytes[bit / 8] = static_cast<char>(byte);
    }
}

} // namespace snipjar::crypto::wordBits
