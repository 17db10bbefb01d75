#!/usr/bin/env bash
# Starts the program under Xvfb in a folder with MIDI files, checks the
# window that appears, then leaves through "終了(&X)" with the keyboard;
# once more without the engines module beside it.
set -euo pipefail
prog=$1
source "$(dirname "$0")/../support/xvfb.sh"
require_tools
# A copy of its own, so that the plimra.ini it writes on its first run lands
# there and not beside the build.
make_workdir "$prog"
touch "$work/music/first.mid" "$work/music/SECOND.MID"

on_xvfb '
  set -euo pipefail
  work=$1
  open_player
  title=$(xdotool getwindowname "$win")
  [ "$title" = "Midi Player" ] || fail "title is \"$title\""

  # Centred on the 1024 x 768 screen, within a frame or two.
  eval "$(xdotool getwindowgeometry --shell "$win")"
  cx=$((X + WIDTH / 2)) cy=$((Y + HEIGHT / 2))
  [ $((cx > 502 && cx < 522 && cy > 374 && cy < 394)) = 1 ] ||
    fail "window at ${X},${Y} size ${WIDTH}x${HEIGHT} is not centred"
  [ "$WIDTH" -ge 277 ] && [ "$WIDTH" -le 290 ] || fail "width $WIDTH"

  # Alt+F opens the CD menu, X chooses exit: the program ends at once.
  quit_by_menu "$win" || fail "the program did not end after the exit menu"
  wait $pid || fail "the program ended with status $?"

  # Carried off without its engines module: the window still comes, says
  # why nothing will play, and a song asked for cannot play but ends
  # nothing.
  rm "$work/prog/plimra-engines.so"
  open_player
  box=$(timeout 10 xdotool search --sync --onlyvisible --name "^Plimra\$" | head -1) ||
    fail "no message without the engines; log: $(cat "$work/out.log")"
  grep -q "plimra-engines.so) cannot be loaded" "$work/out.log" ||
    fail "the log does not name the module: $(cat "$work/out.log")"
  sleep 0.4
  focus_window "$box"
  xdotool key Return
  sleep 0.4
  xdotool mousemove --window "$win" 30 34 click --repeat 2 --delay 80 1
  timeout 10 xdotool search --sync --name "^first.mid \(再生できません\)\$" >/dev/null ||
    fail "the song without the engines shows \"$(xdotool getwindowname "$win")\""
  kill -0 $pid || fail "the program ended"
  quit_by_menu "$win" || fail "the program did not end after the exit menu"
  echo "window e2e passed: \"$title\" at ${X},${Y} ${WIDTH}x${HEIGHT}"
' "$work"
