#!/usr/bin/env bash
# The bash completion offers every command and option that `snipjar --help` documents, by running
# the completion function the way bash does when Tab is pressed; so do the zsh and fish ones, run
# by their shells (zsh's completion builtins stand in as printing functions).
#   completion-test.sh SNIPJAR_BINARY COMPLETION_FOLDER (snipjar.bash, snipjar.zsh, snipjar.fish)
set -u
binary=$1
completion=$2/snipjar.bash
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

help_text=$("$binary" --help) || {
    echo "FAIL: $binary --help exited with status $?"
    exit 1
}

# The commands of the help text with the options written beside each, one "command option..." a
# line. A command is a word that starts an alternative of the usage line ("[a | b ...]") or starts
# an indented line of a command list ("  list [--json]  Prints ..."), followed by its arguments.
documented=$(printf '%s\n' "$help_text" | awk '
    function emit(segment,    words, n, i, out) {
        n = split(segment, words, /[][ ]+/)
        out = ""
        for (i = 1; i <= n; i++) {
            if (words[i] == "") continue
            if (out == "") {
                if (words[i] !~ /^[a-z][a-z0-9]*(-[a-z0-9]+)*$/) return
                out = words[i]
            } else if (words[i] ~ /^--[a-z][a-z0-9-]*/) {
                sub(/[=,].*/, "", words[i])
                out = out " " words[i]
            }
        }
        if (out != "") print out
    }
    /^[ \t]*[Uu]sage:/ {
        line = $0
        sub(/^[ \t]*[Uu]sage:[ \t]*[^ \t]+/, "", line)
        n = split(line, alternatives, /\|/)
        for (i = 1; i <= n; i++) emit(alternatives[i])
        next
    }
    /^  +[a-z][a-z0-9-]*( *$| +[[<-]| +[A-Z]|   )/ {
        line = $0
        sub(/   .*/, "", line)
        emit(line)
    }
' | sort -u)

if [ -z "$documented" ]; then
    fail "no commands found in the help text:"
    printf '%s\n' "$help_text"
    exit 1
fi

# The completions bash offers for a command line whose last word is being typed.
complete_line() {
    bash --norc --noprofile -c '
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        _snipjar snipjar "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}"' completion "$completion" "$@"
}

offers() {
    local expected=$1
    shift
    complete_line "$@" | grep -qxF -- "$expected"
}

all_commands=$(complete_line snipjar "")
while read -r command options; do
    if ! printf '%s\n' "$all_commands" | grep -qxF -- "$command"; then
        fail "\"snipjar <Tab>\" does not offer $command"
    fi
    if ! offers "$command" snipjar "${command:0:2}"; then
        fail "\"snipjar ${command:0:2}<Tab>\" does not offer $command"
    fi
    if ! offers "$command" snipjar help ""; then
        fail "\"snipjar help <Tab>\" does not offer $command"
    fi
    for option in $options; do
        if ! offers "$option" snipjar "$command" --; then
            fail "\"snipjar $command --<Tab>\" does not offer $option"
        fi
    done
done <<<"$documented"

# Options with values complete their values, and the program's own options come before a command.
offers --version snipjar --v || fail "\"snipjar --v<Tab>\" does not offer --version"
# After --kind, exactly the kinds the command's usage line allows.
for command in list add; do
    allowed=$("$binary" help "$command" | sed -n 's/.*--kind \([a-z|]*\).*/\1/p' | head -1 | tr '|' '\n' | sort)
    offered=$(complete_line snipjar "$command" --kind "" | sort)
    [ -n "$allowed" ] && [ "$allowed" = "$offered" ] ||
        fail "\"snipjar $command --kind <Tab>\" offers $(echo $offered), the usage allows $(echo $allowed)"
done
[ -z "$(complete_line snipjar list --limit "")" ] || fail "\"snipjar list --limit <Tab>\" offers words for a number"
# An option before the command does not hide the command.
offers --json snipjar list --limit 5 --j || fail "\"snipjar list --limit 5 --j<Tab>\" does not offer --json"

# zsh and fish: the commands after "snipjar", and list's options after "snipjar list -".
zsh_offers() {
    zsh -f -c 'compadd() { while [[ $1 == -* && $1 != -- ]]; do shift; done; [[ $1 == -- ]] && shift; print -rl -- "$@"; }
        _describe() { print -rl -- ${${(P)${@[-1]}}%%:*}; }
        _snipjar() { source "$1"; }
        script=$1; shift; words=("$@"); CURRENT=$#; _snipjar "$script"' zsh "$2/snipjar.zsh" "${@:3}" |
        grep -qxF -- "$1"
}
fish_offers() {
    fish --no-config -c "source '$2/snipjar.fish'; complete -C '${*:3}'" | cut -f1 | grep -qxF -- "$1"
}
while read -r command options; do
    for shell in zsh fish; do
        "${shell}_offers" "$command" "$2" snipjar "" || fail "$shell: \"snipjar <Tab>\" does not offer $command"
        [ "$command" = list ] || continue
        for option in $options; do
            "${shell}_offers" "$option" "$2" snipjar list - || fail "$shell: \"snipjar list -<Tab>\" does not offer $option"
        done
    done
done <<<"$documented"
zsh_offers rich "$2" snipjar list --kind "" || fail "zsh: \"snipjar list --kind <Tab>\" does not offer rich"

echo "commands checked: $(printf '%s\n' "$documented" | cut -d' ' -f1 | tr '\n' ' ')"
[ "$failures" -eq 0 ] || exit 1
echo "PASS"
