#include "panel/RtfTokenizer.h"

#include <algorithm>
#include <limits>

namespace snipjar {
namespace {

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

RtfToken RtfTokenizer::next() {
    while (m_position < m_input.size()) {
        const char c = m_input[m_position];
        switch (c) {
        case '{':
            ++m_position;
            return RtfToken{RtfToken::Type::groupOpen};
        case '}':
            ++m_position;
            return RtfToken{RtfToken::Type::groupClose};
        case '\\':
            return readControl();
        case '\r':
        case '\n':
            // Line breaks in the source only wrap long lines; paragraphs are \par.
            ++m_position;
            continue;
        default:
            return readText();
        }
    }
    return RtfToken{};
}

RtfToken RtfTokenizer::readText() {
    const qsizetype start = m_position;
    while (m_position < m_input.size()) {
        const char c = m_input[m_position];
        if (c == '{' || c == '}' || c == '\\' || c == '\r' || c == '\n') {
            break;
        }
        ++m_position;
    }
    RtfToken token{RtfToken::Type::text};
    token.text = m_input.sliced(start, m_position - start);
    return token;
}

RtfToken RtfTokenizer::readControl() {
    const qsizetype size = m_input.size();
    ++m_position; // the backslash
    if (m_position >= size) {
        return RtfToken{};
    }
    const char first = m_input[m_position];
    if (!isLetter(first)) {
        ++m_position;
        if (first == '\'') {
            // Two hex digits make the byte; a malformed escape yields whatever digits were there.
            int value = 0;
            for (int digit = 0; digit < 2 && m_position < size; ++digit) {
                const int v = hexValue(m_input[m_position]);
                if (v < 0) {
                    break;
                }
                value = value * 16 + v;
                ++m_position;
            }
            RtfToken token{RtfToken::Type::hexByte};
            token.byte = static_cast<unsigned char>(value);
            return token;
        }
        RtfToken token{RtfToken::Type::controlSymbol};
        // A backslash before a line break is an old spelling of \par.
        token.symbol = first == '\r' ? '\n' : first;
        return token;
    }

    const qsizetype nameStart = m_position;
    while (m_position < size && isLetter(m_input[m_position])) {
        ++m_position;
    }
    RtfToken token{RtfToken::Type::controlWord};
    const qsizetype nameLength = m_position - nameStart;
    // An overlong word keeps an impossible name so that it matches no known word.
    token.name = nameLength > maxWordLength ? QByteArrayView() : m_input.sliced(nameStart, nameLength);

    bool negative = false;
    if (m_position + 1 < size && m_input[m_position] == '-' && isDigit(m_input[m_position + 1])) {
        negative = true;
        ++m_position;
    }
    if (m_position < size && isDigit(m_input[m_position])) {
        long long value = 0;
        qsizetype digits = 0;
        while (m_position < size && isDigit(m_input[m_position])) {
            if (digits < maxDigits) {
                value = value * 10 + (m_input[m_position] - '0');
            }
            ++digits;
            ++m_position;
        }
        if (digits > maxDigits) {
            value = std::numeric_limits<int>::max();
        }
        value = std::min<long long>(value, std::numeric_limits<int>::max());
        token.hasParameter = true;
        token.parameter = static_cast<int>(negative ? -value : value);
    }
    if (m_position < size && m_input[m_position] == ' ') {
        ++m_position;
    }

    if (token.name == "bin" && token.hasParameter) {
        // Binary data may contain anything, braces included; it is skipped whole.
        const qsizetype length = std::clamp<qsizetype>(token.parameter, 0, size - m_position);
        m_position += length;
        return RtfToken{RtfToken::Type::binary};
    }
    return token;
}

} // namespace snipjar
