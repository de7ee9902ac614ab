#include "app/CommandLine.h"

namespace snipjar {

namespace {

CommandLine failure(const QString& message) {
    CommandLine result;
    result.error = message;
    return result;
}

} // namespace

QString CommandLine::usage() {
    return QStringLiteral("usage: snipjar [--version | --help | show-panel | list [--json] [--limit N]]");
}

CommandLine CommandLine::parse(const QStringList& arguments) {
    // arguments[0] is the program name.
    const QStringList words = arguments.mid(1);
    CommandLine result;
    if (words.isEmpty()) {
        return result;
    }
    const QString& first = words.first();
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        result.command = Command::version;
    } else if (first == QLatin1String("--help") || first == QLatin1String("-h") ||
               first == QLatin1String("help")) {
        result.command = Command::help;
    } else if (first == QLatin1String("show-panel")) {
        result.command = Command::showPanel;
    } else if (first == QLatin1String("list")) {
        result.command = Command::list;
        for (qsizetype i = 1; i < words.size(); ++i) {
            const QString& word = words.at(i);
            if (word == QLatin1String("--json")) {
                result.json = true;
            } else if (word == QLatin1String("--limit") || word.startsWith(QLatin1String("--limit="))) {
                QString value;
                if (word.contains(QLatin1Char('='))) {
                    value = word.section(QLatin1Char('='), 1);
                } else if (i + 1 < words.size()) {
                    value = words.at(++i);
                } else {
                    return failure(QStringLiteral("--limit needs a number"));
                }
                bool ok = false;
                const int number = value.toInt(&ok);
                if (!ok || number < 0) {
                    return failure(
                        QStringLiteral("--limit needs a number of 0 or more, not \"%1\"").arg(value));
                }
                result.limit = number;
            } else {
                return failure(QStringLiteral("unknown option \"%1\" for list").arg(word));
            }
        }
        return result;
    } else {
        return failure(QStringLiteral("unknown command \"%1\"").arg(first));
    }
    if (words.size() > 1) {
        return failure(QStringLiteral("unexpected argument \"%1\"").arg(words.at(1)));
    }
    return result;
}

} // namespace snipjar
