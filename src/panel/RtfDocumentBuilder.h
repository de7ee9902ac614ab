#pragma once

#include "panel/RtfFormatState.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QList>
#include <QString>
#include <QTextCharFormat>
#include <QTextCursor>

#include <optional>

class QTextDocument;

namespace snipjar {

// Writes decoded RTF text into a QTextDocument. Text is collected in one buffer per styled run and
// inserted when the style changes or a paragraph ends, so the document grows by appends only. Also
// keeps the font and colour tables the styles refer to.
class RtfDocumentBuilder {
public:
    struct Font {
        QString family;
        QFont::StyleHint styleHint = QFont::AnyStyle;
        // 0 when the font follows the document's code page.
        int codePage = 0;
    };

    // Tables larger than this are hostile; later entries are dropped.
    static constexpr qsizetype maxTableEntries = 4096;

    // Replaces the document's content, in one edit that ends with finish().
    RtfDocumentBuilder(QTextDocument& document, qsizetype maxCharacters);
    ~RtfDocumentBuilder();
    RtfDocumentBuilder(const RtfDocumentBuilder&) = delete;
    RtfDocumentBuilder& operator=(const RtfDocumentBuilder&) = delete;

    void setFont(int index, Font font);
    const Font* font(int index) const;
    void setDefaultFont(int index) { m_defaultFont = index; }
    int defaultFont() const { return m_defaultFont; }
    // An entry without a colour is the writer's "automatic" colour.
    void addColor(std::optional<QColor> color);

    void appendText(QStringView text, const RtfCharacterState& style);
    void appendCharacter(QChar character, const RtfCharacterState& style);
    void endParagraph(const RtfParagraphState& paragraph);
    // Writes what is still buffered; nothing is written after it.
    void finish(const RtfParagraphState& paragraph);

    // True once maxCharacters were written; the rest of the document is dropped.
    bool isFull() const { return m_written >= m_maxCharacters; }
    qint64 charactersWritten() const { return m_written; }

private:
    void flushRun();
    QTextCharFormat charFormat(const RtfCharacterState& style) const;
    void applyParagraph(const RtfParagraphState& paragraph);

    QTextCursor m_cursor;
    qsizetype m_maxCharacters;
    qint64 m_written = 0;
    QString m_run;
    // Paragraph ends not yet inserted; they wait for text to follow.
    qint64 m_pendingBreaks = 0;
    RtfCharacterState m_runStyle;
    QHash<int, Font> m_fonts;
    QList<std::optional<QColor>> m_colors;
    int m_defaultFont = -1;
    bool m_finished = false;
};

} // namespace snipjar
