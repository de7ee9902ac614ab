#!/usr/bin/env bash
# Starts Snipjar the way a desktop does, from the Exec line of its installed desktop entry, inside
# the private X session of tests/support/with-x.sh, and checks that it comes up, that the Show Panel
# action reaches it, that the launch-at-login entry it writes on its first run matches the installed
# entry, and that it quits on SIGTERM.
#   start-from-entry.sh INSTALL_ROOT
set -u
root=$1
app_id=app.snipjar.Snipjar
desktop=$root/usr/share/applications/$app_id.desktop
log=$XDG_RUNTIME_DIR/snipjar.log
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

desktop_value() {
    awk -v group="[$2]" -v key="$3" '
        /^\[/ { inside = ($0 == group); next }
        inside && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
    ' "$1"
}

# An Exec line as a desktop would run it: field codes dropped, the program looked up in PATH. It
# replaces the shell it runs in, so callers run it in a subshell (or in the background).
run_exec_line() {
    local line
    line=$(sed -E 's/ ?%[fFuUick]//g' <<<"$1")
    read -ra argv <<<"$line"
    exec "${argv[@]}"
}

export PATH="$root/usr/bin:$PATH"
run_exec_line "$(desktop_value "$desktop" "Desktop Entry" Exec)" >"$log" 2>&1 &
pid=$!

# Ready once its instance socket exists; the Show Panel action must then reach it (status 0). The
# action is not polled: when nothing runs it starts Snipjar itself. Polls until the socket appears
# or the program exits, with a generous limit for a loaded machine.
show_panel=$(desktop_value "$desktop" "Desktop Action show-panel" Exec)
ready=false
for _ in $(seq 1 600); do
    if [ -S "$XDG_RUNTIME_DIR/Snipjar/instance.socket" ]; then
        ready=true
        break
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
done
if ! $ready || ! (run_exec_line "$show_panel") >/dev/null 2>&1; then
    fail "the program started from the desktop entry never answered \"$show_panel\""
    cat "$log"
    kill "$pid" 2>/dev/null
    exit 1
fi
echo "started from the desktop entry; \"$show_panel\" reached it"

# The first run switches on launch at login; its entry has the installed entry's name and starts
# the same program.
autostart=$XDG_CONFIG_HOME/autostart/$app_id.desktop
for _ in $(seq 1 300); do
    [ -f "$autostart" ] && break
    sleep 0.2
done
if [ -f "$autostart" ]; then
    desktop-file-validate "$autostart" || fail "desktop-file-validate rejects the autostart entry"
    [ "$(desktop_value "$autostart" "Desktop Entry" Name)" = "$(desktop_value "$desktop" "Desktop Entry" Name)" ] ||
        fail "the autostart entry's Name differs from the installed entry's"
    autostart_program=$(desktop_value "$autostart" "Desktop Entry" Exec | sed -E 's/^"([^"]*)".*/\1/; s/ .*//')
    [ "$(realpath "$autostart_program")" = "$(realpath "$root/usr/bin/snipjar")" ] ||
        fail "the autostart entry runs $autostart_program, not the installed program"
else
    fail "no launch-at-login entry at $autostart after the first run"
fi

# The program started from the entry is the process itself, not a shell around it: `snipjar` hands
# the process over to the application binary.
[ "$(readlink "/proc/$pid/exe")" = "$(realpath "$root/usr/libexec/snipjar/snipjar-app")" ] ||
    fail "process $pid runs $(readlink "/proc/$pid/exe"), not the installed program"
kill -TERM "$pid"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || { fail "the program exited with status $status on SIGTERM"; cat "$log"; }

[ "$failures" -eq 0 ] || exit 1
