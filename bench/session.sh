# Sourced by the scripted benchmarks. Finds the checkout and the build folder (the script's first
# argument, else build/), runs the script again inside a private X session (or, with
# SNIPJAR_SESSION=sway, a private headless sway), and offers the steps the runs share.
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
session=${SNIPJAR_SESSION:-x}
if [ -z "${SNIPJAR_IN_SESSION:-}" ]; then
  SNIPJAR_IN_SESSION=1 exec "$root/tests/support/with-$session.sh" "$0" "$build"
fi

# The settings of a user at rest: a history of 1,000, onboarding done, launch at login left alone.
write_settings_at_rest() {
  mkdir -p "$XDG_CONFIG_HOME/Snipjar"
  printf '[General]\nhistoryLength=1000\ndidOnboard=true\ndidConfigureLoginItem=false\n' > "$XDG_CONFIG_HOME/Snipjar/Snipjar.conf"
}

# Puts text on the clipboard with the session's own tool, as another program would.
copy_text() {
  if [ "$session" = sway ]; then
    printf '%s' "$1" | wl-copy
  else
    printf '%s' "$1" | xclip -selection clipboard
  fi
}

# A tray host for the icon; its process id is in $tray (none on sway, whose bar is no tray host).
start_tray() {
  if [ "$session" = sway ]; then
    tray=
    return
  fi
  trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 24 &
  tray=$!
  sleep 1
}
