#pragma once

#include <QAbstractScrollArea>

#include <memory>

class QTextDocument;

namespace snipjar {

// A scrolling view of a preview's document as the loader laid it out. It only draws: it never sets
// the document's width or edits it, so the main thread never lays the text out again (a text view
// that follows its own width would, at every show and resize).
class PreviewTextView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // A null document shows nothing.
    PreviewTextView(std::shared_ptr<const QTextDocument> document, QWidget* parent = nullptr);

    const QTextDocument* document() const { return shown.get(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void updateScrollRange();

    std::shared_ptr<const QTextDocument> shown;
};

} // namespace snipjar
