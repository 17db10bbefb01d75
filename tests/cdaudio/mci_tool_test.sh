#!/usr/bin/env bash
# plimra-mci end to end: a generated image, command strings on stdin, and the
# exact lines a user sees.
set -euo pipefail
mci=$1 mkdisc=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$mkdisc" "$dir/disc.cue" 2 1.5 d1 0.2
"$mkdisc" --help | grep -q 'usage: plimra-mkdisc'
"$mci" --help | grep -q 'error N <text>'

actual=$(PLIMRA_CDROM="$dir/disc.cue" "$mci" <<'CMDS'
# comment lines and blank lines are skipped

status cdaudio number of tracks
status cdaudio length
set cdaudio time format tmsf
status cdaudio length track 2
seek cdaudio to start
status cdaudio position
play cdaudio from 3
status cdaudio position
status cdaudio mode
stop cdaudio
status cdaudio mode
play cdaudio from 12
frobnicate cdaudio
play cdaudio from 4 notify wait
status cdaudio mode
status cdaudio position
play cdaudio from 1 notify
set cdaudio door open
status cdaudio mode
CMDS
)
expected="4
error 0
00:04:53
error 0

error 0
00:01:38
error 0

error 0
01:00:00:00
error 0

error 0
04:00:00:00
error 0
playing
error 0

error 0
stopped
error 0

error 282 value out of range

error 261 unrecognized command

error 0
notify 1 play cdaudio from 4 notify wait
stopped
error 0
04:00:00:15
error 0

error 0

error 0
notify 4 play cdaudio from 1 notify
open
error 0"
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi

# No disc at all: not ready, and status that needs a disc fails.
actual=$(printf 'status cdaudio mode\nstatus cdaudio number of tracks\n' |
  PLIMRA_CDROM="$dir/none.cue" "$mci")
case "$actual" in
  $'not ready\nerror 0\n\nerror 276 '?*) ;;
  *) echo "no-disc output: $actual"; exit 1 ;;
esac

# An image whose folder and name are Shift-JIS bytes ("音楽/ソ.cue"; the
# second byte of "ソ" is a backslash) is opened by its exact bytes.
sjis="$dir/$(printf '\x89\xb9\x8a\x79')"
mkdir "$sjis"
"$mkdisc" "$sjis/$(printf '\x83\x5c').cue" 2 1.5
actual=$(printf 'status cdaudio number of tracks\n' |
  PLIMRA_CDROM="$sjis/$(printf '\x83\x5c').cue" "$mci")
[ "$actual" = $'2\nerror 0' ] || { echo "Shift-JIS image: $actual"; exit 1; }
echo ok
