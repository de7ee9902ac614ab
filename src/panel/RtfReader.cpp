#include "panel/RtfReader.h"

#include "panel/RtfCodePage.h"
#include "panel/RtfControlWord.h"
#include "panel/RtfDocumentBuilder.h"
#include "panel/RtfFormatState.h"
#include "panel/RtfTokenizer.h"

#include <QByteArray>

#include <algorithm>
#include <vector>

namespace snipjar {
namespace {

// Font names longer than this are not names; the rest is dropped.
constexpr qsizetype maxFontNameBytes = 256;

enum class Destination : std::uint8_t {
    body,
    skipped,
    // The ANSI half of \upr, skipped unless its \*\ud half turns the text back on.
    skippedUnlessUnicode,
    fontTable,
    colorTable,
};

// What a group saves and restores: RTF scopes formatting, destinations and \uc to groups.
struct GroupState {
    Destination destination = Destination::body;
    RtfCharacterState character;
    RtfParagraphState paragraph;
    int unicodeSkip = 1;
};

// The font table entry being read.
struct FontEntry {
    bool open = false;
    int index = 0;
    QByteArray name;
    RtfDocumentBuilder::Font font;
};

// The colour table entry being read; an entry without components is the automatic colour.
struct ColorEntry {
    bool given = false;
    int red = 0;
    int green = 0;
    int blue = 0;
};

bool isToggleOn(const RtfToken& token) {
    return !token.hasParameter || token.parameter != 0;
}

class RtfParser {
public:
    RtfParser(QByteArrayView input, const RtfReader::Limits& limits, QTextDocument& document)
        : m_tokenizer(input)
        , m_limits(limits)
        , m_builder(document, limits.maxCharacters) {
        m_groups.reserve(64);
        m_groups.push_back(GroupState{});
    }

    void run();
    bool truncated() const { return m_builder.isFull(); }
    qint64 steps() const { return m_tokens + m_builder.charactersWritten(); }

private:
    GroupState& state() { return m_groups.back(); }
    bool consumeUnicodeFallback(RtfToken& token);
    void openGroup();
    // False once the outermost group closed.
    bool closeGroup();
    void handleWord(const RtfToken& token);
    void handleDocumentWord(RtfControl control, const RtfToken& token);
    void handleSymbol(char symbol);
    void handleBytes(QByteArrayView bytes);
    void flushBytes();
    void appendUnicode(int value);
    int codePage();
    void readFontTableBytes(QByteArrayView bytes);
    void readFontTableWord(RtfControl control, const RtfToken& token);
    void commitFont();
    void readColorTableBytes(QByteArrayView bytes);

