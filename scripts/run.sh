#!/usr/bin/env bash
# Installs what is missing, builds the player and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLIMRA_TESTS=OFF -DPLIMRA_BENCH=OFF >/dev/null
cmake --build build --target plimra
exec build/bin/plimra "$@"
