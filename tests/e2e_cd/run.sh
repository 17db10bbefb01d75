#!/usr/bin/env bash
# The real program under Xvfb: switch to the CD window, click track 2's
# label, hear track 2 (SDL's disk driver captures the sound; track k of the
# disc image is a sine of 220*k Hz), switch back, and leave by the menu.
#   run.sh PLIMRA PLIMRA_MKDISC AUDIO_PROBE
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"

if [ "${1:-}" = --inner ]; then
  work=$2 probe=$3
  fail() {
    echo "FAIL: $*" >&2
    echo "--- sounds (start_ms end_ms hz):" >&2
    "$probe" segments "$work/out.raw" >&2 || true
    import -window root "$work/screen.png" 2>/dev/null && echo "screen: $work/screen.png" >&2
    exit 1
  }
  geometry() { xdotool getwindowgeometry --shell "$1" | grep -E '^(X|Y|WIDTH|HEIGHT)='; }
  shown() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }

  # Through the first menu's KEY from the window FROM (titled FROM_TITLE) to
  # the window titled TO_TITLE, which takes FROM's place while FROM goes.
  # Sets $win to the new window.
  switch_window() {
    local from=$1 key=$2 fromTitle=$3 toTitle=$4 X Y WIDTH HEIGHT
    eval "$(geometry "$from")"
    local at="$X,$Y"
    focus_window "$from"
    xdotool key alt+f
    sleep 0.5
    xdotool key "$key"
    win=$(timeout 20 xdotool search --sync --onlyvisible --name "^$toTitle\$" | head -1) ||
      fail "the $toTitle window did not appear"
    for _ in $(seq 50); do [ -z "$(shown "$fromTitle")" ] && break; sleep 0.1; done
    [ -z "$(shown "$fromTitle")" ] || fail "the $fromTitle window is still shown"
    eval "$(geometry "$win")"
    [ "$X,$Y" = "$at" ] || fail "the $toTitle window at $X,$Y, the $fromTitle window was at $at"
  }

  export PLIMRA_CDROM=$work/disc.cue
  start_player
  midi=$(midi_window) || fail "the MIDI window did not appear"
  # "CD Player(&C)" in the first menu.
  switch_window "$midi" c 'Midi Player' 'CD Player'
  cd=$win

  # Track 2's label: left 480, top 720 twips in the client area (15 twips a
  # pixel), 375 x 255 twips; the client area is 1815 twips high, below the menu bar.
  eval "$(geometry "$cd")"
  menuBar=$((HEIGHT - 1815 / 15))
  xdotool mousemove --window "$cd" $((480 / 15 + 12)) $((menuBar + 720 / 15 + 8)) click 1
  await_pitch "$cd" "$probe" 420 460
  first=$("$probe" segments "$work/out.raw" | head -1)
  [ "$(echo "$first" | awk '$3 > 420 && $3 < 460 { print "track 2" }')" = "track 2" ] ||
    fail "the first sound (start_ms end_ms hz) was \"$first\", not track 2 at 440 Hz"

  # Moved elsewhere, then "MIDI Player(&M)": the MIDI window comes back there.
  xdotool windowmove --sync "$cd" 300 200
  switch_window "$cd" m 'CD Player' 'Midi Player'
  quit_by_menu "$win" || fail "the program did not end after the exit menu"
  exit 0
fi

plimra=$1 mkdisc=$2 probe=$3
require_tools
make_workdir "$plimra"
"$mkdisc" --sine "$work/disc.cue" 3 3 3
on_xvfb_self -s 1280x1024 "$work" "$probe"
