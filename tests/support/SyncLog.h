#pragma once

#include <QLoggingCategory>
#include <QMutex>
#include <QStringList>

namespace snipjar::test {

// Messages of the sync categories, collected from every thread while the object lives.
class SyncLog {
public:
    SyncLog() {
        QMutexLocker lock(&mutex());
        lines().clear();
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                const QByteArray category(context.category ? context.category : "");
                if (category.endsWith(".sync") || category.endsWith(".sync-state")) {
                    QMutexLocker lock(&mutex());
                    lines().append(levelName(type) + QLatin1Char(' ') + text);
                }
            });
    }
    ~SyncLog() { qInstallMessageHandler(previous); }
    SyncLog(const SyncLog&) = delete;
    SyncLog& operator=(const SyncLog&) = delete;

    // "error <text>", "info <text>" or "debug <text>", in order.
    QStringList messages() const {
        QMutexLocker lock(&mutex());
        return lines();
    }
    int count(const QString& part) const { return int(messages().filter(part).size()); }

private:
    static QString levelName(QtMsgType type) {
        return QString::fromLatin1(type == QtDebugMsg ? "debug" : type == QtInfoMsg ? "info" : "error");
    }
    static QMutex& mutex() {
        static QMutex lock;
        return lock;
    }
    static QStringList& lines() {
        static QStringList collected;
        return collected;
    }
    QtMessageHandler previous = nullptr;
};

} // namespace snipjar::test
