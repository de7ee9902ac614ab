#include "app/cli/TextInput.h"

#include <QStringDecoder>

namespace snipjar {

std::optional<QByteArray> TextInput::readCapped(FILE* input, qint64 cap) {
    QByteArray bytes;
    char buffer[65536];
    while (true) {
        const size_t read = std::fread(buffer, 1, sizeof buffer, input);
        if (read == 0) {
            break;
        }
        if (bytes.size() + qint64(read) > cap) {
            return std::nullopt;
        }
        bytes.append(buffer, qsizetype(read));
    }
    return bytes;
}

std::optional<QString> TextInput::decode(const QByteArray& bytes) {
    if (bytes.contains('\0')) {
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

QString TextInput::tooLarge() {
    return QStringLiteral("the content is larger than %1 MB, the most a clip can hold; nothing was added")
        .arg(largestBytes / 1'000'000);
}

QString TextInput::empty() {
    return QStringLiteral("nothing to add: the input is empty");
}

QString TextInput::notText() {
    return QStringLiteral("the input is not UTF-8 text (it holds binary data); nothing was added");
}

} // namespace snipjar
