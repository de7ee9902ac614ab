#include "app/cli/TarStream.h"

#include <QRegularExpression>

#include <cstring>

namespace snipjar {

namespace {

constexpr qint64 blockBytes = 512;
// Eleven octal digits in the size field.
constexpr qint64 largestTarSize = (qint64(1) << 33) - 1;

qint64 padding(qint64 size) {
    return (blockBytes - size % blockBytes) % blockBytes;
}

void putOctal(char* field, int width, qint64 value) {
    const QByteArray digits = QByteArray::number(value, 8).rightJustified(width - 1, '0');
    std::memcpy(field, digits.constData(), size_t(width - 1));
    field[width - 1] = '\0';
}

unsigned checksum(const char* header) {
    unsigned sum = 0;
    for (int i = 0; i < blockBytes; ++i) {
        sum += (i >= 148 && i < 156) ? unsigned(' ') : unsigned(static_cast<unsigned char>(header[i]));
    }
    return sum;
}

// An octal field: digits, then NUL or spaces. None when it holds anything else.
std::optional<qint64> octal(const char* field, int width) {
    qint64 value = 0;
    int i = 0;
    while (i < width && field[i] == ' ') {
        ++i;
    }
    const int first = i;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) {
        value = value * 8 + (field[i] - '0');
        if (value > largestTarSize) {
            return std::nullopt;
        }
    }
    if (i == first) {
        return std::nullopt;
    }
    for (; i < width; ++i) {
        if (field[i] != '\0' && field[i] != ' ') {
            return std::nullopt;
        }
    }
    return value;
}

// Relative names of plain characters, without empty, "." or ".." parts: nothing an extracting
// tool could place outside the folder it extracts into.
bool safeName(const QString& name) {
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9._-]+(/[A-Za-z0-9._-]+)*$"));
    if (!allowed.match(name).hasMatch()) {
        return false;
    }
    for (const QString& part : name.split(QLatin1Char('/'))) {
        if (part == QLatin1String(".") || part == QLatin1String("..")) {
            return false;
        }
    }
    return true;
}

} // namespace

bool TarWriter::begin(const QString& name, qint64 size) {
    const QByteArray encoded = name.toUtf8();
    if (encoded.size() >= 100 || size < 0 || size > largestTarSize) {
        return false;
    }
    char header[blockBytes] = {};
    std::memcpy(header, encoded.constData(), size_t(encoded.size()));
    putOctal(header + 100, 8, 0600);
    putOctal(header + 108, 8, 0);
    putOctal(header + 116, 8, 0);
    putOctal(header + 124, 12, size);
    putOctal(header + 136, 12, 0);
    header[156] = '0';
    std::memcpy(header + 257, "ustar", 6);
    std::memcpy(header + 263, "00", 2);
    const QByteArray sum = QByteArray::number(checksum(header), 8).rightJustified(6, '0');
    std::memcpy(header + 148, sum.constData(), 6);
    header[154] = '\0';
    header[155] = ' ';
    memberSize = size;
    return device.write(header, blockBytes) == blockBytes;
}

bool TarWriter::write(const char* data, qint64 length) {
    return device.write(data, length) == length;
}

bool TarWriter::end() {
    const char zeros[blockBytes] = {};
    const qint64 pad = padding(memberSize);
    return device.write(zeros, pad) == pad;
}

bool TarWriter::finish() {
    const char zeros[2 * blockBytes] = {};
    return device.write(zeros, sizeof zeros) == qint64(sizeof zeros);
}

std::optional<TarReader::Member> TarReader::fail(const QString& message) {
    if (!problem) {
        problem = message;
    }
    return std::nullopt;
}

std::optional<TarReader::Member> TarReader::next() {
    if (problem || !device.seek(nextHeader)) {
        return fail(QStringLiteral("the archive cannot be read"));
    }
    char header[blockBytes];
    if (device.read(header, blockBytes) != blockBytes) {
        return fail(QStringLiteral("the archive is truncated"));
    }
    static const char zeros[blockBytes] = {};
    if (std::memcmp(header, zeros, blockBytes) == 0) {
        // The end, which is two zero blocks: a single one means the copy was cut short.
        if (device.read(header, blockBytes) != blockBytes || std::memcmp(header, zeros, blockBytes) != 0) {
            return fail(QStringLiteral("the archive is truncated"));
        }
        return std::nullopt;
    }
    if (std::memcmp(header + 257, "ustar", 6) != 0 || std::memcmp(header + 263, "00", 2) != 0) {
        return fail(QStringLiteral("the file is not a Snipjar export"));
    }
    const std::optional<qint64> sum = octal(header + 148, 8);
    if (!sum || *sum != qint64(checksum(header))) {
        return fail(QStringLiteral("the archive is damaged (a header's checksum is wrong)"));
    }
    const std::optional<qint64> size = octal(header + 124, 12);
    if (!size) {
        return fail(QStringLiteral("the archive is damaged (a member's size cannot be read)"));
    }
    const QString name = QString::fromUtf8(header, qsizetype(strnlen(header, 100)));
    if ((header[156] != '0' && header[156] != '\0') || header[345] != '\0' || !safeName(name)) {
        return fail(QStringLiteral("the archive holds a member no Snipjar export has: \"%1\"").arg(name));
    }
    if (*size > largestMember) {
        return fail(
            QStringLiteral("the archive member \"%1\" is larger than any Snipjar export holds").arg(name));
    }
    const qint64 offset = nextHeader + blockBytes;
    if (offset + *size > device.size()) {
        return fail(QStringLiteral("the archive is truncated"));
    }
    nextHeader = offset + *size + padding(*size);
    remaining = *size;
    return Member{name, *size, offset};
}

qint64 TarReader::read(char* data, qint64 length) {
    const qint64 got = device.read(data, std::min(length, remaining));
    if (got > 0) {
        remaining -= got;
    }
    return got;
}

} // namespace snipjar
