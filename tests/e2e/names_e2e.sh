#!/usr/bin/env bash
# Names as archives from Japanese Windows leave them: the program runs from a
# folder named in Shift-JIS bytes (its reset song GM.MID is a high C,
# 2093 Hz), started in a Shift-JIS folder whose one song, "ドラクエ序曲.MID"
# in Shift-JIS bytes, is an A (440 Hz). Under Xvfb with SDL's disk driver
# capturing the sound, a double-click gives the reset and then the A, and the
# caption shows the song's Japanese name.
set -euo pipefail
prog=$1 probe=$2
source "$(dirname "$0")/../support/xvfb.sh"
require_tools
make_workdir
progdir="$work/$(printf '\x83\x76\x83\x8d')"          # "プロ"
music="$work/$(printf '\x89\xb9\x8a\x79')"            # "音楽"
song="$(printf '\x83\x68\x83\x89\x83\x4e\x83\x47\x8f\x98\x8b\xc8').MID"  # "ドラクエ序曲"
mkdir -p "$progdir" "$music"
cp "$prog" "$progdir/plimra"
cp "$(dirname "$prog")/plimra-engines.so" "$progdir/"
"$probe" song "$progdir/GM.MID" 96 400
"$probe" song "$music/$song" 69 800

on_xvfb '
  set -euo pipefail
  work=$1 probe=$2 progdir=$3 music=$4
  open_player "$progdir/plimra" "$music"
  # The first entry of the file list, just below the menu bar.
  xdotool mousemove --window "$win" 30 34 click --repeat 2 --delay 80 1

  # Wait for the song to sound, noting the captions.
  await_pitch "$win" "$probe" 418 462
  grep -qx "ドラクエ序曲.MID" "$work/titles" ||
    fail "the song'"'"'s name is not in the caption; seen: $(sort -u "$work/titles" | tr "\n" "|")"
  notes=$(notes_heard "$probe" R=2093 A=440)
  case "$notes" in
    RA*) ;;
    *) fail "heard \"$notes\", expected the reset, then the song (RA)" ;;
  esac
  echo "names e2e passed: heard $notes, caption ドラクエ序曲.MID"
' "$work" "$probe" "$progdir" "$music"
