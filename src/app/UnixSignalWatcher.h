#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace snipjar {

// Turns SIGTERM, SIGINT and SIGHUP into a signal on the main thread, so that the application quits
// through its event loop and every owner shuts its threads down in order. It must outlive what it
// lets shut down; once it is gone the process is ending and these signals are ignored.
class UnixSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalWatcher(QObject* parent = nullptr);
    ~UnixSignalWatcher() override;

signals:
    void terminationRequested();

private:
    std::unique_ptr<QSocketNotifier> notifier;
};

} // namespace snipjar
