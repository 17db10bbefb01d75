#!/usr/bin/env bash
# The player on a desktop's session bus, under Xvfb, with SDL's disk driver
# capturing the sound: a second start with a song hands it to the running
# player, which plays it; a song that does not exist gets the can't-play
# caption; a song with words shows its title and words in the metadata; the
# desktop's player controls (PlayPause, Next, a position set
# with playerctl, Quit) act on the MIDI window and then on the CD window, as
# heard and as PlaybackStatus and Position say.
#   desktop_e2e.sh PLIMRA AUDIO_PROBE PLIMRA_MKDISC
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"

if [ "${1:-}" = --inner ]; then
  work=$2 probe=$3
  prog=$work/prog/plimra
  bus() { dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.plimra \
            /org/mpris/MediaPlayer2 "$@"; }
  player() { bus "org.mpris.MediaPlayer2.Player.$1" >/dev/null; }
  property() { bus org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player \
                 "string:$1"; }
  status() { property PlaybackStatus | sed -n 's/.*string "\(.*\)"/\1/p'; }
  position() { property Position | sed -n 's/.*int64 \([0-9]*\).*/\1/p'; }
  # Where the capture is now, in milliseconds (16-bit stereo at 44.1 kHz).
  now() { echo $(( $(stat -c %s "$work/out.raw" 2>/dev/null || echo 0) * 10 / 1764 )); }
  # A sound near HZ that lasts past FROM ms.
  heard() { "$probe" segments "$work/out.raw" |
              awk -v f="$2" -v h="$1" '$2 > f && $3 > h * 0.95 && $3 < h * 1.05 { ok = 1 }
                                       END { exit !ok }'; }
  await() {
    for _ in $(seq 1 100); do "$@" && return 0; sleep 0.1; done
    return 1
  }
  is() { [ "$(status)" = "$1" ]; }

  export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$work/out.raw PLIMRA_CDROM=$work/disc.cue
  open_player
  await bus org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1 || fail "the player is not on the bus"

  # A second start, as the file manager would make it, with a relative path.
  timeout 20 "$prog" b.mid >"$work/second.log" 2>&1 || fail "the second start did not end"
  kill -0 $pid || fail "the first player ended"
  await heard 1047 0 || fail "b.mid was not heard after the hand-over"
  await is Playing || fail "PlaybackStatus is $(status) while b.mid plays"
  property Metadata | grep -q '"b.mid"' || fail "metadata: $(property Metadata)"

  player PlayPause
  await is Paused || fail "PlaybackStatus is $(status) after PlayPause"
  t=$(now); sleep 1
  ! heard 1047 $((t + 250)) || fail "b.mid still sounds while paused"
  # A paused note is not struck again; the song goes on silently to its end,
  # and continuous play then moves on to c.mid.
  t=$(now); p=$(position); player PlayPause
  await is Playing || fail "PlaybackStatus is $(status) after the second PlayPause"
  await eval '[ "$(position)" -gt "$p" ]' || fail "the position does not move after PlayPause"
  await heard 1319 "$t" || fail "c.mid did not follow b.mid"

  t=$(now); player Next
  await heard 659 "$t" || fail "Next did not play a.mid"
  await eval 'property Metadata | grep -q "\"a.mid\""' || fail "metadata after Next: $(property Metadata)"

  # Seeking from the desktop: a.mid lasts 20 s; moved to 17 s it ends a few
  # seconds later and b.mid follows, long before it would have otherwise.
  property CanSeek | grep -q "boolean true" || fail "CanSeek: $(property CanSeek)"
  t=$(now); playerctl -p plimra position 17 || fail "playerctl could not set the position"
  await eval '[ "$(position)" -ge 17000000 ]' || fail "Position is $(position) after the seek"
  await heard 1047 "$t" || fail "b.mid did not follow a.mid moved to its end"

  timeout 20 "$prog" "$work/music/missing.mid" || fail "the start with a missing song did not end"
  await eval '[ "$(xdotool getwindowname "$win")" = "missing.mid (再生できません)" ]' ||
    fail "caption \"$(xdotool getwindowname "$win")\" for a missing song"

  # A song with Shift-JIS words: its first track's name and its words, decoded.
  timeout 20 "$prog" "$work/words/sakura.mid" || fail "the start with a song with words did not end"
  await eval 'property Metadata | grep -q "string \"春の歌\""' ||
    fail "title of a song with words: $(property Metadata)"
  property Metadata | tr '\n' '|' | grep -q 'string "さくら|表ソラ|はな"' ||
    fail "words of the song: $(property Metadata)"

  # The CD window: "CD Player(&C)" in the first menu stops the song.
  xdotool windowfocus --sync "$win"
  xdotool key alt+f; sleep 0.5; xdotool key c
  timeout 20 xdotool search --sync --onlyvisible --name '^CD Player$' >/dev/null ||
    fail "the CD window did not appear"
  await is Stopped || fail "PlaybackStatus is $(status) in the CD window before play"
  t=$(now); player PlayPause
  await heard 220 "$t" || fail "PlayPause did not play track 1"
  await is Playing || fail "PlaybackStatus is $(status) while track 1 plays"
  t=$(now); player Next
  await heard 440 "$t" || fail "Next did not play track 2"
  await eval 'property Metadata | grep -q "\"Track 2\""' || fail "metadata: $(property Metadata)"
  player PlayPause
  await eval '! is Playing' || fail "PlaybackStatus is still Playing after PlayPause"
  t=$(now); sleep 1
  ! heard 440 $((t + 250)) || fail "track 2 still sounds after PlayPause"

  bus org.mpris.MediaPlayer2.Quit >/dev/null
  await eval '! kill -0 $pid 2>/dev/null' || fail "Quit did not end the program"
  echo "desktop e2e passed"
  exit 0
fi

plimra=$1 probe=$2 mkdisc=$3
require_tools dbus-run-session dbus-send playerctl
make_workdir "$plimra"
cat >"$work/prog/plimra.ini" <<INI
[Option]
Continue=True
Random=False
Reset=NON
INI
"$probe" song "$work/music/a.mid" 76 20000
"$probe" song "$work/music/b.mid" 84 3000
"$probe" song "$work/music/c.mid" 88 3000
mkdir -p "$work/words" && "$probe" words "$work/words/sakura.mid"
"$mkdisc" --sine "$work/disc.cue" 6 6 6 >/dev/null
# A session bus of the test's own, never the desktop's.
on_xvfb_self -w dbus-run-session "$work" "$probe"
