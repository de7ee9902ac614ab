#include "platform/fakes/FakePasteboard.h"

#include "platform/TypeIdentifier.h"

#include <QMetaObject>

namespace snipjar {

namespace {

QStringList splitURLList(const QByteArray& data) {
    QStringList result;
    for (const QByteArray& line : data.split('\n')) {
        const QString url = QString::fromUtf8(line).trimmed();
        if (!url.isEmpty() && !url.startsWith(QLatin1Char('#'))) {
            result << url;
        }
    }
    return result;
}

} // namespace

FakePasteboard::FakePasteboard(QObject* parent)
    : Pasteboard(parent) {}

void FakePasteboard::setContents(const Contents& contents) {
    {
        std::lock_guard lock(mutex_);
        contents_ = contents;
        attempt_ = 0;
        ++changeCount_;
    }
    emit changed();
}

void FakePasteboard::setText(const QString& text) {
    setContents({{{QString::fromLatin1(TypeIdentifier::plainText), text.toUtf8()}}, {}, {}, {}});
}

void FakePasteboard::setEntries(const QList<QPair<QString, QByteArray>>& entries) {
    Contents contents;
    for (const auto& [type, data] : entries) {
        contents.entries.append({type, data});
    }
    setContents(contents);
}

void FakePasteboard::bumpChangeCount() {
    {
        std::lock_guard lock(mutex_);
        ++changeCount_;
    }
    emit changed();
}

void FakePasteboard::changeTextKeepingOwner(const QString& text) {
    std::lock_guard lock(mutex_);
    contents_ = {{{QString::fromLatin1(TypeIdentifier::plainText), text.toUtf8()}}, {}, {}, {}};
}

QList<PasteboardContent> FakePasteboard::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

int FakePasteboard::readCount(const QString& type) const {
    std::lock_guard lock(mutex_);
    return readCounts_.value(type);
}

int FakePasteboard::typesCallCount() const {
    std::lock_guard lock(mutex_);
    return typesCallCount_;
}

qint64 FakePasteboard::changeCount() const {
    std::lock_guard lock(mutex_);
    return changeCount_;
}

void FakePasteboard::runAfterNextTypes(std::function<void()> action) {
    std::lock_guard lock(mutex_);
    afterNextTypes_ = std::move(action);
}

QStringList FakePasteboard::types() {
    QStringList result;
    std::function<void()> after;
    {
        std::lock_guard lock(mutex_);
        ++attempt_;
        ++typesCallCount_;
        for (const Entry& entry : contents_.entries) {
            if (!result.contains(entry.type)) {
                result << entry.type;
            }
        }
        std::swap(after, afterNextTypes_);
    }
    if (after) {
        after();
    }
    return result;
}

void FakePasteboard::beginCapture() {
    std::lock_guard lock(mutex_);
    captureChangeCount_ = changeCount_;
}

bool FakePasteboard::endCapture() {
    std::lock_guard lock(mutex_);
    return captureChangeCount_ == changeCount_;
}

// Called with the mutex held.
std::optional<QByteArray> FakePasteboard::availableData(const QString& type) {
    ++readCounts_[type];
    for (const Entry& entry : contents_.entries) {
        if (entry.type == type) {
            if (std::max(attempt_, 1) < entry.availableFromAttempt) {
                return std::nullopt;
            }
            return entry.data;
        }
    }
    return std::nullopt;
}

PasteboardRead FakePasteboard::read(const QString& type, qint64 byteCap) {
    std::lock_guard lock(mutex_);
    std::optional<QByteArray> data = availableData(type);
    if (!data) {
        return {};
    }
    if (data->size() > byteCap) {
        return {PasteboardRead::Status::tooLarge, {}};
    }
    return {PasteboardRead::Status::ok, *data};
}

PasteboardString FakePasteboard::readString(qint64 byteCap) {
    std::lock_guard lock(mutex_);
    std::optional<QByteArray> data;
    if (contents_.string) {
        data = contents_.string->toUtf8();
    } else {
        data = availableData(QString::fromLatin1(TypeIdentifier::plainText));
    }
    if (!data) {
        return {};
    }
    if (data->size() > byteCap) {
        return {PasteboardRead::Status::tooLarge, {}};
    }
    return {PasteboardRead::Status::ok, QString::fromUtf8(*data)};
}

std::optional<QStringList> FakePasteboard::fileURLs() {
    std::lock_guard lock(mutex_);
    if (contents_.fileURLs) {
        return contents_.fileURLs->isEmpty() ? std::nullopt : contents_.fileURLs;
    }
    std::optional<QByteArray> data = availableData(QString::fromLatin1(TypeIdentifier::fileURL));
    if (!data) {
        return std::nullopt;
    }
    QStringList files;
    for (const QString& url : splitURLList(*data)) {
        if (url.startsWith(QLatin1String("file://"), Qt::CaseInsensitive)) {
            files << url;
        }
    }
    return files.isEmpty() ? std::nullopt : std::optional<QStringList>(files);
}

std::optional<QStringList> FakePasteboard::urls() {
    std::lock_guard lock(mutex_);
    if (contents_.urls) {
        return contents_.urls->isEmpty() ? std::nullopt : contents_.urls;
    }
    QStringList result;
    if (std::optional<QByteArray> data = availableData(QString::fromLatin1(TypeIdentifier::url))) {
        result << splitURLList(*data).mid(0, 1);
    }
    if (std::optional<QByteArray> data = availableData(QString::fromLatin1(TypeIdentifier::fileURL))) {
        result << splitURLList(*data);
    }
    return result.isEmpty() ? std::nullopt : std::optional<QStringList>(result);
}

void FakePasteboard::write(const PasteboardContent& content) {
    {
        std::lock_guard lock(mutex_);
        writes_.append(content);
        contents_ = {};
        for (const PasteboardContent::Entry& entry : content.entries) {
            contents_.entries.append({entry.type, entry.data});
        }
        attempt_ = 0;
        ++changeCount_;
    }
    QMetaObject::invokeMethod(
        this, [this] { emit changed(); }, Qt::QueuedConnection);
}

} // namespace snipjar
