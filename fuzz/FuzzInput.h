#pragma once

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>

namespace snipjar::fuzz {

// The fuzzer's bytes without a copy; valid while LLVMFuzzerTestOneInput runs.
inline QByteArray bytesOf(const uint8_t* data, size_t size) {
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// The input cut at each NUL byte into at most count parts (the last takes the rest), so that one
// input can carry several values: a record's name and its fields, the lines of a settings file.
inline QList<QByteArray> partsOf(const QByteArray& input, qsizetype count) {
    QList<QByteArray> parts;
    qsizetype start = 0;
    while (parts.size() + 1 < count) {
        const qsizetype end = input.indexOf('\0', start);
        if (end < 0) {
            break;
        }
        parts.append(input.mid(start, end - start));
        start = end + 1;
    }
    parts.append(input.mid(start));
    return parts;
}

// Ends the run with libFuzzer's crash report when a promise of the parser is broken.
#define SNIPJAR_FUZZ_CHECK(condition)                                                                        \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);                   \
            abort();                                                                                         \
        }                                                                                                    \
    } while (false)

} // namespace snipjar::fuzz
