#pragma once

#include <QAbstractButton>
#include <QColor>

namespace snipjar {

// A plain footer button: a small symbol and a caption, no frame. The destructive look (white on a
// rounded red fill, semibold) is the armed delete's.
class FooterButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit FooterButton(QWidget* parent = nullptr);

    // Sets the symbol, the label, the colour of both, and whether the red fill is shown.
    void setLook(const QString& symbol, const QString& label, const QColor& colour, bool destructive);
    const QString& symbol() const { return symbolName; }
    bool isDestructive() const { return destructive; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbolName;
    QColor colour;
    bool destructive = false;
};

} // namespace snipjar
