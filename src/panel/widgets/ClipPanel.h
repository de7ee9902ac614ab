#pragma once

#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

namespace snipjar {

class GlassView;

// The panel's window: a frameless, always-on-top popup on every workspace. As a popup it is never
// activated, so the window that was active before stays the paste target, yet it holds the
// keyboard while it is shown and closes on a click outside. Pressing its background and dragging
// moves it.
//
// Without a compositor the window cannot be see-through, so it is cut to the shape of its glass
// pieces instead.
class ClipPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize contentSize{820, 568};

    explicit ClipPanel(QWidget* parent = nullptr);

    void setCompositing(bool compositing);
    bool isCompositing() const { return compositing; }
    // A glass piece whose shape the window follows when it cannot be translucent.
    void trackGlass(GlassView* glass);

    // Text from the input method (a composed character, a word from a non-Latin layout).
    std::function<void(const QString&)> onInputText;
    // The window was hidden, by the controller or by Qt (a click outside closes a popup, and so
    // does the application losing the focus).
    std::function<void()> onHidden;
    // True when the last hide came from a press outside the window.
    bool wasClosedByOutsidePress() const { return closedByOutsidePress; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    void updateShape();

    bool compositing = false;
    QList<QPointer<GlassView>> glasses;
    // Where the background was pressed, relative to the window, while it is dragged.
    std::optional<QPoint> dragOffset;
    bool closedByOutsidePress = false;
};

} // namespace snipjar
