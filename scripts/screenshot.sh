#!/usr/bin/env bash
# Starts the real program in a virtual X display, waits for its window and
# writes pictures of the screen: the window as it opens (out.png), with the
# options menu and its play-mode submenu open (out-menu.png), with the port
# panel open (out-ports.png) and with the About window (out-about.png).
# The program starts in the current folder, so its file list shows the MIDI
# files there.
#   scripts/screenshot.sh [program] [out.png]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
prog=$(realpath -m "${1:-$repo/build/bin/plimra}")
out=$(realpath -m "${2:-$repo/build/plimra-screenshot.png}")
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
  import -window root "$out"
  # Open the options menu (Alt+O) and its play-mode submenu for the picture.
  xdotool key --window "$win" alt+o
  sleep 0.5
  xdotool key Down Right
  sleep 0.5
  import -window root "${out%.png}-menu.png"
  # Close the menus, then open the port panel: "MIDI-OUTポートの指定(&P)".
  xdotool key Escape Escape Escape
  sleep 0.3
  xdotool key --window "$win" alt+o
  sleep 0.3
  xdotool key p
  sleep 0.5
  import -window root "${out%.png}-ports.png"
  # Back with "CANCEL" (Tab twice from the list, then Return), then the
  # About window from "ヘルプ(&H)"; Return on "了解" closes it.
  xdotool key Tab Tab Return
  sleep 0.3
  xdotool key --window "$win" alt+h
  sleep 0.3
  xdotool key a
  sleep 0.8
  import -window root "${out%.png}-about.png"
  xdotool key Return
  echo "$out ${out%.png}-menu.png ${out%.png}-ports.png ${out%.png}-about.png"
' _ "$prog" "$out"
