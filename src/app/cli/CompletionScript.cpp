#include "app/cli/CompletionScript.h"

#include "app/CommandLine.h"
#include "app/cli/CommandHelp.h"

#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace snipjar {

namespace {

// What an option's value or a command's argument completes to.
struct Value {
    enum class Kind { none, words, files, ids, commands };
    Kind kind = Kind::none;
    QStringList words;
};

struct OptionSyntax {
    QString name;
    // Set for an option that takes a value.
    std::optional<Value> value;
};

struct CommandSyntax {
    QString name;
    QString summary;
    QList<OptionSyntax> options;
    Value argument;
};

// A value written in a usage line: "text|image" lists the words, PATH and FILE are files, any
// other upper-case placeholder (N, NAME, TYPE) is the user's own.
Value valueOf(const QString& placeholder) {
    if (placeholder.contains(QLatin1Char('|'))) {
        return {Value::Kind::words, placeholder.split(QLatin1Char('|'))};
    }
    if (placeholder.startsWith(QLatin1String("PATH")) || placeholder == QLatin1String("FILE")) {
        return {Value::Kind::files, {}};
    }
    return {};
}

QList<CommandSyntax> commandSyntaxes() {
    static const QRegularExpression option(
        QStringLiteral("(?<![\\w-])(--[a-z][a-z-]*|-0)(?: ([A-Za-z][A-Za-z|.]*))?"));
    QList<CommandSyntax> syntaxes;
    for (const CommandLine::Command command : CommandHelp::commands()) {
        CommandSyntax syntax{CommandLine::name(command), CommandHelp::summary(command), {}, {}};
        const QString usage = CommandLine::usage(command);
        for (const QRegularExpressionMatch& match : option.globalMatch(usage)) {
            const QString name = match.captured(1);
            if (std::none_of(syntax.options.begin(), syntax.options.end(),
                             [&](const OptionSyntax& known) { return known.name == name; })) {
                syntax.options.append(
                    {name, match.hasCaptured(2) ? std::optional(valueOf(match.captured(2))) : std::nullopt});
            }
        }
        syntax.options.append({QStringLiteral("--help"), std::nullopt});
        // The argument of the command itself: the word after its name in the usage line.
        const QString first = usage.section(QLatin1Char(' '), 3, 3);
        if (command == CommandLine::Command::help) {
            syntax.argument = {Value::Kind::commands, {}};
        } else if (first.startsWith(QLatin1String("ID"))) {
            syntax.argument = {Value::Kind::ids, {}};
        } else if (first == QLatin1String("FILE")) {
            syntax.argument = {Value::Kind::files, {}};
        }
        syntaxes.append(syntax);
    }
    return syntaxes;
}

QStringList names(const QList<CommandSyntax>& syntaxes) {
    QStringList result;
    for (const CommandSyntax& syntax : syntaxes) {
        result << syntax.name;
    }
    return result;
}

QStringList optionNames(const CommandSyntax& syntax) {
    QStringList result;
    for (const OptionSyntax& option : syntax.options) {
        result << option.name;
    }
    return result;
}

// Single-quoted for any of the three shells (the descriptions hold no quote, but one would be
// closed and escaped).
QString quoted(QString text) {
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QLatin1String("'\\''")) + QLatin1Char('\'');
}

QString bash(const QList<CommandSyntax>& syntaxes) {
    QString options;
    QString values;
    QString arguments[3];
    for (const CommandSyntax& syntax : syntaxes) {
        options += QStringLiteral("        %1) echo %2 ;;\n")
                       .arg(syntax.name, quoted(optionNames(syntax).join(' ')));
        for (const OptionSyntax& option : syntax.options) {
            if (option.value) {
                const QString what = option.value->kind == Value::Kind::words
                                         ? "words " + option.value->words.join(' ')
                                     : option.value->kind == Value::Kind::files ? QStringLiteral("files")
                                                                                : QStringLiteral("own");
                values += QStringLiteral("        \"%1 %2\") echo %3 ;;\n")
                              .arg(syntax.name, option.name, quoted(what));
            }
        }
        const int slot = syntax.argument.kind == Value::Kind::ids        ? 0
                         : syntax.argument.kind == Value::Kind::files    ? 1
                         : syntax.argument.kind == Value::Kind::commands ? 2
                                                                         : -1;
        if (slot >= 0) {
            arguments[slot] += (arguments[slot].isEmpty() ? "" : " | ") + syntax.name;
        }
    }
    return QString::fromUtf8(
               R"SCRIPT(# bash completion for snipjar                                   -*- shell-script -*-
# Made by `snipjar completions bash` from the program's command table.

_snipjar_commands=%1

_snipjar_options_for() {
    case $1 in
%2        *) echo --help ;;
    esac
}

# The value an option takes: "words W...", "files", or "own" for one the user types; fails for an
# option that takes none.
_snipjar_value_of() {
    case "$1 $2" in
%3        *) return 1 ;;
    esac
}

_snipjar_reply() {
    mapfile -t COMPREPLY < <(compgen "$@" -- "$cur")
}

# The ids of the newest clips, read from the store (no running instance or display needed).
_snipjar_ids() {
    command snipjar list --limit 50 2>/dev/null | cut -f1
}

