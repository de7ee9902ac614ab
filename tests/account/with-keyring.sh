#!/usr/bin/env bash
# Runs a command with a Secret Service keyring of its own: gnome-keyring-daemon on the current
# (private) session bus, its login keyring unlocked with a throwaway password, its files in the
# XDG data folder of the caller. Meant to run inside tests/support/with-x.sh, which gives the
# private bus and folders. Without gnome-keyring the command runs without a keyring.
set -u
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] || ! command -v gnome-keyring-daemon >/dev/null 2>&1; then
  echo "with-keyring: no private session bus or no gnome-keyring; running without a keyring" >&2
  exec "$@"
fi
# The first call creates and unlocks the login keyring; the second starts the secrets component.
eval "$(printf 'snipjar-test\n' | gnome-keyring-daemon --unlock --components=secrets)" >/dev/null
eval "$(gnome-keyring-daemon --start --components=secrets)" >/dev/null
owner=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.secrets 2>/dev/null |
  sed -n 's/^(uint32 \([0-9]*\),)$/\1/p')
if [ -z "$owner" ]; then
  echo "with-keyring: gnome-keyring did not come up; running without a keyring" >&2
  exec "$@"
fi
export SNIPJAR_TEST_KEYRING=1
# The private bus also stands in for the system bus, where logind is looked for.
export DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" SNIPJAR_TEST_SYSTEM_BUS=1
"$@"
status=$?
kill "$owner" 2>/dev/null
exit $status
