#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <memory>

class QTextDocument;

namespace snipjar {

// How the preview pane sets a text: its fonts, the note under a cut text, and the width it gives
// the text (margins included). The pane writes it into the model; the loaders lay out with it.
struct PreviewDocumentStyle {
    QFont body;
    QFont note;
    QColor noteColour;
    QString truncationNote;
    qreal margin = 16;
    qreal width = 480;

    bool operator==(const PreviewDocumentStyle&) const = default;
};

// The document a text preview shows: the styled text when there is one, else the plain text, and
// the truncation note as its last paragraph when the text was cut. It is laid out whole at the
// style's width where it is built, on a loader, then handed to the main thread, which only draws
// it: even 10,000 characters in one paragraph or in thousands of style runs take long enough to
// lay out to stall the panel that holds the keyboard.
std::unique_ptr<QTextDocument> buildPreviewDocument(const QString& plainText,
                                                    std::unique_ptr<QTextDocument> styled, bool truncated,
                                                    const PreviewDocumentStyle& style);

// Tests see which thread lays a preview out through this hook, called with each document just laid
// out, on the thread that laid it out; null by default.
using PreviewLayoutObserver = void (*)(const QTextDocument& document);
void setPreviewLayoutObserver(PreviewLayoutObserver observer);

} // namespace snipjar
