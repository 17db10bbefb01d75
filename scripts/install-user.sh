#!/usr/bin/env bash
# Installs what is missing, builds the player in Release and installs it for
# this user under ~/.local (program, reset songs, menu entry, icons), or
# under the prefix given.
#   scripts/install-user.sh [PREFIX]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-$HOME/.local}
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build-install" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLIMRA_TESTS=OFF \
  -DPLIMRA_BENCH=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$top/build-install"
cmake --install "$top/build-install"
# Let the desktop find the new entry and icon at once where it can.
command -v update-desktop-database >/dev/null &&
  update-desktop-database -q "$prefix/share/applications" 2>/dev/null || true
command -v gtk-update-icon-cache >/dev/null &&
  gtk-update-icon-cache -q -t "$prefix/share/icons/hicolor" 2>/dev/null || true
echo "installed into $prefix (start it with $prefix/bin/plimra or from the desktop's menu)"
