#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace snipjar {

// One panel symbol drawn in a foreground colour, as a fixed-size widget for layouts. It paints
// nothing but the symbol.
class SymbolLabel : public QWidget {
    Q_OBJECT
public:
    SymbolLabel(const QString& designName, int pixelSize, const QColor& colour, QWidget* parent = nullptr);

    void setSymbol(const QString& designName);
    void setColour(const QColor& colour);
    const QString& symbol() const { return designName; }

    QSize sizeHint() const override { return {pixelSize, pixelSize}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString designName;
    int pixelSize;
    QColor colour;
};

} // namespace snipjar
