#include "panel/PreviewDetails.h"

#include <QCoreApplication>

namespace snipjar {

namespace {

const char* const context = "PreviewDetails";

QString translated(const char* text) {
    return QCoreApplication::translate(context, text);
}

// One count with its unit: the singular wording for exactly one, else the grouped number.
QString countText(qint64 count, const char* one, const char* many, const QLocale& locale) {
    return count == 1 ? translated(one) : translated(many).arg(locale.toString(count));
}

// The wording of one unit of relative time, for the past and for the future. The words for a
// single unit are named ones ("yesterday", "last week") where English has them.
struct AgeUnit {
    qint64 seconds;
    const char* pastOne;
    const char* pastMany;
    const char* futureOne;
    const char* futureMany;
};

constexpr qint64 minute = 60;
constexpr qint64 hour = 60 * minute;
constexpr qint64 day = 24 * hour;
constexpr qint64 week = 7 * day;
constexpr qint64 month = 30 * day;
constexpr qint64 year = 365 * day;

// From the largest unit down; the first that fits at least once is used.
constexpr AgeUnit ageUnits[] = {
    {year, QT_TRANSLATE_NOOP("PreviewDetails", "last year"),
     QT_TRANSLATE_NOOP("PreviewDetails", "%1 years ago"), QT_TRANSLATE_NOOP("PreviewDetails", "next year"),
     QT_TRANSLATE_NOOP("PreviewDetails", "in %1 years")},
    {month, QT_TRANSLATE_NOOP("PreviewDetails", "last month"),
     QT_TRANSLATE_NOOP("PreviewDetails", "%1 months ago"), QT_TRANSLATE_NOOP("PreviewDetails", "next month"),
     QT_TRANSLATE_NOOP("PreviewDetails", "in %1 months")},
    {week, QT_TRANSLATE_NOOP("PreviewDetails", "last week"),
     QT_TRANSLATE_NOOP("PreviewDetails", "%1 weeks ago"), QT_TRANSLATE_NOOP("PreviewDetails", "next week"),
     QT_TRANSLATE_NOOP("PreviewDetails", "in %1 weeks")},
    {day, QT_TRANSLATE_NOOP("PreviewDetails", "yesterday"),
     QT_TRANSLATE_NOOP("PreviewDetails", "%1 days ago"), QT_TRANSLATE_NOOP("PreviewDetails", "tomorrow"),
     QT_TRANSLATE_NOOP("PreviewDetails", "in %1 days")},
    {hour, QT_TRANSLATE_NOOP("PreviewDetails", "1 hour ago"),
     QT_TRANSLATE_NOOP("PreviewDetails", "%1 hours ago"), QT_TRANSLATE_NOOP("PreviewDetails", "in 1 hour"),
     QT_TRANSLATE_NOOP("PreviewDetails", "in %1 hours")},
    {minute, QT_TRANSLATE_NOOP("PreviewDetails", "1 minute ago"),
     QT_TRANSLATE_NOOP("PreviewDetails", "%1 minutes ago"),
     QT_TRANSLATE_NOOP("PreviewDetails", "in 1 minute"),
     QT_TRANSLATE_NOOP("PreviewDetails", "in %1 minutes")},
};

} // namespace

QString statisticsText(qsizetype lines, qsizetype chars, const QLocale& locale) {
    return countText(lines, QT_TRANSLATE_NOOP("PreviewDetails", "1 line"),
                     QT_TRANSLATE_NOOP("PreviewDetails", "%1 lines"), locale) +
           QStringLiteral(" \u00B7 ") +
           countText(chars, QT_TRANSLATE_NOOP("PreviewDetails", "1 character"),
                     QT_TRANSLATE_NOOP("PreviewDetails", "%1 characters"), locale);
}

QString pixelSizeText(qint64 width, qint64 height) {
    return QString::number(width) + QStringLiteral(" \u00D7 ") + QString::number(height);
}

QString relativeAgeText(const QDateTime& then, const QDateTime& now, const QLocale& locale) {
    const qint64 signedSeconds = then.secsTo(now);
    const bool future = signedSeconds < 0;
    const qint64 seconds = future ? -signedSeconds : signedSeconds;
    for (const AgeUnit& unit : ageUnits) {
        const qint64 count = seconds / unit.seconds;
        if (count >= 1) {
            return future ? countText(count, unit.futureOne, unit.futureMany, locale)
                          : countText(count, unit.pastOne, unit.pastMany, locale);
        }
    }
    return translated(QT_TRANSLATE_NOOP("PreviewDetails", "now"));
}

QString originsText(const QStringList& names) {
    if (names.isEmpty()) {
        return {};
    }
    if (names.size() == 1) {
        return names.first();
    }
    return names.first() + QStringLiteral(" +") + QString::number(names.size() - 1);
}

} // namespace snipjar
