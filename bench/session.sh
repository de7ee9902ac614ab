# Sourced by the scripted benchmarks. Finds the checkout and the build folder (the script's first
# argument, else build/), runs the script again inside a private X session, and offers the steps
# the runs share.
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
if [ -z "${SNIPJAR_IN_X:-}" ]; then
  SNIPJAR_IN_X=1 exec "$root/tests/support/with-x.sh" "$0" "$build"
fi

# The settings of a user at rest: a history of 1,000, onboarding done, launch at login left alone.
write_settings_at_rest() {
  mkdir -p "$XDG_CONFIG_HOME/Snipjar"
  printf '[General]\nhistoryLength=1000\ndidOnboard=true\ndidConfigureLoginItem=false\n' > "$XDG_CONFIG_HOME/Snipjar/Snipjar.conf"
}

# A tray host for the icon; its process id is in $tray.
start_tray() {
  trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 24 &
  tray=$!
  sleep 1
}
