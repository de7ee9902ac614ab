#pragma once

#include <QTimer>
#include <QWidget>

namespace snipjar {

// A small progress spinner: an arc that turns while a sync runs. Its timer runs only while the
// spinner is both spinning and shown, so a hidden panel costs nothing.
class SyncSpinner : public QWidget {
    Q_OBJECT
public:
    explicit SyncSpinner(QWidget* parent = nullptr);

    void setSpinning(bool spinning);
    bool isSpinning() const { return spinning; }
    bool isTurning() const { return timer.isActive(); }

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateTimer();

    QTimer timer;
    bool spinning = false;
    int angle = 0;
};

} // namespace snipjar
