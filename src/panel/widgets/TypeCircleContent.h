#pragma once

#include "panel/TypeScope.h"

#include <QString>
#include <QWidget>

namespace snipjar {

class PanelModel;

// The content of one kind-filter circle: its symbol, bright when the filter is the current one.
class TypeCircleContent : public QWidget {
    Q_OBJECT
public:
    TypeCircleContent(PanelModel& model, TypeScope scope, const QString& symbol, QWidget* parent = nullptr);

    bool isCurrent() const;

    QSize sizeHint() const override { return {36, 36}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PanelModel& model;
    const TypeScope scope;
    const QString symbol;
};

} // namespace snipjar
