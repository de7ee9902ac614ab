#include "app/settings/GnomeShortcutWriter.h"

#include <QProcess>
#include <QTimer>

namespace snipjar {

void GnomeShortcutWriter::write(const QString& accelerator, const QString& command, Done done) {
    Request request{accelerator, command, std::move(done)};
    if (current) {
        if (queued && queued->done) {
            queued->done(QStringLiteral("a newer shortcut was asked for"));
        }
        queued = std::move(request);
        return;
    }
    current = std::move(request);
    start();
}

void GnomeShortcutWriter::start() {
    const QString entry = QString::fromLatin1(entryPath);
    const QString keybindings = QString::fromLatin1(schema);
    const QString custom = keybindings + QLatin1String(".custom-keybinding:") + entry;
    run({QStringLiteral("get"), keybindings, QStringLiteral("custom-keybindings")},
        [this, entry, keybindings, custom](const QString& output) {
            std::optional<QStringList> entries = parseList(output.trimmed());
            if (!entries) {
                finish(QStringLiteral("GNOME's list of custom shortcuts cannot be read"));
                return;
            }
            const auto setFields = [this, custom] {
                run({QStringLiteral("set"), custom, QStringLiteral("name"),
                     stringText(QStringLiteral("Snipjar"))},
                    [this, custom](const QString&) {
                        run({QStringLiteral("set"), custom, QStringLiteral("command"),
                             stringText(current->command)},
                            [this, custom](const QString&) {
                                run({QStringLiteral("set"), custom, QStringLiteral("binding"),
                                     stringText(current->accelerator)},
                                    [this](const QString&) { finish(std::nullopt); });
                            });
                    });
            };
            if (entries->contains(entry)) {
                setFields();
                return;
            }
            entries->append(entry);
            run({QStringLiteral("set"), keybindings, QStringLiteral("custom-keybindings"),
                 listText(*entries)},
                [setFields](const QString&) { setFields(); });
        });
}

void GnomeShortcutWriter::run(const QStringList& arguments, std::function<void(const QString& output)> next) {
    auto* process = new QProcess(this);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    QTimer::singleShot(stepTimeoutMs, process, [process] { process->kill(); });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            process->deleteLater();
            finish(QStringLiteral("GNOME's gsettings tool is not installed"));
        }
    });
    connect(process, &QProcess::finished, this,
            [this, process, next = std::move(next)](int exitCode, QProcess::ExitStatus status) {
                process->deleteLater();
                if (status != QProcess::NormalExit || exitCode != 0) {
                    const QString reason = QString::fromLocal8Bit(process->readAllStandardError())
                                               .trimmed()
                                               .section(QLatin1Char('\n'), 0, 0);
                    finish(QStringLiteral("GNOME's settings could not be changed") +
                           (reason.isEmpty() ? QString() : QLatin1String(": ") + reason));
                    return;
                }
                next(QString::fromUtf8(process->readAllStandardOutput()));
            });
    process->start(QStringLiteral("gsettings"), arguments);
}

void GnomeShortcutWriter::finish(std::optional<QString> error) {
    if (!current) {
        return;
    }
    Request done = std::move(*current);
    current.reset();
    if (queued) {
        current = std::move(queued);
        queued.reset();
        start();
    }
    if (done.done) {
        done.done(std::move(error));
    }
}

std::optional<QStringList> GnomeShortcutWriter::parseList(const QString& text) {
    QString rest = text;
    if (rest.startsWith(QLatin1String("@as"))) {
        rest = rest.mid(3).trimmed();
    }
    if (!rest.startsWith(QLatin1Char('[')) || !rest.endsWith(QLatin1Char(']'))) {
        return std::nullopt;
    }
    QStringList items;
    qsizetype at = 1;
    const qsizetype end = rest.size() - 1;
    const auto skipSpaces = [&] {
        while (at < end && rest[at].isSpace()) {
            ++at;
        }
    };
    skipSpaces();
    while (at < end) {
        const QChar quote = rest[at];
        if (quote != QLatin1Char('\'') && quote != QLatin1Char('"')) {
            return std::nullopt;
        }
        QString item;
        for (++at; at < end && rest[at] != quote; ++at) {
            if (rest[at] == QLatin1Char('\\') && at + 1 < end) {
                ++at;
            }
            item += rest[at];
        }
        if (at >= end) {
            return std::nullopt;
        }
        items.append(item);
        ++at;
        skipSpaces();
        if (at < end) {
            if (rest[at] != QLatin1Char(',')) {
                return std::nullopt;
            }
            ++at;
            skipSpaces();
        }
    }
    return items;
}

QString GnomeShortcutWriter::stringText(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QString GnomeShortcutWriter::listText(const QStringList& items) {
    QStringList quoted;
    for (const QString& item : items) {
        quoted.append(stringText(item));
    }
    return QLatin1Char('[') + quoted.join(QLatin1String(", ")) + QLatin1Char(']');
}

} // namespace snipjar
