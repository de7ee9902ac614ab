#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <limits>
#include <optional>

namespace snipjar {

// What one write puts on the clipboard: entries in declaration order, each a type identifier
// (TypeIdentifier: "public.utf8-plain-text", "public.png", TypeIdentifier::fileURL, markers, ...)
// with its bytes. File URLs are written as TypeIdentifier::fileURL with the URLs joined by "\r\n".
struct PasteboardContent {
    struct Entry {
        QString type;
        QByteArray data;

        bool operator==(const Entry&) const = default;
    };
    QList<Entry> entries;

    bool operator==(const PasteboardContent&) const = default;
};

// The result of reading one type: absent, longer than the caller's byte cap (the bytes are not
// kept), or the bytes.
struct PasteboardRead {
    enum class Status { absent, tooLarge, ok };
    Status status = Status::absent;
    QByteArray bytes;
};

// The plain-text flavour as read: absent, longer than the caller's byte cap in the owner's encoding
// (nothing of it is kept), or the text.
struct PasteboardString {
    PasteboardRead::Status status = PasteboardRead::Status::absent;
    QString text;
};

// The general clipboard. Types are the system's type identifiers (TypeIdentifier); the platform
// layer maps them to and from its own names. The three marker identifiers appear in types() when
// the clipboard carries the corresponding marker.
//
// Threading: changeCount() and write() may be called on the main thread and never block on
// another client. The read functions may wait for the clipboard owner (bounded) and are called
// from the capture's reader thread; a read of a change that has been overtaken, or of an owner that
// does not answer in time, gives absent.
//
// A capture reads one clipboard change: the reads between beginCapture() and endCapture() are all
// asked of the owner that held the clipboard when the capture began, and endCapture() tells whether
// it still holds it with no change in between. When it does not, what was read may mix two owners'
// contents (a password manager taking the clipboard between the type list and the text) and must
// be thrown away. A read outside a capture is a capture of its own.
class Pasteboard : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Pasteboard() override = default;

    static constexpr qint64 noByteCap = std::numeric_limits<qint64>::max();

    // Increases on every owner change, including the application's own writes.
    virtual qint64 changeCount() const = 0;

    // Type identifiers in clipboard order (unknown targets keep their own names).
    virtual QStringList types() = 0;
    virtual PasteboardRead read(const QString& type, qint64 byteCap = noByteCap) = 0;
    // The plain-text flavour, read no further than byteCap bytes.
    virtual PasteboardString readString(qint64 byteCap) = 0;
    // URL objects restricted to file URLs (absolute "file://" strings in clipboard order); none when
    // the clipboard carries no file URL.
    virtual std::optional<QStringList> fileURLs() = 0;
    // All URL objects (web addresses and file URLs) in clipboard order; none when there are none.
    virtual std::optional<QStringList> urls() = 0;

    virtual void beginCapture() = 0;
    // True when the capture's reads all came from the change it began with. Lets go of the large
    // bytes the capture read; the type list and small values stay for a retry of the same change.
    virtual bool endCapture() = 0;
    // Ends the reads in progress at once and makes every later read give absent, until
    // resumeReads(). Any thread; used when the application quits in the middle of a slow transfer.
    virtual void interruptReads() = 0;
    virtual void resumeReads() = 0;

    // Clears the clipboard and takes it over with the given content. The change count has
    // increased when this returns.
    virtual void write(const PasteboardContent& content) = 0;

    std::optional<QByteArray> data(const QString& type) {
        PasteboardRead result = read(type);
        if (result.status != PasteboardRead::Status::ok) {
            return std::nullopt;
        }
        return std::move(result.bytes);
    }

    // The plain-text flavour, whatever its size.
    std::optional<QString> string() {
        PasteboardString result = readString(noByteCap);
        if (result.status != PasteboardRead::Status::ok) {
            return std::nullopt;
        }
        return std::move(result.text);
    }

signals:
    // Emitted on the thread that owns this object when the change count may have moved, so that
    // a copy is noticed at once rather than at the next poll.
    void changed();
    // Emitted after changed() when the clipboard has no owner any more: the program that copied
    // quit (or gave the clipboard up) without handing it to anyone.
    void ownerLost();
};

} // namespace snipjar
