#!/usr/bin/env bash
# The real program under Xvfb, driven with keys as a user would: on its first
# run it writes plimra.ini; the user chooses "連続再生" and "ＸＧリセット",
# saves with Yes and quits with "終了(&X)". Started again, it has the file's
# choices: a double-click on the first song plays the XG reset (1568 Hz; the
# GS one is 2093 Hz, the GM one 1047 Hz) and then the songs in list order,
# heard in the capture of SDL's disk driver.
set -euo pipefail
prog=$1 probe=$2
source "$(dirname "$0")/../support/xvfb.sh"
require_tools
make_workdir "$prog"
"$probe" song "$work/prog/GS.MID" 96 400
"$probe" song "$work/prog/GM.MID" 84 400
"$probe" song "$work/prog/XG.MID" 91 400
"$probe" song "$work/music/1.mid" 69 500
"$probe" song "$work/music/2.mid" 76 500
"$probe" song "$work/music/3.mid" 72 500

on_xvfb '
  set -euo pipefail
  work=$1 probe=$2 ini=$1/prog/plimra.ini
  pid=
  fail() {
    echo "FAIL: $*"; echo "--- plimra.ini:"; cat "$ini" 2>/dev/null || true
    echo "--- sounds (start_ms end_ms hz):"; "$probe" segments "$work/out.raw" 2>/dev/null || true
    cat "$work/out.log"; exit 1
  }
  start() {
    open_player
    sleep 0.2
  }
  # Without a window manager the focus does not come back by itself after a
  # message box, so each sequence starts by giving it to the window.
  press() { focus_window "$win"; sleep 0.2; xdotool key --delay 150 "$@"; sleep 0.4; }
  quit() {
    focus_window "$win"
    quit_by_menu "$win" || fail "the program did not end after \"終了(&X)\""
    wait $pid || fail "the program ended with status $?"
    pid=
  }

  start
  [ -f "$ini" ] || fail "the first run wrote no plimra.ini"
  grep -qx "Random=True" "$ini" && grep -qx "Reset=GM" "$ini" || fail "first run: not the defaults"
  # "動作環境(&O)" opens on its first item; the play mode is the second, the
  # reset kind the third, and each submenu opens on its first item.
  press alt+o Down Right Down Return
  press alt+o Down Down Right Down Down Down Return
  # "動作環境の保存(&S)" is the last item; Yes is the default button.
  press alt+o Up Return
  timeout 10 xdotool search --sync --name "^PLIMRAの動作環境の保存$" >/dev/null ||
    fail "no question before saving"
  xdotool key Return
  sleep 0.4
  quit
  for line in Single=False Continue=True Random=False Reset=XG; do
    grep -qx "$line" "$ini" || fail "plimra.ini lacks $line"
  done

  start
  # The first entry of the file list, just below the menu bar.
  xdotool mousemove --window "$win" 30 34 click --repeat 2 --delay 80 1
  notes=
  for _ in $(seq 1 200); do
    # S, M and X are the GS, GM and XG resets, A, E and C the three songs.
    notes=$(notes_heard "$probe" S=2093 M=1047 X=1568 A=440 E=659 C=523 2>/dev/null || true)
    [ ${#notes} -ge 6 ] && break
    sleep 0.05
  done
  case "$notes" in
    XAXEXC*) ;;
    *) fail "heard \"$notes\", expected the XG reset before each song, in list order (XAXEXC)" ;;
  esac
  quit
  echo "settings e2e passed: saved $(grep -c = "$ini") keys, heard $notes"
' "$work" "$probe"
