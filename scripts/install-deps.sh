#!/usr/bin/env bash
# Installs the Debian packages this tree needs, for one of three uses:
#   --run      build the program and the local vendor server and run them (scripts/run.sh)
#   --package  the same, and build the Debian package (cpack -G DEB)
#   --test     everything: also the tests, benchmarks, package checks and the real
#              desktops the tests drive, about 530 packages more (scripts/test.sh)
#   --dry-run  with one of the above: list what is missing and let apt simulate
#              the install; nothing is changed
# Packages already present are skipped; apt is asked only when something is missing.
# As a user other than root it installs through sudo.
set -euo pipefail

usage() {
  echo "usage: $0 --run|--package|--test [--dry-run]" >&2
  exit 2
}

# Building and running: compiler and build tools, Qt (the web engine for the eBay
# and style voting windows, the X11 and Wayland platforms), the libraries of the
# program and the vendor server, a browser launcher, and Xvfb for a machine
# without a display.
RUN_PKGS=(
  cmake g++ ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-webengine-dev
  qt6-qpa-plugins qt6-wayland libgl-dev
  libpugixml-dev libsqlite3-dev sqlite3 libcpp-httplib-dev zlib1g-dev
  libxcb1-dev libxcb-xfixes0-dev
  xdg-utils xvfb xauth fonts-dejavu-core
)
# The package build reads the libraries' package names with dpkg-shlibdeps.
PACKAGE_PKGS=(dpkg-dev)
# Tests, benchmarks and checks: formatting, GoogleTest and Google Benchmark, the
# desktop tests' panels, compositors and tools, screen reader access, the
# package's validators, and the full shells (GNOME, XFCE, LXQt, KDE Plasma).
TEST_PKGS=(
  git clang-format
  libgtest-dev libgmock-dev libbenchmark-dev curl
  trayer x11-utils xdotool
  sway waybar dunst libnotify-bin grim python3
  iproute2 openssl
  dbus dbus-daemon weston
  at-spi2-core python3-pyatspi
  gnome-shell gnome-shell-extension-appindicator gjs libglib2.0-bin
  xfce4-panel xfwm4 xfce4-notifyd
  lxqt-panel lxqt-notificationd
  plasma-workspace plasma-desktop kwin-x11 kded5 kwin-wayland qtwayland5
  lintian desktop-file-utils appstream
)

USE=
DRY_RUN=0
for Arg in "$@"; do
  case "$Arg" in
  --run | --package | --test) USE=${Arg#--} ;;
  --dry-run) DRY_RUN=1 ;;
  *) usage ;;
  esac
done
[ -n "$USE" ] || usage

PKGS=("${RUN_PKGS[@]}")
case "$USE" in
package) PKGS+=("${PACKAGE_PKGS[@]}") ;;
test) PKGS+=("${PACKAGE_PKGS[@]}" "${TEST_PKGS[@]}") ;;
esac

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps.sh: every package for --$USE is installed."
  exit 0
fi
echo "install-deps.sh: ${#missing[@]} of ${#PKGS[@]} packages for --$USE are missing: ${missing[*]}"

if [ "$DRY_RUN" = 1 ]; then
  # A simulation needs no root; it reads the package lists as they are.
  apt-get install -s --no-install-recommends "${missing[@]}"
  exit 0
fi

if [ "$(id -u)" = 0 ]; then
  AS_ROOT=()
elif command -v sudo >/dev/null 2>&1; then
  echo "install-deps.sh: installing them through sudo."
  AS_ROOT=(sudo)
else
  echo "install-deps.sh: installing packages needs root, and sudo is not installed." >&2
  echo "  Run this as root (su -c '$0 --$USE'), or install the packages above with your" >&2
  echo "  package manager, then start the script again." >&2
  exit 1
fi
# The lock timeout lets a parallel apt run finish instead of failing this one.
"${AS_ROOT[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 update
"${AS_ROOT[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y \
  --no-install-recommends "${missing[@]}"
