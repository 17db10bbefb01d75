#!/usr/bin/env bash
# Installs the Debian packages the build, the player and the tests need,
# skipping those already installed. Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6test6 qt6-svg-dev
  libfluidsynth-dev timgm6mb-soundfont fluidsynth
  librtmidi-dev libjack-jackd2-dev jackd2
  libcdio-dev libcdio-paranoia-dev
  libsdl2-dev
  fonts-ipafont-gothic fonts-ipafont-mincho
  libgtest-dev libgmock-dev
  xvfb xauth xdotool imagemagick x11-utils
  clang libclang-rt-14-dev
  libsmf-dev sox
  dbus-daemon dbus-bin desktop-file-utils appstream playerctl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks about real-time priority; answer it up front.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $SUDO debconf-set-selections || true
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
