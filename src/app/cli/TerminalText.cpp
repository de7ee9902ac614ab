#include "app/cli/TerminalText.h"

#include <QStringDecoder>

#include <unistd.h>

namespace snipjar {

namespace {

bool isControl(char32_t character) {
    return (character < 0x20 && character != u'\n' && character != u'\t') ||
           (character >= 0x7F && character <= 0x9F);
}

QString hex(uint value, int digits) {
    return QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

} // namespace

QByteArray TerminalText::escaped(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    QString out;
    out.reserve(text.size());
    if (decoder.hasError()) {
        // Not text (an image written by show): only printable ASCII goes through as it is, so no
        // byte can be read as an eight-bit control.
        for (const char byte : bytes) {
            const auto value = static_cast<unsigned char>(byte);
            const bool plain = (value >= 0x20 && value < 0x7F) || byte == '\n' || byte == '\t';
            out += plain ? QString(QLatin1Char(byte)) : QStringLiteral("\\x") + hex(value, 2);
        }
        return out.toUtf8();
    }
    for (const QChar character : text) {
        if (!isControl(character.unicode())) {
            out += character;
        } else if (character.unicode() < 0x80) {
            out += QStringLiteral("\\x") + hex(character.unicode(), 2);
        } else {
            out += QStringLiteral("\\u") + hex(character.unicode(), 4);
        }
    }
    return out.toUtf8();
}

void TerminalText::write(FILE* stream, const QByteArray& bytes) {
    const QByteArray shown = ::isatty(::fileno(stream)) ? escaped(bytes) : bytes;
    std::fwrite(shown.constData(), 1, size_t(shown.size()), stream);
    std::fflush(stream);
}

} // namespace snipjar
