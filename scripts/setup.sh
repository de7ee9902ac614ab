#!/usr/bin/env bash
# Installs every Debian 12 package Snipjar needs to build, run, test and benchmark.
# Idempotent: only missing packages are installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format ccache clang-14 libclang-rt-14-dev libfuzzer-14-dev
  qt6-base-dev qt6-base-private-dev qt6-base-dev-tools qt6-svg-dev libqt6sql6-sqlite libgl-dev
  libsqlite3-dev sqlite3 libssl-dev libsodium-dev libboost-dev qt6-websockets-dev
  libvips-dev libvips-tools libheif1 libheif-dev libexiv2-dev
  libx11-dev libglib2.0-dev libx11-xcb-dev libxcb1-dev libxcb-xfixes0-dev libxcb-xtest0-dev
  libxcb-keysyms1-dev libxcb-icccm4-dev libxcb-res0-dev libxkbcommon-dev
  libpqxx-dev libpq-dev postgresql-15 qtkeychain-qt6-dev gnome-keyring
  libwayland-dev wayland-protocols plasma-wayland-protocols qt6-wayland sway foot wl-clipboard wtype grim
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth openbox trayer xclip xdotool x11-utils x11-xkb-utils xterm rxvt-unicode xfonts-base imagemagick dbus-x11 procps
  desktop-file-utils appstream lintian dpkg-dev file help2man librsvg2-bin zsh fish
  gcovr gnome-settings-daemon-common kwin-wayland
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
