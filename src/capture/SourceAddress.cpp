#include "capture/SourceAddress.h"

#include "platform/Pasteboard.h"
#include "platform/TypeIdentifier.h"

#include <QStringConverter>
#include <QStringDecoder>
#include <QUrl>

namespace snipjar {

namespace {

bool isFileURL(const QString& url) {
    return QUrl(url).isLocalFile() || url.startsWith(QLatin1String("file:"), Qt::CaseInsensitive);
}

// Browsers put HTML on the clipboard in UTF-8 or, some of them, in UTF-16 with a byte-order mark;
// a charset declared in the markup is honoured as well.
QString decodeHTML(const QByteArray& bytes) {
    const QStringConverter::Encoding encoding =
        QStringConverter::encodingForHtml(bytes).value_or(QStringConverter::Utf8);
    QStringDecoder decoder(encoding);
    return decoder.decode(bytes);
}

} // namespace

std::optional<QString> sourceURLString(Pasteboard& pasteboard) {
    if (const std::optional<QStringList> urls = pasteboard.urls()) {
        for (const QString& url : *urls) {
            if (!isFileURL(url)) {
                return url;
            }
        }
    }
    const std::optional<QByteArray> html = pasteboard.data(TypeIdentifier::html);
    if (!html) {
        return std::nullopt;
    }
    return imageSourceFromHTML(decodeHTML(*html));
}

std::optional<QString> imageSourceFromHTML(const QString& html) {
    static const QString imgOpening = QStringLiteral("<img");
    const qsizetype imgStart = html.indexOf(imgOpening, 0, Qt::CaseInsensitive);
    if (imgStart < 0) {
        return std::nullopt;
    }
    const qsizetype tagStart = imgStart + imgOpening.size();
    const qsizetype tagEnd = html.indexOf(QLatin1Char('>'), tagStart);
    const QStringView tag = QStringView(html).mid(tagStart, tagEnd < 0 ? -1 : tagEnd - tagStart);

    QStringView match = u"src=\"";
    qsizetype attributeStart = tag.indexOf(match, 0, Qt::CaseInsensitive);
    if (attributeStart < 0) {
        match = u"src='";
        attributeStart = tag.indexOf(match, 0, Qt::CaseInsensitive);
    }
    if (attributeStart < 0) {
        return std::nullopt;
    }
    const QChar quote = match.back();
    const qsizetype valueStart = attributeStart + match.size();
    const qsizetype valueEnd = tag.indexOf(quote, valueStart);
    if (valueEnd < 0 || valueEnd == valueStart) {
        return std::nullopt;
    }
    QString value = tag.mid(valueStart, valueEnd - valueStart).toString();
    value.replace(QLatin1String("&amp;"), QLatin1String("&"));
    if (value.isEmpty() || value.startsWith(QLatin1String("data:"))) {
        return std::nullopt;
    }
    return value;
}

} // namespace snipjar
