#include "app/CommandLineRules.h"

#include <QDate>

namespace snipjar::commandline {

QString pauseRangeError(const QString& given) {
    return QStringLiteral("pause needs a number of minutes from 1 to %1, not \"%2\"")
        .arg(maximumPauseMinutes)
        .arg(given);
}

QString limitError(const QString& given) {
    return QStringLiteral("--limit needs a number of 0 or more, not \"%1\"").arg(given);
}

QStringList kindsFor(CommandLine::Command command) {
    switch (command) {
    case CommandLine::Command::list:
    case CommandLine::Command::search:
        return {QStringLiteral("text"), QStringLiteral("image"), QStringLiteral("file"),
                QStringLiteral("rich")};
    case CommandLine::Command::add:
        return {QStringLiteral("text"), QStringLiteral("rich"), QStringLiteral("image")};
    default:
        return {};
    }
}

QString kindError(CommandLine::Command command) {
    return QStringLiteral("--kind needs one of %1").arg(kindsFor(command).join(QLatin1Char('|')));
}

std::optional<QDateTime> parseTime(const QString& text, bool untilEndOfDay) {
    const QDateTime moment = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (moment.isValid() && text.contains(QLatin1Char('T'))) {
        return moment;
    }
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (!day.isValid()) {
        return std::nullopt;
    }
    return (untilEndOfDay ? day.addDays(1) : day).startOfDay();
}

QString timeError(const QString& option) {
    return QStringLiteral("%1 needs a date such as 2026-12-08 or a time such as 2026-12-08T14:30")
        .arg(option);
}

} // namespace snipjar::commandline
