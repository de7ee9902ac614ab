#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <optional>

namespace snipjar {

// Text given to `snipjar add`: read no further than a clip can hold, and accepted only as UTF-8
// without NUL bytes. Light enough for the command client, which links no more than Qt Core.
class TextInput {
public:
    // The store's limit for one clip.
    static constexpr qint64 largestBytes = 50'000'000;

    // The bytes of a stream, or none when there are more than `cap`.
    static std::optional<QByteArray> readCapped(FILE* input, qint64 cap);
    // The text the bytes hold; none for binary data or broken UTF-8.
    static std::optional<QString> decode(const QByteArray& bytes);

    // The one-line refusals.
    static QString tooLarge();
    static QString empty();
    static QString notText();
};

} // namespace snipjar
