#!/usr/bin/env bash
# Installs the Debian packages that building and testing Sentrel need, only
# those that are missing. Run as root (or through sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  iproute2 procps
  python3-aiosmtpd
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-multimedia-dev libxcb1-dev qt6-translations-l10n
  xvfb xauth icewm xdotool x11-utils imagemagick fonts-dejavu-core
  dbus-daemon dbus-bin at-spi2-core python3-pyatspi
  librsvg2-bin dpkg-dev
  fping
  libsqlite3-dev
  libmicrohttpd-dev prometheus curl
  libssl-dev openssl libcurl4-openssl-dev zlib1g-dev
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix googletest wine wine64 wixl
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# The Windows build compiles SQLite and libmicrohttpd for its target from
# Debian's source packages (scripts/windows-deps.sh), which apt-get source
# fetches from a deb-src entry.
src_list=/etc/apt/sources.list.d/sentrel-src.sources
if [ ! -f "$src_list" ]; then
  . /etc/os-release
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$VERSION_CODENAME" | $SUDO tee "$src_list" >/dev/null
  $SUDO apt-get update
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
