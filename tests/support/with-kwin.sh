#!/usr/bin/env bash
# Runs a command inside a private headless KWin session (kwin_wayland --virtual) with its own
# session bus, private XDG folders and no X display, so that the Wayland backend is the one chosen.
# KWin runs as the calling user, root included. Debian's kwin_wayland carries a file capability
# that a container may refuse at exec ("Operation not permitted"); a copy without it runs instead,
# under the same name.
set -u
if [ -z "${SNIPJAR_IN_KWIN_BUS:-}" ]; then
  command -v kwin_wayland >/dev/null 2>&1 || { echo "with-kwin: kwin_wayland is not installed" >&2; exit 1; }
  SNIPJAR_IN_KWIN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
work=$(mktemp -d -t snipjar-kwin.XXXXXX)
chmod 700 "$work"
mkdir -p -m 700 "$work/runtime" "$work/data" "$work/data/applications" "$work/cache" "$work/config" "$work/bin"
export XDG_RUNTIME_DIR="$work/runtime" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export XDG_CONFIG_HOME="$work/config" HOME="${HOME:-$work}" LC_ALL=C.UTF-8 LANG=C.UTF-8
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE
unset LANGUAGE DISPLAY WAYLAND_DISPLAY SNIPJAR_IN_KWIN_BUS

# KWin offers its fake input and window list to a program whose executable is the Exec of a
# desktop entry asking for them: the application binary's shipped entry, made out for the command
# run here and for the programs named in SNIPJAR_KWIN_GRANTED (colon-separated). It is written before
# KWin starts, since KWin reads entries through a cache that it refreshes at most once a while.
shipped="$(dirname "$0")/../../data/app.snipjar.Snipjar.Application.desktop.in"
IFS=: read -r -a granted <<<"${SNIPJAR_KWIN_GRANTED:-}"
for program in "$1" "${granted[@]}"; do
  sed "s|@SNIPJAR_APPLICATION_PATH@|$(readlink -f "$program")|" "$shipped" \
    >"$work/data/applications/snipjar-granted-$(basename "$program").desktop"
done
unset SNIPJAR_KWIN_GRANTED

cp "$(command -v kwin_wayland)" "$work/bin/kwin_wayland"
env -u QT_QPA_PLATFORM "$work/bin/kwin_wayland" --virtual --no-lockscreen --socket snipjar-kwin \
  --width 1280 --height 720 >"$work/kwin.log" 2>&1 &
kwin_pid=$!
socket="$XDG_RUNTIME_DIR/snipjar-kwin"
for _ in $(seq 1 400); do
  [ -S "$socket" ] && break
  kill -0 "$kwin_pid" 2>/dev/null || break
  sleep 0.05
done
cleanup() {
  kill "$kwin_pid" 2>/dev/null
  wait "$kwin_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
if [ ! -S "$socket" ]; then
  echo "with-kwin: KWin did not start" >&2
  cat "$work/kwin.log" >&2
  exit 1
fi
# The pid lets a test end the compositor under the program it tests.
export WAYLAND_DISPLAY="$socket" SNIPJAR_COMPOSITOR_PID="$kwin_pid" SNIPJAR_TEST_COMPOSITOR=kwin QT_QPA_PLATFORM=wayland
"$@"
