#!/usr/bin/env bash
# The port panel end to end: the real program under Xvfb, a private JACK
# server on the dummy backend and a MIDI input port of the test's own. The
# port is chosen through the panel with the keyboard only (alt+o, the port
# item, the list, "ＯＫ"); a double-click on a song then delivers the reset
# song's SysEx and the song's messages byte for byte at that port, and the
# built-in synthesizer stays silent (SDL's disk driver captures it). The
# program is ended through its exit menu, never killed: a JACK client killed
# outright leaves stale state behind that stalls the next one.
#   port_e2e.sh PLIMRA AUDIO_PROBE MIDI_SINK GM.MID
set -euo pipefail
prog=$1 probe=$2 sink=$3 reset=$4
source "$(dirname "$0")/../support/xvfb.sh"
require_tools jackd
# The list shows JACK's ports only where there is no ALSA sequencer.
[ -e /dev/snd/seq ] && { echo "skipped: an ALSA sequencer lists the ports here"; exit 77; }

make_workdir "$prog"
cp "$reset" "$work/prog/GM.MID"
server=plimra-port-e2e-$$
export JACK_DEFAULT_SERVER=$server
jackd -n "$server" -d dummy -r 44100 -p 256 >"$work/jackd.log" 2>&1 & jack=$!
sinkpid=
cleanup() {
  [ -n "$sinkpid" ] && kill "$sinkpid" 2>/dev/null && wait "$sinkpid" 2>/dev/null
  kill "$jack" 2>/dev/null && wait "$jack" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A flute (program 73) playing A (69) for 300 ms.
"$probe" song "$work/music/one.mid" 69 300
# One song only, after the GM reset; no port chosen yet.
printf '[Option]\nSingle=True\nContinue=False\nRandom=False\nReset=GM\n' >"$work/prog/plimra.ini"

"$sink" e2e-sink >"$work/received" 2>"$work/sink.log" & sinkpid=$!
for _ in $(seq 1 100); do grep -q ready "$work/sink.log" && break; sleep 0.1; done
grep -q ready "$work/sink.log" || { echo "FAIL: no JACK port: $(cat "$work/sink.log" "$work/jackd.log")"; exit 1; }

on_xvfb '
  set -euo pipefail
  work=$1 probe=$2
  open_player
  # The panel opens with the focus in the list; the test port is its last
  # entry. Tab goes on to "ＯＫ", and Return presses it.
  keys "$win" alt+o p End Tab Return
  # The first entry of the file list, just below the menu bar.
  xdotool mousemove --window "$win" 30 34 click --repeat 2 --delay 80 1

  for _ in $(seq 1 100); do
    grep -qx 804500 "$work/received" && break
    sleep 0.1
  done
  # What the music says, without the silence the player sends whenever it
  # stops or closes a song (all notes off, all sound off, sustain off).
  got=$(grep -Ev "^b[0-9a-f](7b|78|40)00$" "$work/received" | tr "\n" " ")
  want="f07e7f0901f7 c049 904564 804500 "
  [ "$got" = "$want" ] || fail "the port received \"$got\", expected \"$want\""
  sounds=$("$probe" segments "$work/out.raw" 2>/dev/null || true)
  [ -z "$sounds" ] || fail "the built-in synthesizer sounded: $sounds"

  quit_by_menu "$win" || fail "the program did not end after the exit menu"
  echo "port e2e passed: the port received $got"
' "$work" "$probe"
