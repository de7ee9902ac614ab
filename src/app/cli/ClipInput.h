#pragma once

#include "app/CommandLine.h"
#include "model/Clip.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <variant>

namespace snipjar {

// The content of `snipjar add`, read and checked by the command process before anything is sent
// or filed: standard input (read no further than the store's size limit, so a huge input is
// refused without being held), --text or --file. Every refusal is one line for standard error.
class ClipInput {
public:
    using Result = std::variant<CommandLine::Content, QString>;

    // Reads the content the command line asks for; `input` is standard input.
    static Result read(const CommandLine& commandLine, FILE* input);
    // Checks bytes read for a kind: UTF-8 text without NUL bytes, RTF, an image a trusted loader
    // accepts.
    static Result fromBytes(CommandLine::Content::Kind kind, QByteArray bytes);
    static Result fromFiles(const QStringList& paths);

    // The clip the content stands for, as the capture would have made it.
    static Clip clipOf(const CommandLine::Content& content);

    // The bytes of a stream, or none when there are more than `cap`.
    static std::optional<QByteArray> readCapped(FILE* input, qint64 cap);
};

} // namespace snipjar
