#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <optional>

namespace snipjar {

// The POSIX ustar subset the history archive uses: regular files only, names under 100 bytes, no
// prefix field, sizes under 8 GiB. Written and read in chunks, so no member is ever held whole.
class TarWriter {
public:
    explicit TarWriter(QIODevice& device)
        : device(device) {}

    // Writes a member's header; exactly `size` bytes of data must follow before the next one.
    bool begin(const QString& name, qint64 size);
    bool write(const char* data, qint64 length);
    bool write(const QByteArray& data) { return write(data.constData(), data.size()); }
    // Pads the member to the block size.
    bool end();
    bool member(const QString& name, const QByteArray& data) {
        return begin(name, data.size()) && write(data) && end();
    }
    // The two zero blocks that end an archive.
    bool finish();

private:
    QIODevice& device;
    qint64 memberSize = 0;
};

// Reads members one after the other and refuses what this writer would not have written: a bad
// header checksum, another magic, links and folders, unsafe names, sizes over the caller's cap and
// an archive that ends before its two zero blocks.
class TarReader {
public:
    struct Member {
        QString name;
        qint64 size = 0;
        // Where the member's data starts in the device.
        qint64 offset = 0;
    };

    TarReader(QIODevice& device, qint64 largestMemberBytes)
        : device(device)
        , largestMember(largestMemberBytes) {}

    // The next member (its data skipped unless read), or none at the end of the archive or on
    // damage; error() tells which.
    std::optional<Member> next();
    // Reads up to `length` bytes of the current member's data.
    qint64 read(char* data, qint64 length);
    const std::optional<QString>& error() const { return problem; }

private:
    std::optional<Member> fail(const QString& message);

    QIODevice& device;
    qint64 largestMember;
    qint64 nextHeader = 0;
    qint64 remaining = 0;
    std::optional<QString> problem;
};

} // namespace snipjar
