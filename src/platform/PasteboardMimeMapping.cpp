#include "platform/PasteboardMimeMapping.h"

#include "platform/TypeIdentifier.h"

#include <QStringDecoder>
#include <QUrl>

#include <algorithm>

namespace snipjar {

namespace {

bool equalsIgnoringCase(const QByteArray& a, const char* b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The charset parameter of a MIME name such as "text/plain;charset=UTF-8", lower-cased.
QByteArray charsetOf(const QByteArray& target) {
    const QByteArray lowered = target.toLower();
    const qsizetype at = lowered.indexOf("charset=");
    if (at < 0) {
        return {};
    }
    QByteArray charset = lowered.mid(at + 8);
    const qsizetype end = charset.indexOf(';');
    if (end >= 0) {
        charset.truncate(end);
    }
    return charset.trimmed().replace('"', QByteArray());
}

bool isValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = decoder.decode(bytes);
    return !decoder.hasError();
}

QString withoutTrailingNuls(QString text) {
    while (text.endsWith(QChar(0))) {
        text.chop(1);
    }
    return text;
}

QStringList lines(const QString& text) {
    QStringList result;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        result << line;
    }
    return result;
}

// A URI never holds a control character; an entry with one (a NUL that would cut a file path
// short where it reaches the C library) is no address at all.
bool hasControlCharacter(const QString& entry) {
    return std::any_of(entry.begin(), entry.end(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

QString normalisedURL(const QString& entry) {
    if (!PasteboardMimeMapping::isFileURL(entry) || entry.startsWith(QLatin1String("file://"))) {
        return entry;
    }
    // "file:/path" and upper-case schemes become the absolute "file:///path" form.
    const QUrl url(entry);
    return url.isValid() ? url.toString(QUrl::FullyEncoded) : entry;
}

QByteArray localPaths(const QByteArray& uriList) {
    QStringList paths;
    for (const QString& url : PasteboardMimeMapping::parseURIList(uriList)) {
        paths << (PasteboardMimeMapping::isFileURL(url) ? QUrl(url).toLocalFile() : url);
    }
    return paths.join(QLatin1Char('\n')).toUtf8();
}

} // namespace

bool PasteboardMimeMapping::isPseudoTarget(const QByteArray& target) {
    static const QByteArrayList pseudoTargets = {"TARGETS",
                                                 "MULTIPLE",
                                                 "TIMESTAMP",
                                                 "SAVE_TARGETS",
                                                 "application/x-qt-image",
                                                 "DELETE",
                                                 "INCR",
                                                 "INSERT_SELECTION",
                                                 "INSERT_PROPERTY",
                                                 "LENGTH",
                                                 "CLIENT_WINDOW",
                                                 "HOST_NAME",
                                                 "USER",
                                                 "OWNER_OS",
                                                 "PROCESS",
                                                 "TASK",
                                                 "_GTK_TEXT_BUFFER_CONTENTS",
                                                 "SAVE_TARGETS"};
    return target.isEmpty() || pseudoTargets.contains(target);
}

std::optional<QString> PasteboardMimeMapping::identifierForTarget(const QByteArray& target) {
    if (isPseudoTarget(target)) {
        return std::nullopt;
    }
    if (target == passwordManagerHint || target == clipboardState) {
        return QString::fromLatin1(target);
    }
    if (std::optional<QString> identifier = TypeIdentifier::fromMimeType(QString::fromLatin1(target))) {
        return identifier;
    }
    return QString::fromLatin1(target);
}

bool PasteboardMimeMapping::isSecretHint(const QByteArray& value) {
    return isConcealingValue(passwordManagerHint, value);
}

bool PasteboardMimeMapping::isConcealingValue(const QByteArray& target, const QByteArray& value) {
    QByteArray trimmed = value;
    while (!trimmed.isEmpty() && (trimmed.back() == '\0' || QChar::isSpace(uchar(trimmed.back())))) {
        trimmed.chop(1);
    }
    return trimmed == (target == clipboardState ? "sensitive" : "secret");
}

QByteArrayList PasteboardMimeMapping::targetsForIdentifier(const QString& identifier,
                                                           const QByteArrayList& offered) {
    QByteArrayList result;
    for (const QString& mime : TypeIdentifier::mimeTypes(identifier)) {
        for (const QByteArray& target : offered) {
            if (equalsIgnoringCase(target, mime.toLatin1().constData()) && !result.contains(target)) {
                result << target;
                break;
            }
        }
    }
    for (const QByteArray& target : offered) {
        if (result.contains(target) || target == passwordManagerHint || target == clipboardState) {
            continue;
        }
        if (identifierForTarget(target) == identifier) {
            result << target;
        }
    }
    return result;
}

QString PasteboardMimeMapping::decodeText(const QByteArray& target, const QByteArray& bytes) {
    if (target == "STRING") {
        return withoutTrailingNuls(QString::fromLatin1(bytes));
    }
    if (target == "UTF8_STRING") {
        return withoutTrailingNuls(QString::fromUtf8(bytes));
    }
    const QByteArray charset = charsetOf(target);
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid()) {
            return withoutTrailingNuls(decoder.decode(bytes));
        }
    }
    // text/plain and TEXT without a charset: UTF-8 in practice, Latin-1 from older programs.
    return withoutTrailingNuls(isValidUtf8(bytes) ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes));
}

