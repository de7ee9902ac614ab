#!/usr/bin/env bash
# Runs a command inside a private headless sway session: its own compositor (software rendering, no
# input devices), private XDG folders, and no X display, so that the Wayland backend is the one
# chosen. sway refuses to run as root: under root (CI) the compositor runs as the unprivileged user
# snipjar-sway, created when missing, and the command stays root, which reaches the compositor's
# socket through its absolute path in WAYLAND_DISPLAY.
set -u
work=$(mktemp -d -t snipjar-sway.XXXXXX)
chmod 700 "$work"
mkdir -p -m 700 "$work/runtime" "$work/data" "$work/cache" "$work/config" "$work/sway"
export XDG_RUNTIME_DIR="$work/runtime" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=wayland HOME="${HOME:-$work}"
export LC_ALL=C.UTF-8 LANG=C.UTF-8
unset LANGUAGE DISPLAY WAYLAND_DISPLAY

# The compositor's own folder: its runtime folder must be private to the user it runs as.
sway_dir="$work/sway"
printf 'xwayland disable\noutput HEADLESS-1 resolution 1280x720\n' >"$sway_dir/config"
run_as=()
if [ "$(id -u)" -eq 0 ]; then
  user=snipjar-sway
  # Another session starting at the same time may create it first.
  if ! id "$user" >/dev/null 2>&1 &&
    ! useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" &&
    ! id "$user" >/dev/null 2>&1; then
    echo "with-sway: cannot create the user $user" >&2
    exit 1
  fi
  chmod 711 "$work"
  chown -R "$user": "$sway_dir"
  run_as=(setpriv --reuid="$user" --regid="$user" --init-groups --reset-env --)
fi
mkdir -p -m 700 "$sway_dir/runtime"
[ ${#run_as[@]} -gt 0 ] && chown "$user": "$sway_dir/runtime"

"${run_as[@]}" env XDG_RUNTIME_DIR="$sway_dir/runtime" HOME="$sway_dir" PATH="$PATH" \
  WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 \
  sway --config "$sway_dir/config" >"$work/sway.log" 2>&1 &
sway_pid=$!
socket=
for _ in $(seq 1 200); do
  socket=$(find "$sway_dir/runtime" -maxdepth 1 -type s -name 'wayland-*' -print -quit 2>/dev/null)
  [ -n "$socket" ] && break
  kill -0 "$sway_pid" 2>/dev/null || break
  sleep 0.05
done
cleanup() {
  kill "$sway_pid" 2>/dev/null
  wait "$sway_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
if [ -z "$socket" ]; then
  echo "with-sway: sway did not start" >&2
  cat "$work/sway.log" >&2
  exit 1
fi
# The pid lets a test end the compositor under the program it tests.
export WAYLAND_DISPLAY="$socket" SNIPJAR_COMPOSITOR_PID="$sway_pid" SNIPJAR_TEST_COMPOSITOR=sway

dbus-run-session -- "$@"