    RtfTokenizer m_tokenizer;
    RtfReader::Limits m_limits;
    RtfDocumentBuilder m_builder;
    RtfTextDecoder m_decoder;
    std::vector<GroupState> m_groups;
    // Groups opened beyond the depth limit, skipped with everything in them.
    qint64 m_overflowDepth = 0;
    // The previous token was \*: an unknown destination that follows is skipped.
    bool m_ignorable = false;
    // Fallback characters still to drop after a \u.
    qint64 m_unicodeFallback = 0;
    // Body bytes not yet decoded: a multi-byte character may span several \'hh escapes.
    QByteArray m_pendingBytes;
    int m_documentCodePage = RtfCodePage::windowsLatin;
    FontEntry m_fontEntry;
    ColorEntry m_colorEntry;
    qint64 m_tokens = 0;
};

void RtfParser::run() {
    bool open = true;
    while (open) {
        RtfToken token = m_tokenizer.next();
        ++m_tokens;
        if (token.type == RtfToken::Type::end || m_builder.isFull()) {
            break;
        }
        if (m_overflowDepth > 0) {
            m_overflowDepth += token.type == RtfToken::Type::groupOpen;
            m_overflowDepth -= token.type == RtfToken::Type::groupClose;
            continue;
        }
        if (m_unicodeFallback > 0 && consumeUnicodeFallback(token)) {
            continue;
        }
        if (token.type != RtfToken::Type::text && token.type != RtfToken::Type::hexByte) {
            flushBytes();
        }
        const bool ignorable = std::exchange(m_ignorable, false);
        switch (token.type) {
        case RtfToken::Type::groupOpen:
            openGroup();
            break;
        case RtfToken::Type::groupClose:
            open = closeGroup();
            break;
        case RtfToken::Type::controlWord:
            if (ignorable && state().destination != Destination::skipped &&
                rtfControlWord(token.name).control != RtfControl::unicodeAlternative) {
                // RTF marks destinations a reader may not know with \*; none of them holds text
                // the preview shows.
                state().destination = Destination::skipped;
                break;
            }
            handleWord(token);
            break;
        case RtfToken::Type::controlSymbol:
            handleSymbol(token.symbol);
            break;
        case RtfToken::Type::hexByte:
            handleBytes(QByteArrayView(&token.byte, 1));
            break;
        case RtfToken::Type::text:
            handleBytes(token.text);
            break;
        case RtfToken::Type::binary:
        case RtfToken::Type::end:
            break;
        }
    }
    flushBytes();
    commitFont();
    m_builder.finish(state().paragraph);
}

bool RtfParser::consumeUnicodeFallback(RtfToken& token) {
    switch (token.type) {
    case RtfToken::Type::groupOpen:
    case RtfToken::Type::groupClose:
        // The fallback never reaches past its group.
        m_unicodeFallback = 0;
        return false;
    case RtfToken::Type::text: {
        const qsizetype dropped = std::min<qint64>(m_unicodeFallback, token.text.size());
        m_unicodeFallback -= dropped;
        token.text = token.text.sliced(dropped);
        return token.text.isEmpty();
    }
    default:
        // A \'hh, a control word or a control symbol each stand for one fallback character.
        --m_unicodeFallback;
        return true;
    }
}

void RtfParser::openGroup() {
    if (std::ssize(m_groups) > m_limits.maxGroupDepth) {
        m_overflowDepth = 1;
        return;
    }
    m_groups.push_back(m_groups.back());
}

bool RtfParser::closeGroup() {
    if (state().destination == Destination::fontTable) {
        commitFont();
    }
    m_groups.pop_back();
    return m_groups.size() > 1;
}

void RtfParser::handleWord(const RtfToken& token) {
    const RtfControlWord word = rtfControlWord(token.name);
    GroupState& group = state();
    if (word.control == RtfControl::unicode && group.destination != Destination::body) {
        // Outside the text (a font name, say) the character is not kept, but its fallback must
        // still not read as part of the name.
        m_unicodeFallback = group.unicodeSkip;
        return;
    }
    switch (group.destination) {
    case Destination::skipped:
        return;
    case Destination::skippedUnlessUnicode:
        if (word.control == RtfControl::unicodeAlternative) {
            group.destination = Destination::body;
        }
        return;
    case Destination::fontTable:
        readFontTableWord(word.control, token);
        return;
    case Destination::colorTable: {
        const int component = std::clamp(token.parameter, 0, 255);
        m_colorEntry.red = word.control == RtfControl::red ? component : m_colorEntry.red;
        m_colorEntry.green = word.control == RtfControl::green ? component : m_colorEntry.green;
        m_colorEntry.blue = word.control == RtfControl::blue ? component : m_colorEntry.blue;
        m_colorEntry.given = m_colorEntry.given || word.control == RtfControl::red ||
                             word.control == RtfControl::green || word.control == RtfControl::blue;
        return;
    }
    case Destination::body:
        handleDocumentWord(word.control, token);
        if (word.control == RtfControl::character) {
            m_builder.appendCharacter(QChar(word.character), group.character);
        }
        return;
    }
}

void RtfParser::handleDocumentWord(RtfControl control, const RtfToken& token) {
    GroupState& group = state();
    RtfCharacterState& character = group.character;
    const bool on = isToggleOn(token);
    switch (control) {
    case RtfControl::ansi:
        m_documentCodePage = RtfCodePage::windowsLatin;
        break;
    case RtfControl::mac:
        m_documentCodePage = RtfCodePage::macRoman;
        break;
    case RtfControl::pc:
        m_documentCodePage = 437;
        break;
    case RtfControl::pca:
        m_documentCodePage = 850;
        break;
    case RtfControl::ansicpg:
        m_documentCodePage = token.parameter > 0 ? token.parameter : m_documentCodePage;
        break;
    case RtfControl::defaultFont:
        m_builder.setDefaultFont(token.parameter);
        break;
    case RtfControl::fontTable:
        group.destination = Destination::fontTable;
        m_fontEntry = FontEntry{};
        break;
    case RtfControl::colorTable:
        group.destination = Destination::colorTable;
        m_colorEntry = ColorEntry{};
        break;
    case RtfControl::skippedDestination:
        group.destination = Destination::skipped;
        break;
    case RtfControl::unicodePair:
        group.destination = Destination::skippedUnlessUnicode;
        break;
    case RtfControl::font:
        character.font = token.parameter;
        break;
    case RtfControl::paragraph:
        m_builder.endParagraph(group.paragraph);
        break;
    case RtfControl::lineBreak:
        m_builder.appendCharacter(QChar::LineSeparator, character);
        break;
    case RtfControl::cell:
        // Table cells read as tab-separated columns.
        m_builder.appendCharacter(u'\t', character);
        break;
    case RtfControl::unicode:
        appendUnicode(token.parameter);
        break;
    case RtfControl::unicodeSkip:
        group.unicodeSkip = std::max(0, token.parameter);
        break;
    case RtfControl::plain:
        character = RtfCharacterState{};
        break;
    case RtfControl::bold:
        character.bold = on;
        break;
    case RtfControl::italic:
        character.italic = on;
        break;
    case RtfControl::underline:
        character.underline = on;
        break;
    case RtfControl::underlineNone:
        character.underline = false;
        break;
    case RtfControl::strikeOut:
        character.strikeOut = on;
        break;
    case RtfControl::hidden:
        character.hidden = on;
        break;
    case RtfControl::superscript:
        character.position = RtfCharacterState::Position::superscript;
        break;
    case RtfControl::subscript:
        character.position = RtfCharacterState::Position::subscript;
        break;
    case RtfControl::noSuperSub:
        character.position = RtfCharacterState::Position::normal;
        break;
    case RtfControl::fontSize:
        character.fontSize = std::max(0, token.parameter);
        break;
    case RtfControl::foreground:
        character.foreground = token.parameter;
        break;
    case RtfControl::background:
        character.background = token.parameter;
        break;
    case RtfControl::paragraphDefault:
        group.paragraph = RtfParagraphState{};
        break;
    case RtfControl::alignLeft:
        group.paragraph.alignment = Qt::AlignLeft;
        break;
    case RtfControl::alignRight:
        group.paragraph.alignment = Qt::AlignRight;
        break;
    case RtfControl::alignCenter:
        group.paragraph.alignment = Qt::AlignHCenter;
        break;
    case RtfControl::alignJustify:
        group.paragraph.alignment = Qt::AlignJustify;
        break;
    default:
        break;
    }
}

void RtfParser::handleSymbol(char symbol) {
    switch (symbol) {
    case '*':
        m_ignorable = true;
        return;
    case '\\':
    case '{':
    case '}':
        handleBytes(QByteArrayView(&symbol, 1));
        return;
    default:
        break;
    }
    if (state().destination != Destination::body) {
        return;
    }
    const RtfCharacterState& character = state().character;
    switch (symbol) {
    case '~':
        m_builder.appendCharacter(QChar::Nbsp, character);
        break;
    case '-':
        m_builder.appendCharacter(QChar::SoftHyphen, character);
        break;
    case '_':
        m_builder.appendCharacter(u'\u2011', character);
        break;
    case '\n':
        m_builder.endParagraph(state().paragraph);
        break;
    default:
        break;
    }
}

void RtfParser::handleBytes(QByteArrayView bytes) {
    switch (state().destination) {
    case Destination::body:
        m_pendingBytes.append(bytes);
        break;
    case Destination::fontTable:
        readFontTableBytes(bytes);
        break;
    case Destination::colorTable:
        readColorTableBytes(bytes);
        break;
    case Destination::skipped:
    case Destination::skippedUnlessUnicode:
        break;
    }
}

int RtfParser::codePage() {
    const int index = state().character.font >= 0 ? state().character.font : m_builder.defaultFont();
    const RtfDocumentBuilder::Font* font = m_builder.font(index);
    return font && font->codePage != 0 ? font->codePage : m_documentCodePage;
}

void RtfParser::flushBytes() {
    if (m_pendingBytes.isEmpty()) {
        return;
    }
    m_builder.appendText(m_decoder.decode(codePage(), m_pendingBytes), state().character);
    m_pendingBytes.clear();
}

void RtfParser::appendUnicode(int value) {
    // Values above 32767 are written as negative 16-bit numbers.
    const int unit = value < 0 ? value + 65536 : value;
    m_unicodeFallback = state().unicodeSkip;
    if (unit < 0 || unit > 0xFFFF || (unit < 0x20 && unit != '\t')) {
        return;
    }
    m_builder.appendCharacter(QChar(static_cast<char16_t>(unit)), state().character);
}

void RtfParser::readFontTableWord(RtfControl control, const RtfToken& token) {
    RtfDocumentBuilder::Font& font = m_fontEntry.font;
    switch (control) {
    case RtfControl::font:
        commitFont();
        m_fontEntry = FontEntry{true, token.parameter, {}, {}};
        break;
    case RtfControl::fontCharset:
        font.codePage = font.codePage ? font.codePage : RtfCodePage::forCharset(token.parameter);
        break;
    case RtfControl::fontCodePage:
        font.codePage = std::max(0, token.parameter);
        break;
    case RtfControl::fontFamilyRoman:
        font.styleHint = QFont::Serif;
        break;
    case RtfControl::fontFamilySwiss:
        font.styleHint = QFont::SansSerif;
        break;
    case RtfControl::fontFamilyModern:
        font.styleHint = QFont::TypeWriter;
        break;
    case RtfControl::fontFamilyScript:
        font.styleHint = QFont::Cursive;
        break;
    case RtfControl::fontFamilyDecor:
        font.styleHint = QFont::Decorative;
        break;
    case RtfControl::fontFamilyTech:
        font.styleHint = QFont::AnyStyle;
        break;
    default:
        break;
    }
}

void RtfParser::readFontTableBytes(QByteArrayView bytes) {
    if (!m_fontEntry.open) {
        return;
    }
    const qsizetype end = bytes.indexOf(';');
    const QByteArrayView name = end < 0 ? bytes : bytes.first(end);
    const qsizetype room = maxFontNameBytes - m_fontEntry.name.size();
    m_fontEntry.name.append(name.first(std::clamp<qsizetype>(room, 0, name.size())));
    if (end >= 0) {
        commitFont();
    }
}

void RtfParser::commitFont() {
    if (!m_fontEntry.open) {
        return;
    }
    m_fontEntry.open = false;
    const int page = m_fontEntry.font.codePage ? m_fontEntry.font.codePage : m_documentCodePage;
    m_fontEntry.font.family = m_decoder.decode(page, m_fontEntry.name).trimmed();
    m_builder.setFont(m_fontEntry.index, std::move(m_fontEntry.font));
    m_fontEntry.name.clear();
}

void RtfParser::readColorTableBytes(QByteArrayView bytes) {
    for (const char c : bytes) {
        if (c == ';') {
            m_builder.addColor(m_colorEntry.given ? std::optional(QColor(m_colorEntry.red, m_colorEntry.green,
                                                                         m_colorEntry.blue))
                                                  : std::nullopt);
            m_colorEntry = ColorEntry{};
        }
    }
}

qsizetype leadingWhiteSpace(QByteArrayView bytes) {
    qsizetype skipped = 0;
    while (skipped < bytes.size() && (bytes[skipped] == ' ' || bytes[skipped] == '\t' ||
                                      bytes[skipped] == '\r' || bytes[skipped] == '\n')) {
        ++skipped;
    }
    return skipped;
}

} // namespace

bool RtfReader::isRtf(QByteArrayView bytes) {
    return bytes.sliced(leadingWhiteSpace(bytes)).startsWith("{\\rtf");
}

RtfReader::Outcome RtfReader::readInto(QByteArrayView rtf, QTextDocument& document, Limits limits) {
    Outcome outcome;
    if (!isRtf(rtf)) {
        return outcome;
    }
    RtfParser parser(rtf.sliced(leadingWhiteSpace(rtf)), limits, document);
    parser.run();
    outcome.isRtf = true;
    outcome.truncated = parser.truncated();
    outcome.steps = parser.steps();
    return outcome;
}

RtfReader::Result RtfReader::read(QByteArrayView rtf, Limits limits) {
    Result result;
    if (!isRtf(rtf)) {
        return result;
    }
    auto document = std::make_unique<QTextDocument>();
    // Nothing is ever undone in a preview, and the undo stack would double the memory of a large one.
    document->setUndoRedoEnabled(false);
    const Outcome outcome = readInto(rtf, *document, limits);
    result.document = std::move(document);
    result.truncated = outcome.truncated;
    result.steps = outcome.steps;
    return result;
}

} // namespace snipjar
