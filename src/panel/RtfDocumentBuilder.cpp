#include "panel/RtfDocumentBuilder.h"

#include <QBrush>
#include <QTextBlockFormat>
#include <QTextDocument>

#include <algorithm>

namespace snipjar {
namespace {

// Writers give sizes in half-points; anything outside a point to a thousand points is an error or an
// attack on the layout, and is pulled back into that range.
constexpr int minimumHalfPoints = 2;
constexpr int maximumHalfPoints = 2000;

// A UTF-16 unit that does not pair up (a stray \u of a surrogate) becomes a replacement character,
// so the document only ever holds valid text.
void replaceUnpairedSurrogates(QString& text) {
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (!c.isSurrogate()) {
            continue;
        }
        if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        text[i] = QChar::ReplacementCharacter;
    }
}

// Control characters other than the tab (a malformed \'zz escape, \'00, \u1) would reach the
// preview as invisible or truncating characters.
void dropControlCharacters(QString& text) {
    text.removeIf([](QChar c) { return (c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7f; });
}

} // namespace

RtfDocumentBuilder::RtfDocumentBuilder(QTextDocument& document, qsizetype maxCharacters)
    : m_cursor(&document)
    , m_maxCharacters(maxCharacters) {
    // Outside an edit block every insertion lays out its whole paragraph again to place the cursor,
    // which makes a long paragraph of many short runs quadratic.
    m_cursor.beginEditBlock();
    // The previous content goes in the same edit.
    m_cursor.select(QTextCursor::Document);
    m_cursor.removeSelectedText();
    m_cursor.setBlockFormat(QTextBlockFormat());
    m_cursor.setBlockCharFormat(QTextCharFormat());
}

RtfDocumentBuilder::~RtfDocumentBuilder() {
    if (!m_finished) {
        m_cursor.endEditBlock();
    }
}

void RtfDocumentBuilder::setFont(int index, Font font) {
    if (m_fonts.size() < maxTableEntries || m_fonts.contains(index)) {
        m_fonts.insert(index, std::move(font));
    }
}

const RtfDocumentBuilder::Font* RtfDocumentBuilder::font(int index) const {
    const auto found = m_fonts.constFind(index);
    return found == m_fonts.constEnd() ? nullptr : &found.value();
}

void RtfDocumentBuilder::addColor(std::optional<QColor> color) {
    if (m_colors.size() < maxTableEntries) {
        m_colors.append(color);
    }
}

void RtfDocumentBuilder::appendText(QStringView text, const RtfCharacterState& style) {
    if (style.hidden || text.isEmpty() || isFull()) {
        return;
    }
    if (m_pendingBreaks > 0) {
        flushRun();
        for (; m_pendingBreaks > 0; --m_pendingBreaks) {
            m_cursor.insertBlock();
        }
    } else if (!m_run.isEmpty() && !(style == m_runStyle)) {
        flushRun();
    }
    m_runStyle = style;
    const qsizetype room = m_maxCharacters - m_written;
    const QStringView kept = text.first(std::min(text.size(), room));
    m_run.append(kept);
    m_written += kept.size();
}

void RtfDocumentBuilder::appendCharacter(QChar character, const RtfCharacterState& style) {
    appendText(QStringView(&character, 1), style);
}

void RtfDocumentBuilder::endParagraph(const RtfParagraphState& paragraph) {
    if (isFull()) {
        return;
    }
    flushRun();
    if (m_pendingBreaks == 0) {
        applyParagraph(paragraph);
    }
    // Inserted with the next text: the \par that closes the last paragraph opens no empty one.
    ++m_pendingBreaks;
    ++m_written;
}

void RtfDocumentBuilder::finish(const RtfParagraphState& paragraph) {
    if (m_finished) {
        return;
    }
    flushRun();
    if (m_pendingBreaks == 0) {
        applyParagraph(paragraph);
    }
    m_finished = true;
    m_cursor.endEditBlock();
}

void RtfDocumentBuilder::flushRun() {
    if (m_run.isEmpty()) {
        return;
    }
    replaceUnpairedSurrogates(m_run);
    dropControlCharacters(m_run);
    m_cursor.insertText(m_run, charFormat(m_runStyle));
    m_run.clear();
}

void RtfDocumentBuilder::applyParagraph(const RtfParagraphState& paragraph) {
    QTextBlockFormat format = m_cursor.blockFormat();
    format.setAlignment(paragraph.alignment);
    m_cursor.setBlockFormat(format);
}

QTextCharFormat RtfDocumentBuilder::charFormat(const RtfCharacterState& style) const {
    QTextCharFormat format;
    if (style.bold) {
        format.setFontWeight(QFont::Bold);
    }
    if (style.italic) {
        format.setFontItalic(true);
    }
    if (style.underline) {
        format.setFontUnderline(true);
    }
    if (style.strikeOut) {
        format.setFontStrikeOut(true);
    }
    if (style.position == RtfCharacterState::Position::superscript) {
        format.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    } else if (style.position == RtfCharacterState::Position::subscript) {
        format.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    }
    if (style.fontSize > 0) {
        format.setFontPointSize(std::clamp(style.fontSize, minimumHalfPoints, maximumHalfPoints) / 2.0);
    }
    if (const Font* font = this->font(style.font >= 0 ? style.font : m_defaultFont);
        font && !font->family.isEmpty()) {
        format.setFontFamilies(QStringList{font->family});
        format.setFontStyleHint(font->styleHint);
    }
    const auto color = [this](int index) -> std::optional<QColor> {
        return index >= 0 && index < m_colors.size() ? m_colors[index] : std::nullopt;
    };
    if (const std::optional<QColor> foreground = color(style.foreground)) {
        format.setForeground(QBrush(*foreground));
    }
    if (const std::optional<QColor> background = color(style.background)) {
        format.setBackground(QBrush(*background));
    }
    return format;
}

} // namespace snipjar
