#include "app/tray/MenuClipText.h"

#include "model/ClipRecords.h"
#include "panel/DisplayText.h"
#include "panel/widgets/PanelSymbols.h"

#include <QFontMetrics>
#include <QImage>
#include <QPixmap>

namespace snipjar {

namespace {

constexpr int titleCharacterLimit = 500;
constexpr int thumbnailSide = 16;

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool isSpaceOrBreak(char32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0x0B || c == 0x0C || c == 0x85 ||
           QChar::isSpace(c) || c == 0x2028 || c == 0x2029;
}

} // namespace

QString MenuClipText::oneLine(const ClipItem& item) {
    if (item.concealed) {
        return QString(6, QChar(0x2022));
    }
    QString result;
    bool inSpace = false;
    for (const char32_t c : item.title.left(titleCharacterLimit).toUcs4()) {
        // White space is tested first: tab and line feed are control characters too, yet they
        // separate words.
        if (isSpaceOrBreak(c)) {
            if (!inSpace) {
                result += QLatin1Char(' ');
                inSpace = true;
            }
            continue;
        }
        if (isControl(c) || isBidiControl(c)) {
            continue; // dropped without ending a run of white space
        }
        inSpace = false;
        result += QString::fromUcs4(&c, 1);
    }
    qsizetype begin = 0;
    qsizetype end = result.size();
    while (begin < end && (result[begin] == QLatin1Char(' ') || result[begin] == QLatin1Char('\t'))) {
        ++begin;
    }
    while (end > begin && (result[end - 1] == QLatin1Char(' ') || result[end - 1] == QLatin1Char('\t'))) {
        --end;
    }
    return result.mid(begin, end - begin);
}

QString MenuClipText::title(const ClipItem& item, const QFontMetrics& metrics) {
    const QString line = oneLine(item);
    if (metrics.horizontalAdvance(line) <= titleWidth) {
        return line;
    }
    // The longest prefix that fits together with the ellipsis, found by halving.
    const QString ellipsis(QChar(0x2026));
    qsizetype low = 0;
    qsizetype high = line.size();
    while (low < high) {
        const qsizetype probe = (low + high + 1) / 2;
        if (metrics.horizontalAdvance(line.left(probe) + ellipsis) <= titleWidth) {
            low = probe;
        } else {
            high = probe - 1;
        }
    }
    // A cut between the halves of a surrogate pair would leave half a character.
    if (low > 0 && line[low - 1].isHighSurrogate()) {
        --low;
    }
    return line.left(low) + ellipsis;
}

QIcon MenuClipText::icon(const ClipItem& item) {
    if (item.concealed) {
        return panelSymbol(QStringLiteral("key.fill"));
    }
    switch (item.kind()) {
    case ClipKind::text:
        return panelSymbol(QStringLiteral("text.alignleft"));
    case ClipKind::richText:
        return panelSymbol(QStringLiteral("textformat"));
    case ClipKind::image: {
        const QImage thumbnail = item.thumbnailData ? QImage::fromData(*item.thumbnailData) : QImage();
        if (thumbnail.isNull()) {
            return panelSymbol(QStringLiteral("photo"));
        }
        const double scale = std::min(
            {double(thumbnailSide) / thumbnail.width(), double(thumbnailSide) / thumbnail.height(), 1.0});
        return QIcon(QPixmap::fromImage(thumbnail.scaled(std::max(1, qRound(thumbnail.width() * scale)),
                                                         std::max(1, qRound(thumbnail.height() * scale)),
                                                         Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    }
    case ClipKind::file:
        return panelSymbol(item.fileURLs().size() >= 2 ? QStringLiteral("doc.on.doc")
                                                       : QStringLiteral("doc"));
    case ClipKind::unknown:
        break;
    }
    return panelSymbol(QStringLiteral("questionmark.square.dashed"));
}

} // namespace snipjar
