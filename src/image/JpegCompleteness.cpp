#include "image/JpegCompleteness.h"

#include <cstring>

namespace snipjar {

namespace {

constexpr unsigned char markerPrefix = 0xFF;
constexpr unsigned char startOfImage = 0xD8;
constexpr unsigned char endOfImage = 0xD9;
constexpr unsigned char startOfScan = 0xDA;

bool isStandalone(unsigned char marker) {
    // RSTn, SOI, EOI and TEM carry no length field.
    return (marker >= 0xD0 && marker <= 0xD9) || marker == 0x01;
}

} // namespace

bool JpegCompleteness::isJpeg(QByteArrayView bytes) {
    return bytes.size() >= 3 && quint8(bytes[0]) == markerPrefix && quint8(bytes[1]) == startOfImage &&
           quint8(bytes[2]) == markerPrefix;
}

bool JpegCompleteness::isComplete(QByteArrayView bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype size = bytes.size();
    qsizetype position = 2;
    while (position < size) {
        if (data[position] != markerPrefix) {
            // Entropy-coded data after a scan: skip to the next 0xFF that starts a real marker
            // (0xFF00 is a stuffed data byte, 0xFFD0..0xFFD7 are restart markers inside the scan).
            const void* found = std::memchr(data + position, markerPrefix, size_t(size - position));
            if (found == nullptr) {
                return false;
            }
            position = static_cast<const unsigned char*>(found) - data;
            continue;
        }
        if (position + 1 >= size) {
            return false;
        }
        const unsigned char marker = data[position + 1];
        if (marker == markerPrefix) {
            ++position; // fill bytes before a marker
            continue;
        }
        if (marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7)) {
            position += 2; // still inside the scan data
            continue;
        }
        if (marker == endOfImage) {
            return true;
        }
        if (isStandalone(marker)) {
            position += 2;
            continue;
        }
        if (position + 3 >= size) {
            return false;
        }
        const qsizetype length = (qsizetype(data[position + 2]) << 8) | data[position + 3];
        if (length < 2) {
            return false;
        }
        position += 2 + length;
        if (marker == startOfScan && position > size) {
            return false;
        }
    }
    return false;
}

} // namespace snipjar
