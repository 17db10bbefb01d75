#!/usr/bin/env bash
# Starts the real program in a virtual X display, waits for its window and
# writes a picture of the screen, with the options menu opened so that the
# Japanese captions show.
#   scripts/screenshot.sh [program] [out.png]
set -euo pipefail
cd "$(dirname "$0")/.."
prog=${1:-build/bin/plimra}
out=${2:-build/plimra-screenshot.png}
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
[ -x "$prog" ] || { echo "screenshot.sh: no program at $prog; build first" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -euo pipefail
  prog=$1 out=$2
  "$prog" & pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  win=$(timeout 20 xdotool search --sync --name "^Midi Player$" | head -1)
  sleep 1
  # Open the options menu (Alt+O) and its play-mode submenu for the picture.
  xdotool key --window "$win" alt+o
  sleep 0.5
  xdotool key Down Right
  sleep 0.5
  import -window root "$out"
  echo "$out"
' _ "$prog" "$out"
