#!/usr/bin/env bash
# The real program under Xvfb: switch to the CD window, click track 2's
# label, hear track 2 (SDL's disk driver captures the sound), switch back.
#   run.sh PLIMRA PLIMRA_MKDISC CHECK_CAPTURE
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"

if [ "${1:-}" = --inner ]; then
  shift
  work=$1
  fail() {
    echo "FAIL: $*" >&2
    import -window root "$work/screen.png" 2>/dev/null && echo "screen: $work/screen.png" >&2
    exit 1
  }
  geometry() { xdotool getwindowgeometry --shell "$1" | grep -E '^(X|Y|WIDTH|HEIGHT)='; }
  visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }

  export PLIMRA_CDROM=$work/disc.cue SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$work/out.raw
  "$work/plimra" >"$work/plimra.log" 2>&1 &
  pid=$!
  # Never SIGKILL: a JACK client killed outright can leave stale state behind.
  trap 'kill $pid 2>/dev/null || true' EXIT

  midi=$(midi_window) || fail "the MIDI window did not appear"
  eval "$(geometry "$midi")"
  midiX=$X midiY=$Y

  # "CD Player(&C)" in the first menu.
  xdotool windowfocus --sync "$midi"
  xdotool key alt+f
  sleep 0.5
  xdotool key c
  cd=$(timeout 20 xdotool search --sync --onlyvisible --name '^CD Player$' | head -1) ||
    fail "the CD window did not appear"
  sleep 0.5
  [ -z "$(visible '^Midi Player$')" ] || fail "the MIDI window is still shown"
  eval "$(geometry "$cd")"
  [ "$X,$Y" = "$midiX,$midiY" ] || fail "CD window at $X,$Y, MIDI window was at $midiX,$midiY"

  # Track 2's label: left 480, top 720 twips in the client area (15 twips a
  # pixel), 375 x 255 twips; the client area is 1815 twips high, below the menu bar.
  menuBar=$((HEIGHT - 1815 / 15))
  xdotool mousemove --window "$cd" $((480 / 15 + 12)) $((menuBar + 720 / 15 + 8)) click 1
  sleep 2.5

  # Moved elsewhere, then "MIDI Player(&M)": the MIDI window comes back there.
  xdotool windowmove --sync "$cd" 300 200
  sleep 0.3
  eval "$(geometry "$cd")"
  cdX=$X cdY=$Y
  xdotool windowfocus --sync "$cd"
  xdotool key alt+f
  sleep 0.5
  xdotool key m
  midi=$(timeout 20 xdotool search --sync --onlyvisible --name '^Midi Player$' | head -1) ||
    fail "the MIDI window did not come back"
  sleep 0.5
  [ -z "$(visible '^CD Player$')" ] || fail "the CD window is still shown"
  eval "$(geometry "$midi")"
  [ "$X,$Y" = "$cdX,$cdY" ] || fail "MIDI window at $X,$Y, CD window was at $cdX,$cdY"

  # "終了(&X)" ends the program.
  xdotool windowfocus --sync "$midi"
  xdotool key alt+f
  sleep 0.5
  xdotool key x
  for _ in $(seq 50); do
    kill -0 $pid 2>/dev/null || exit 0
    sleep 0.1
  done
  fail "the program did not end"
fi

plimra=$1 mkdisc=$2 check=$3
require_tools
make_workdir
# The program runs from its own folder so that nothing lands beside the build.
cp "$plimra" "$work/plimra"
"$mkdisc" "$work/disc.cue" 3 3 3
on_xvfb_self -s 1280x1024 "$work"
# Half a second of track 2, exact from its first sample.
"$check" "$work/out.raw" 2 22050
