#pragma once

#include <QByteArrayView>

namespace snipjar {

// One lexical element of RTF.
struct RtfToken {
    enum class Type {
        groupOpen,
        groupClose,
        // A control word such as \fs24: `name` holds the letters, `parameter` the number if any.
        controlWord,
        // A control symbol such as \~ or \*: `symbol` holds the character after the backslash.
        controlSymbol,
        // \'hh: `byte` holds the value.
        hexByte,
        // A run of plain bytes, without the line breaks RTF ignores: `text` points into the input.
        text,
        // The data of \binN, skipped: never text.
        binary,
        end,
    };

    RtfToken() = default;
    explicit RtfToken(Type type)
        : type(type) {}

    Type type = Type::end;
    QByteArrayView name;
    bool hasParameter = false;
    int parameter = 0;
    char symbol = 0;
    unsigned char byte = 0;
    QByteArrayView text;
};

// Splits RTF into tokens in one pass. It never looks back and consumes at least one byte per token,
// so any input takes linear time; overlong words and numbers are consumed whole but clipped, and
// \binN skips at most the bytes that are left.
class RtfTokenizer {
public:
    // Control words longer than this are not RTF words: they are read as one unknown word.
    static constexpr qsizetype maxWordLength = 32;
    // More digits than this cannot be a meaningful parameter; the value saturates.
    static constexpr qsizetype maxDigits = 10;

    explicit RtfTokenizer(QByteArrayView input)
        : m_input(input) {}

    RtfToken next();
    qsizetype position() const { return m_position; }

private:
    RtfToken readControl();
    RtfToken readText();

    QByteArrayView m_input;
    qsizetype m_position = 0;
};

} // namespace snipjar