QStringList PasteboardMimeMapping::parseURIList(const QByteArray& bytes) {
    QStringList result;
    for (const QString& line : lines(withoutTrailingNuls(QString::fromUtf8(bytes)))) {
        const QString entry = line.trimmed();
        if (!entry.isEmpty() && !entry.startsWith(QLatin1Char('#')) && !hasControlCharacter(entry)) {
            result << normalisedURL(entry);
        }
    }
    return result;
}

std::optional<QString> PasteboardMimeMapping::parseMozURL(const QByteArray& bytes) {
    QString text;
    if (bytes.startsWith("\xff\xfe")) {
        text = QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.mid(2));
    } else if (bytes.startsWith("\xfe\xff")) {
        text = QStringDecoder(QStringDecoder::Utf16BE).decode(bytes.mid(2));
    } else if (bytes.size() >= 2 && bytes.size() % 2 == 0 && bytes[1] == '\0') {
        // Firefox writes UTF-16 in the machine's order without a byte-order mark.
        text = QStringDecoder(QStringDecoder::Utf16LE).decode(bytes);
    } else if (bytes.size() >= 2 && bytes.size() % 2 == 0 && bytes[0] == '\0') {
        text = QStringDecoder(QStringDecoder::Utf16BE).decode(bytes);
    } else {
        text = QString::fromUtf8(bytes);
    }
    const QString first = lines(withoutTrailingNuls(text)).value(0).trimmed();
    if (first.isEmpty()) {
        return std::nullopt;
    }
    return normalisedURL(first);
}

QStringList PasteboardMimeMapping::parseGnomeCopiedFiles(const QByteArray& bytes) {
    QStringList entries = parseURIList(bytes);
    if (!entries.isEmpty() &&
        (entries.first() == QLatin1String("copy") || entries.first() == QLatin1String("cut"))) {
        entries.removeFirst();
    }
    return entries;
}

bool PasteboardMimeMapping::isFileURL(const QString& url) {
    return url.startsWith(QLatin1String("file:"), Qt::CaseInsensitive);
}

QList<PasteboardMimeMapping::ServedTarget>
PasteboardMimeMapping::servedTargets(const PasteboardContent& content) {
    QList<ServedTarget> result;
    auto add = [&result](const QByteArray& target, const QByteArray& type, const QByteArray& data) {
        for (const ServedTarget& served : result) {
            if (served.target == target) {
                return;
            }
        }
        result.append({target, type, data});
    };
    auto addPlainText = [&add](const QByteArray& utf8) {
        add("UTF8_STRING", "UTF8_STRING", utf8);
        add("text/plain;charset=utf-8", "text/plain;charset=utf-8", utf8);
        add("text/plain", "text/plain", utf8);
        add("STRING", "STRING", QString::fromUtf8(utf8).toLatin1());
        add("TEXT", "UTF8_STRING", utf8);
    };

    bool hasPlainText = false;
    for (const PasteboardContent::Entry& entry : content.entries) {
        hasPlainText = hasPlainText || entry.type == QLatin1String(TypeIdentifier::plainText);
    }

    for (const PasteboardContent::Entry& entry : content.entries) {
        if (entry.type == QLatin1String(TypeIdentifier::plainText)) {
            addPlainText(entry.data);
            continue;
        }
        if (entry.type == QLatin1String(TypeIdentifier::fileURL)) {
            const QStringList urls = parseURIList(entry.data);
            add(uriList, uriList, urls.join(QLatin1String("\r\n")).toUtf8() + "\r\n");
            add(gnomeCopiedFiles, gnomeCopiedFiles, "copy\n" + urls.join(QLatin1Char('\n')).toUtf8());
            // Editors and terminals take file clips as their paths.
            if (!hasPlainText) {
                addPlainText(localPaths(entry.data));
            }
            continue;
        }
        const QStringList mimes = TypeIdentifier::mimeTypes(entry.type);
        if (mimes.isEmpty()) {
            add(entry.type.toLatin1(), entry.type.toLatin1(), entry.data);
            continue;
        }
        for (const QString& mime : mimes) {
            const QByteArray target = mime.toLatin1();
            add(target, target, target == passwordManagerHint ? QByteArray("secret") : entry.data);
        }
    }
    return result;
}

} // namespace snipjar
