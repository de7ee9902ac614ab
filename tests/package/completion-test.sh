#!/usr/bin/env bash
# The bash, zsh and fish completions offer every command and option that `snipjar --help`
# documents, and the values of options that take them.
#   completion-test.sh SNIPJAR_BINARY COMPLETION_FOLDER (snipjar.bash, snipjar.zsh, snipjar.fish)
set -u
binary=$1
folder=$2
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

help_text=$("$binary" --help) || { echo "FAIL: $binary --help exited with status $?"; exit 1; }

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

[ -n "$documented" ] || { fail "no commands found in the help text:"; printf '%s\n' "$help_text"; exit 1; }

# The completions a shell offers for a command line whose last word is being typed: bash's function
# run as Tab runs it, zsh's with its completion builtins standing in as printing functions, fish's own.
complete_line() {
    local shell=$1
    shift
    case $shell in
        bash) bash --norc --noprofile -c 'source "$1"; shift
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
            _snipjar snipjar "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
            printf "%s\n" "${COMPREPLY[@]}"' completion "$folder/snipjar.bash" "$@" ;;
        zsh) zsh -f -c 'compadd() { while [[ $1 == -* && $1 != -- ]]; do shift; done; print -rl -- "${@:#--}"; }
            _describe() { print -rl -- ${${(P)${@[-1]}}%%:*}; }
            _snipjar() { source "$1"; }
            script=$1; shift; words=("$@"); CURRENT=$#; _snipjar "$script"' zsh "$folder/snipjar.zsh" "$@" ;;
        fish) fish --no-config -c 'source $argv[1]; complete -C "$argv[2..-1]"' "$folder/snipjar.fish" "$@" | cut -f1 ;;
    esac
}

offers() {
    local shell=$1 expected=$2
    shift 2
    complete_line "$shell" "$@" | grep -qxF -- "$expected"
}

for shell in bash zsh fish; do
    all_commands=$(complete_line $shell snipjar "")
    while read -r command options; do
        grep -qxF -- "$command" <<<"$all_commands" || fail "$shell: \"snipjar <Tab>\" does not offer $command"
        offers $shell "$command" snipjar "${command:0:2}" || fail "$shell: \"snipjar ${command:0:2}<Tab>\" does not offer $command"
        offers $shell "$command" snipjar help "" || fail "$shell: \"snipjar help <Tab>\" does not offer $command"
        for option in $options; do
            offers $shell "$option" snipjar "$command" -- || fail "$shell: \"snipjar $command --<Tab>\" does not offer $option"
        done
    done <<<"$documented"
    # Options with values complete their values: after --kind, exactly the kinds the usage allows.
    offers $shell --version snipjar --v || fail "$shell: \"snipjar --v<Tab>\" does not offer --version"
    for command in list add; do
        allowed=$("$binary" help "$command" | sed -n 's/.*--kind \([a-z|]*\).*/\1/p' | head -1 | tr '|' '\n' | sort)
        offered=$(complete_line $shell snipjar "$command" --kind "" | sort)
        [ -n "$allowed" ] && [ "$allowed" = "$offered" ] ||
            fail "$shell: \"snipjar $command --kind <Tab>\" offers $(echo $offered), the usage allows $(echo $allowed)"
    done
    [ -z "$(complete_line $shell snipjar list --limit "")" ] || fail "$shell: \"snipjar list --limit <Tab>\" offers words"
    # An option before the command does not hide the command.
    offers $shell --json snipjar list --limit 5 --j || fail "$shell: \"snipjar list --limit 5 --j<Tab>\" does not offer --json"
done

echo "commands checked: $(printf '%s\n' "$documented" | cut -d' ' -f1 | tr '\n' ' ')"
[ "$failures" -eq 0 ] || exit 1
echo "PASS"
