#pragma once

#include "app/CommandLine.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// The values command options take, checked alike when a command is parsed from the words of a
// command line and when it arrives at the running Snipjar as JSON.
namespace snipjar::commandline {

// A week; longer pauses are better ended by hand.
constexpr int maximumPauseMinutes = 7 * 24 * 60;

QString pauseRangeError(const QString& given);
QString limitError(const QString& given);
// The kinds `list --kind` filters by and `add --kind` files; none for the other commands.
QStringList kindsFor(CommandLine::Command command);
QString kindError(CommandLine::Command command);
// --since and --until: an ISO 8601 date and time (local time unless it names its offset), or a
// date alone, which --since takes from the start of that day and --until up to its end.
std::optional<QDateTime> parseTime(const QString& text, bool untilEndOfDay);
QString timeError(const QString& option);

} // namespace snipjar::commandline
