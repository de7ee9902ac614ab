#pragma once

#include <QWidget>

namespace snipjar {

// A hairline between the parts of the results glass, in the quaternary level.
class Divider : public QWidget {
    Q_OBJECT
public:
    explicit Divider(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace snipjar
