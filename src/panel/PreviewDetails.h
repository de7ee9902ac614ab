#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace snipjar {

// The texts of the preview pane's details row. They are plain functions of their inputs so that
// the pane only lays them out; the English wording goes through the translator.

// "1 line · 12 characters", counts grouped as the locale groups them ("1,204 lines").
QString statisticsText(qsizetype lines, qsizetype chars, const QLocale& locale);
// "1920 × 1080", plain integers.
QString pixelSizeText(qint64 width, qint64 height);
// How long ago `then` was, seen from `now`, in named wide units: "now", "5 minutes ago",
// "yesterday", "last week", "3 months ago"; a moment in the future reads "in 5 minutes",
// "tomorrow" and so on.
QString relativeAgeText(const QDateTime& then, const QDateTime& now, const QLocale& locale);
// The first computer's name, then "+N" for the others: "Laptop", "Laptop +2"; empty for none.
QString originsText(const QStringList& names);

} // namespace snipjar
