#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Idempotent: packages already present are skipped by apt.
set -euo pipefail
PKGS=(
  cmake g++ ninja-build pkg-config git clang-format
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-svg-dev libqt6svg6
  qt6-qpa-plugins libgl-dev
  libpugixml-dev libsqlite3-dev sqlite3 libcpp-httplib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libxcb1-dev libxcb-xfixes0-dev
  xdg-utils xvfb xauth trayer x11-utils xdotool
  sway waybar dunst libnotify-bin grim python3
  iproute2 openssl
  dbus weston qt6-wayland
  at-spi2-core python3-pyatspi dbus-daemon
  fonts-dejavu-core
  gnome-shell gnome-shell-extension-appindicator gjs libglib2.0-bin
  xfce4-panel xfwm4 xfce4-notifyd
  lxqt-panel lxqt-notificationd
  plasma-workspace plasma-desktop kwin-x11 kded5 kwin-wayland qtwayland5
  ccache dpkg-dev lintian desktop-file-utils appstream
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
