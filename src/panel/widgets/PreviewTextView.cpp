#include "PreviewTextView.h"

#include "PanelPalette.h"

#include <QAbstractTextDocumentLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextDocument>

#include <cmath>

namespace snipjar {

PreviewTextView::PreviewTextView(std::shared_ptr<const QTextDocument> document, QWidget* parent)
    : QAbstractScrollArea(parent)
    , shown(std::move(document)) {
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setSingleStep(20);
    setForeground(*this, PanelPalette::instance().primary);
    updateScrollRange();
}

void PreviewTextView::updateScrollRange() {
    // The layout is finished, so its size is only read here.
    const int height = shown ? int(std::ceil(shown->size().height())) : 0;
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(viewport()->height());
    bar->setRange(0, std::max(0, height - viewport()->height()));
}

void PreviewTextView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
}

void PreviewTextView::scrollContentsBy(int, int) {
    viewport()->update();
}

void PreviewTextView::paintEvent(QPaintEvent* event) {
    if (!shown) {
        return;
    }
    QPainter painter(viewport());
    const int offset = verticalScrollBar()->value();
    painter.translate(0, -offset);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = palette();
    context.clip = QRectF(event->rect().translated(0, offset));
    painter.setClipRect(context.clip);
    shown->documentLayout()->draw(&painter, context);
}

} // namespace snipjar
