#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUuid>

#include <optional>

namespace snipjar {

class ClipStore;
class InstanceConnection;

// The connections of `snipjar watch`: each clip filed is pushed to every one of them as one line,
// in list's text format or as a JSON object, without the GUI thread ever waiting for a reader. A
// watcher that stops reading is dropped once its unread lines pass a cap, so it never holds more
// than that (and one line) in memory; one that closes is forgotten.
class ClipWatchers : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype maximumWatchers = 32;
    static constexpr qsizetype unreadBytesCap = 4 * 1024 * 1024;

    explicit ClipWatchers(ClipStore& store);
    ~ClipWatchers() override;
    ClipWatchers(const ClipWatchers&) = delete;
    ClipWatchers& operator=(const ClipWatchers&) = delete;

    // Keeps the connection for pushes; the reason when it is refused (too many watchers).
    std::optional<QString> subscribe(InstanceConnection& connection, bool json);
    // A clip was filed (or moved to the top by a copy made again): its row goes to every watcher.
    void clipFiled(const QUuid& id);

private:
    struct Watcher {
        QPointer<InstanceConnection> connection;
        bool json = false;
    };

    ClipStore& store;
    QList<Watcher> watchers;
};

} // namespace snipjar
