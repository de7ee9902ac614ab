#pragma once

#include <QWidget>

#include <functional>

class QLabel;

namespace snipjar {

// A row of the tray menu that opens or leaves one computer's clips. A plain menu item closes the
// menu when clicked; this row only calls onClick, and the menu is rebuilt in place.
class MenuDrillRow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize rowSize{380, 24};

    enum class Chevron { shown, hidden };

    MenuDrillRow(const QString& title, const QString& symbol, Chevron chevron, std::function<void()> onClick,
                 QWidget* parent = nullptr);

    QString title() const;
    bool isHighlighted() const { return highlighted; }
    void setHighlighted(bool highlighted);
    // What a release of the mouse button over the row does.
    void click();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void updateColours();

    QLabel* icon;
    QLabel* titleLabel;
    QLabel* chevronLabel = nullptr;
    QString symbol;
    std::function<void()> onClick;
    bool highlighted = false;
};

} // namespace snipjar
