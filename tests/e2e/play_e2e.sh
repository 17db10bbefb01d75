#!/usr/bin/env bash
# Runs the program from a folder of its own under Xvfb, with SDL's disk
# driver capturing what would be heard. The reset song GM.MID there is an
# audible high C (2093 Hz), so the capture shows it: a double-click on
# one.mid (A, 440 Hz) gives the reset and then A; continuous play then gives
# the reset again and two.mid (E, 659 Hz). The time display, turned on
# through its menu item, shows in the caption.
set -euo pipefail
prog=$1 probe=$2
source "$(dirname "$0")/../support/xvfb.sh"
require_tools
make_workdir "$prog"
"$probe" song "$work/prog/GM.MID" 96 400
"$probe" song "$work/music/one.mid" 69 500
"$probe" song "$work/music/two.mid" 76 500
# Continuous play in list order, as a saved plimra.ini beside the program says.
printf '[Option]\nSingle=False\nContinue=True\nRandom=False\nReset=GM\n' >"$work/prog/plimra.ini"

on_xvfb '
  set -euo pipefail
  work=$1 probe=$2
  open_player
  # "再生中、時間を表示": fifth from the bottom of "動作環境(&O)", above "歌詞を表示(&L)".
  keys "$win" alt+o "Up Up Up Up Up Return"
  # The first entry of the file list, just below the menu bar.
  xdotool mousemove --window "$win" 30 34 click --repeat 2 --delay 80 1

  # Wait for the second song to sound, noting the captions.
  await_pitch "$win" "$probe" 626 692
  # The reset song of 400 ms, shown under the selected name.
  grep -qx "one.mid (00:00 / 00:00)" "$work/titles" ||
    fail "no time in the caption; seen: $(sort -u "$work/titles" | tr "\n" "|")"
  title=$(xdotool getwindowname "$win")
  notes=$(notes_heard "$probe" R=2093 A=440 E=659)
  case "$notes" in
    RARE*) ;;
    *) fail "heard \"$notes\", expected the reset, one.mid, the reset, two.mid (RARE)" ;;
  esac
  case "$title" in one.mid|two.mid) ;; *) fail "caption \"$title\" while playing" ;; esac
  quit_by_menu "$win" || fail "the program did not end after the exit menu"
  echo "play e2e passed: heard $notes, caption \"$title\""
' "$work" "$probe"
