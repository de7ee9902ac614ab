#pragma once

#include "platform/Pasteboard.h"

#include <QHash>

#include <functional>
#include <mutex>

namespace snipjar {

// A clipboard held in memory, for tests. A test sets its contents (which counts as a change), may
// make some entries appear only from a later capture attempt (a lazily provided clipboard), and
// reads back every write the code under test made. Safe to use from several threads at once.
class FakePasteboard final : public Pasteboard {
    Q_OBJECT
public:
    struct Entry {
        QString type;
        QByteArray data;
        // The entry is absent for the reads of capture attempts before this one. An attempt
        // begins with each call of types() (every capture starts there); attempt 1 is the first.
        int availableFromAttempt = 1;
    };

    struct Contents {
        QList<Entry> entries;
        // Overrides of what the entries would give; when unset, readString() decodes the plain-text
        // entry, fileURLs() and urls() split the file-URL and URL entries.
        std::optional<QString> string;
        std::optional<QStringList> fileURLs;
        std::optional<QStringList> urls;
    };

    explicit FakePasteboard(QObject* parent = nullptr);

    // Replaces the contents, increments the change count and emits changed() on the calling thread.
    void setContents(const Contents& contents);
    void setText(const QString& text);
    // Entries in order from (type, data) pairs, all available at once.
    void setEntries(const QList<QPair<QString, QByteArray>>& entries);
    // Increments the change count without touching the contents (an owner change to equal data).
    void bumpChangeCount();
    // Replaces the text without an owner change: the owner keeps the selection and only answers
    // differently (as programs do that extend a selection they already own).
    void changeTextKeepingOwner(const QString& text);

    // Runs once, right after the next types() call, outside the lock: a test replaces the contents
    // there to stand for another owner taking the clipboard in the middle of a capture.
    void runAfterNextTypes(std::function<void()> action);

    // Every content written with write(), oldest first.
    QList<PasteboardContent> writes() const;
    // How often read() (or readString()/fileURLs()/urls() through the entry) asked for a type.
    int readCount(const QString& type) const;
    int typesCallCount() const;

    qint64 changeCount() const override;
    QStringList types() override;
    PasteboardRead read(const QString& type, qint64 byteCap = noByteCap) override;
    PasteboardString readString(qint64 byteCap) override;
    std::optional<QStringList> fileURLs() override;
    std::optional<QStringList> urls() override;
    // Records the content, makes it the contents, increments the change count and emits changed()
    // later from the event loop (never from inside write(), as with the real clipboard).
    // A capture is current when the change count did not move while it ran.
    void beginCapture() override;
    bool endCapture() override;
    void interruptReads() override {}
    void resumeReads() override {}
    void write(const PasteboardContent& content) override;

private:
    std::optional<QByteArray> availableData(const QString& type);

    mutable std::mutex mutex_;
    Contents contents_;
    qint64 changeCount_ = 0;
    int attempt_ = 0;
    QList<PasteboardContent> writes_;
    QHash<QString, int> readCounts_;
    int typesCallCount_ = 0;
    qint64 captureChangeCount_ = -1;
    std::function<void()> afterNextTypes_;
};

} // namespace snipjar
