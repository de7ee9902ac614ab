#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QKeyEvent;
class QWidget;

namespace snipjar {

// Sees every key press and release meant for one window before any of its widgets does, as long as
// it exists: the handler answers whether it took the key; a key it did not take goes on unchanged.
class PanelKeyMonitor : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<bool(QKeyEvent*)>;

    PanelKeyMonitor(QWidget* window, Handler handler);
    ~PanelKeyMonitor() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> window;
    Handler handler;
};

} // namespace snipjar
