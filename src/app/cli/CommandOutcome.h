#pragma once

#include "app/cli/TerminalText.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdio>
#include <unistd.h>

namespace snipjar {

// What a command did: its exit status (0 success, 1 failure, 2 usage error), what it writes to
// standard output and the one-line error it writes to standard error. The running Snipjar sends it
// back over the socket as JSON.
struct CommandOutcome {
    int status = 0;
    QByteArray output;
    QString error;
    // The output is binary (an image, bytes of a MIME type that are not text): a terminal would
    // take them for control sequences, so print() refuses to write them to one, as other tools do.
    bool binary = false;

    static CommandOutcome success(QByteArray output = {}) { return {0, std::move(output), {}}; }
    static CommandOutcome failure(QString error) { return {1, {}, std::move(error)}; }
    static CommandOutcome usageError(QString error) { return {2, {}, std::move(error)}; }
    static CommandOutcome binaryOutput(QByteArray output) { return {0, std::move(output), {}, true}; }

    // Writes the output and the error (as "snipjar: " and one line), escaped where they reach a
    // terminal, and gives the exit status.
    int print() const {
        if (binary && ::isatty(STDOUT_FILENO)) {
            return usageError(QStringLiteral(
                                  "the content is binary; redirect it to a file or a pipe, or give --force"))
                .print();
        }
        if (!output.isEmpty()) {
            TerminalText::write(stdout, output);
        }
        if (!error.isEmpty()) {
            QString line = error;
            line.replace(QLatin1Char('\n'), QLatin1Char(' '));
            TerminalText::write(stderr, "snipjar: " + line.toUtf8() + "\n");
        }
        return status;
    }

    QJsonObject toJson() const {
        QJsonObject object;
        object.insert(QStringLiteral("status"), status);
        object.insert(QStringLiteral("output"), QString::fromLatin1(output.toBase64()));
        object.insert(QStringLiteral("error"), error);
        object.insert(QStringLiteral("binary"), binary);
        return object;
    }
    static CommandOutcome fromJson(const QJsonObject& object) {
        return {object.value(QStringLiteral("status")).toInt(1),
                QByteArray::fromBase64(object.value(QStringLiteral("output")).toString().toLatin1()),
                object.value(QStringLiteral("error")).toString(),
                object.value(QStringLiteral("binary")).toBool()};
    }
};

} // namespace snipjar
