#!/usr/bin/env bash
# Installs what is missing, builds the player and starts it in the folder
# this command was run from (so a folder of songs shows its songs).
#   scripts/run.sh [SONG.mid | FOLDER]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLIMRA_TESTS=OFF \
  -DPLIMRA_BENCH=OFF >/dev/null
cmake --build "$top/build" --target plimra
exec "$top/build/bin/plimra" "$@"
