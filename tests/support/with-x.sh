#!/usr/bin/env bash
# Runs a command inside a private X session: its own Xvfb server (1920x1080x24), openbox as the
# window manager, a private D-Bus session bus, and private XDG folders.
set -u
work=$(mktemp -d -t snipjar-x.XXXXXX)
chmod 700 "$work"
mkdir -p -m 700 "$work/runtime" "$work/data" "$work/cache" "$work/config"
export XDG_RUNTIME_DIR="$work/runtime" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb HOME="${HOME:-$work}"
# The clients in the session (xterm above all) read text in the locale the tests were written for.
export LC_ALL=C.UTF-8 LANG=C.UTF-8
# Under a developer's Wayland session the programs tested would choose its compositor instead,
# and the hot key would be left to the desktop.
unset LANGUAGE WAYLAND_DISPLAY
export XDG_SESSION_TYPE=x11

exec 3>"$work/displayfd"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 1 100); do
  [ -s "$work/displayfd" ] && break
  sleep 0.05
done
if [ ! -s "$work/displayfd" ]; then
  echo "with-x: Xvfb did not start" >&2
  cat "$work/xvfb.log" >&2
  kill "$xvfb_pid" 2>/dev/null
  exit 1
fi
export DISPLAY=":$(head -n1 "$work/displayfd")"
openbox >"$work/openbox.log" 2>&1 &
wm_pid=$!
# Wait until the window manager has announced itself.
for _ in $(seq 1 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.05
done

cleanup() {
  kill "$wm_pid" "$xvfb_pid" 2>/dev/null
  wait "$wm_pid" "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

dbus-run-session -- "$@"
