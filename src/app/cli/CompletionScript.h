#pragma once

#include <QByteArray>
#include <QString>

namespace snipjar {

// The shell completion scripts (`snipjar completions bash|zsh|fish`), made from the command table
// the help text and the parser use, so that a command or an option added there is completed in
// every shell without a second list to keep in step. The build writes them where Debian's bash,
// zsh and fish look for them.
class CompletionScript {
public:
    static QByteArray of(const QString& shell);
};

} // namespace snipjar
