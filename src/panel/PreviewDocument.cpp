#include "panel/PreviewDocument.h"

#include <QCoreApplication>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>

#include <atomic>

namespace snipjar {

namespace {

std::atomic<PreviewLayoutObserver> layoutObserver{nullptr};

} // namespace

void setPreviewLayoutObserver(PreviewLayoutObserver observer) {
    layoutObserver.store(observer);
}

std::unique_ptr<QTextDocument> buildPreviewDocument(const QString& plainText,
                                                    std::unique_ptr<QTextDocument> styled, bool truncated,
                                                    const PreviewDocumentStyle& style) {
    const bool hasStyle = styled != nullptr;
    std::unique_ptr<QTextDocument> document =
        hasStyle ? std::move(styled) : std::make_unique<QTextDocument>();
    // Nobody edits a preview; an undo history would only hold a second copy of the text.
    document->setUndoRedoEnabled(false);
    document->setDefaultFont(style.body);
    if (!hasStyle) {
        document->setPlainText(plainText);
    }
    document->setDocumentMargin(style.margin);
    if (truncated) {
        QTextCursor cursor(document.get());
        cursor.movePosition(QTextCursor::End);
        QTextBlockFormat block;
        block.setTopMargin(8);
        QTextCharFormat note;
        note.setFont(style.note);
        note.setForeground(style.noteColour);
        cursor.insertBlock(block, note);
        cursor.insertText(style.truncationNote, note);
    }
    document->setTextWidth(style.width);
    // Asking for the size finishes the layout here rather than a step at a time later.
    document->size();
    if (const PreviewLayoutObserver observer = layoutObserver.load()) {
        observer(*document);
    }
    if (QCoreApplication* application = QCoreApplication::instance()) {
        document->moveToThread(application->thread());
    }
    return document;
}

} // namespace snipjar
