#!/usr/bin/env bash
# Starts the program under Xvfb in a folder with MIDI files, checks the
# window that appears, then leaves through "終了(&X)" with the keyboard.
set -euo pipefail
prog=$1
source "$(dirname "$0")/../support/xvfb.sh"
require_tools
make_workdir
touch "$work/first.mid" "$work/SECOND.MID"
# A copy of its own, so that the plimra.ini it writes on its first run lands
# here and not beside the build.
mkdir "$work/prog"
cp "$prog" "$work/prog/plimra"
prog=$work/prog/plimra

on_xvfb '
  set -euo pipefail
  prog=$1 work=$2
  cd "$work"
  "$prog" >"$work/out.log" 2>&1 & pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  fail() { echo "FAIL: $*"; cat "$work/out.log"; exit 1; }

  win=$(midi_window) || fail "no window titled Midi Player"
  title=$(xdotool getwindowname "$win")
  [ "$title" = "Midi Player" ] || fail "title is \"$title\""

  # Centred on the 1024 x 768 screen, within a frame or two.
  eval "$(xdotool getwindowgeometry --shell "$win")"
  cx=$((X + WIDTH / 2)) cy=$((Y + HEIGHT / 2))
  [ $((cx > 502 && cx < 522 && cy > 374 && cy < 394)) = 1 ] ||
    fail "window at ${X},${Y} size ${WIDTH}x${HEIGHT} is not centred"
  [ "$WIDTH" -ge 277 ] && [ "$WIDTH" -le 290 ] || fail "width $WIDTH"

  # Alt+F opens the CD menu, X chooses exit: the program ends at once.
  xdotool key --window "$win" alt+f
  sleep 0.3
  xdotool key x
  for _ in $(seq 1 50); do
    kill -0 $pid 2>/dev/null || break
    sleep 0.1
  done
  kill -0 $pid 2>/dev/null && fail "the program did not end after the exit menu"
  wait $pid || fail "the program ended with status $?"
  echo "window e2e passed: \"$title\" at ${X},${Y} ${WIDTH}x${HEIGHT}"
' "$prog" "$work"