_snipjar() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null 2>&1; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi

    # The command is the first word after the program that is not an option.
    local command="" i
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} != -* ]]; then
            command=${words[i]}
            break
        fi
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            _snipjar_reply -W "--help --version"
        else
            _snipjar_reply -W "$_snipjar_commands"
        fi
        return
    fi

    local value
    if value=$(_snipjar_value_of "$command" "$prev"); then
        case $value in
            files)
                compopt -o filenames 2>/dev/null
                _snipjar_reply -f
                ;;
            words\ *) _snipjar_reply -W "${value#words }" ;;
        esac
        return
    fi

    if [[ $cur == -* ]]; then
        _snipjar_reply -W "$(_snipjar_options_for "$command")"
        return
    fi

    case $command in
        %4) _snipjar_reply -W "$(_snipjar_ids)" ;;
        %5)
            compopt -o filenames 2>/dev/null
            _snipjar_reply -f
            ;;
        %6) [[ $((cword - i)) -eq 1 ]] && _snipjar_reply -W "$_snipjar_commands" ;;
    esac
} &&
    complete -F _snipjar snipjar

# ex: filetype=sh
)SCRIPT")
        .arg(quoted(names(syntaxes).join(' ')), options, values, arguments[0], arguments[1], arguments[2]);
}

QString zsh(const QList<CommandSyntax>& syntaxes) {
    QString described;
    QString values;
    QString options;
    QString arguments;
    for (const CommandSyntax& syntax : syntaxes) {
        described += QStringLiteral("    %1\n").arg(quoted(syntax.name + ':' + syntax.summary));
        options +=
            QStringLiteral("        (%1) compadd -- %2 ;;\n").arg(syntax.name, optionNames(syntax).join(' '));
        for (const OptionSyntax& option : syntax.options) {
            if (!option.value) {
                continue;
            }
            const QString what = option.value->kind == Value::Kind::words
                                     ? "compadd -- " + option.value->words.join(' ')
                                 : option.value->kind == Value::Kind::files ? QStringLiteral("_files")
                                                                            : QStringLiteral(":");
            values +=
                QStringLiteral("    (%1) %2; return ;;\n").arg(quoted(syntax.name + ' ' + option.name), what);
        }
        switch (syntax.argument.kind) {
        case Value::Kind::ids:
            arguments +=
                QStringLiteral("    (%1) compadd -- ${(f)\"$(command snipjar list --limit 50 2>/dev/null | "
                               "cut -f1)\"} ;;\n")
                    .arg(syntax.name);
            break;
        case Value::Kind::files:
            arguments += QStringLiteral("    (%1) _files ;;\n").arg(syntax.name);
            break;
        case Value::Kind::commands:
            arguments +=
                QStringLiteral("    (%1) (( CURRENT == 3 )) && _describe -t commands command commands ;;\n")
                    .arg(syntax.name);
            break;
        default:
            break;
        }
    }
    return QString::fromUtf8(R"SCRIPT(#compdef snipjar
# zsh completion for snipjar, made by `snipjar completions zsh` from the program's command table.

local -a commands
commands=(
%1)

if (( CURRENT == 2 )); then
    if [[ ${words[CURRENT]} == -* ]]; then
        compadd -- --help --version
    else
        _describe -t commands command commands
    fi
    return
fi

local command=${words[2]}
case "$command ${words[CURRENT-1]}" in
%2esac

if [[ ${words[CURRENT]} == -* ]]; then
    case $command in
%3        (*) compadd -- --help ;;
    esac
    return
fi

case $command in
%4esac
)SCRIPT")
        .arg(described, values, options, arguments);
}

QString fish(const QList<CommandSyntax>& syntaxes) {
    QString lines = QStringLiteral(
        "# fish completion for snipjar, made by `snipjar completions fish` from the program's command "
        "table.\n\n"
        "# The ids of the newest clips, read from the store (no running instance or display needed).\n"
        "function __snipjar_ids\n"
        "    command -q snipjar; and command snipjar list --limit 50 2>/dev/null | string replace -r '\\t.*' "
        "''\n"
        "end\n\n"
        "complete -c snipjar -f\n"
        "complete -c snipjar -n __fish_use_subcommand -l help -d 'show the help'\n"
        "complete -c snipjar -n __fish_use_subcommand -l version -d 'print the version'\n");
    const QString allNames = names(syntaxes).join(' ');
    for (const CommandSyntax& syntax : syntaxes) {
        lines += QStringLiteral("\ncomplete -c snipjar -n __fish_use_subcommand -a %1 -d %2\n")
                     .arg(syntax.name, quoted(syntax.summary));
        const QString when = quoted(QStringLiteral("__fish_seen_subcommand_from ") + syntax.name);
        for (const OptionSyntax& option : syntax.options) {
            QString line = QStringLiteral("complete -c snipjar -n %1 ").arg(when);
            line += option.name == QLatin1String("-0") ? QStringLiteral("-s 0")
                                                       : QStringLiteral("-l ") + option.name.mid(2);
            if (option.value) {
                line += option.value->kind == Value::Kind::words
                            ? " -x -a " + quoted(option.value->words.join(' '))
                        : option.value->kind == Value::Kind::files ? QStringLiteral(" -r -F")
                                                                   : QStringLiteral(" -x");
            }
            lines += line + QLatin1Char('\n');
        }
        switch (syntax.argument.kind) {
        case Value::Kind::ids:
            lines += QStringLiteral("complete -c snipjar -n %1 -a '(__snipjar_ids)'\n").arg(when);
            break;
        case Value::Kind::files:
            lines += QStringLiteral("complete -c snipjar -n %1 -F\n").arg(when);
            break;
        case Value::Kind::commands:
            lines += QStringLiteral("complete -c snipjar -n %1 -a %2\n").arg(when, quoted(allNames));
            break;
        default:
            break;
        }
    }
    return lines;
}

} // namespace

QByteArray CompletionScript::of(const QString& shell) {
    const QList<CommandSyntax> syntaxes = commandSyntaxes();
    if (shell == QLatin1String("zsh")) {
        return zsh(syntaxes).toUtf8();
    }
    if (shell == QLatin1String("fish")) {
        return fish(syntaxes).toUtf8();
    }
    return bash(syntaxes).toUtf8();
}

} // namespace snipjar
