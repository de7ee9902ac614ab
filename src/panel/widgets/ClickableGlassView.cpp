#include "panel/widgets/ClickableGlassView.h"

#include <QMouseEvent>

namespace snipjar {

void ClickableGlassView::mousePressEvent(QMouseEvent* event) {
    if (onClick && event->button() == Qt::LeftButton) {
        event->accept();
        onClick();
        return;
    }
    GlassView::mousePressEvent(event);
}

} // namespace snipjar
