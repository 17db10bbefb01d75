#!/usr/bin/env bash
# 1. Processor use while a 7-second silent reset song plays (target: under
#    2% of a core), against the same program playing a silent song of the
#    same length without a reset (the synthesizer's own share) and idle.
# 2. From a double-click to the first sound of a song with no reset, median
#    of several starts, in audio time as SDL's disk driver writes it
#    (target: under 150 ms).
set -euo pipefail
prog=$1 probe=$2
source "$(dirname "$0")/../../tests/support/xvfb.sh"
require_tools
make_workdir "$prog"
"$probe" song "$work/prog/GM.MID" 0 7000
"$probe" song "$work/music/one.mid" 69 300
"$probe" song "$work/music/two.mid" 76 300
"$probe" song "$work/music/long.mid" 0 7000

on_xvfb '
  set -euo pipefail
  work=$1 probe=$2
  tick=$(getconf CLK_TCK)
  cpu() { awk "{ print \$14 + \$15 }" /proc/$1/stat; }
  # One song only, with the reset given ($1), from plimra.ini beside the program.
  start() {
    printf "[Option]\nSingle=True\nContinue=False\nRandom=False\nReset=%s\n" "$1" \
      >"$work/prog/plimra.ini"
    start_player
    win=$(midi_window)
    sleep 0.7
  }
  dblclick() { xdotool mousemove --window "$win" 30 $1 click --repeat 2 --delay 20 1; }

  # 1. The reset wait. The list: long.mid, one.mid, two.mid.
  start GM
  a=$(cpu $pid); sleep 3; b=$(cpu $pid)
  dblclick 50
  sleep 0.5
  c=$(cpu $pid); sleep 6; d=$(cpu $pid)
  title=$(xdotool getwindowname "$win")
  kill $pid; wait $pid 2>/dev/null || true
  case "$title" in *お待ち下さい*) ;; *) echo "the reset song was no longer playing: \"$title\""; exit 1 ;; esac

  # 2. The same silence as a song, then double-click to first sound.
  rm -f "$work/out.raw"
  start NON
  dblclick 34
  sleep 0.5
  e=$(cpu $pid); sleep 6; f=$(cpu $pid)
  awk -v idle=$((b - a)) -v wait=$((d - c)) -v song=$((f - e)) -v t=$tick "BEGIN {
    pi = 100 * idle / t / 3; pw = 100 * wait / t / 6; ps = 100 * song / t / 6
    printf(\"cpu while waiting for the reset song: %.2f%% of a core; a silent song playing: %.2f%% (ratio %.2f); idle: %.2f%%; target under 2%%, %.2f of it\\n\", pw, ps, (ps > 0 ? pw / ps : 0), pi, pw / 2) }"
  sleep 1
  times=()
  for i in 1 2 3 4 5 6 7; do
    from=$(stat -c %s "$work/out.raw")
    dblclick $(( i % 2 ? 50 : 66 ))
    sleep 0.8
    times+=("$("$probe" first "$work/out.raw" "$from")")
  done
  kill $pid; wait $pid 2>/dev/null || true
  printf "%s\n" "${times[@]}" | sort -n | awk -v all="${times[*]}" "{ v[NR] = \$1 } END {
    m = v[int((NR + 1) / 2)]
    printf(\"double-click to first sound, no reset: median %.1f ms of %d starts (%s); target under 150 ms, %.2f of it\\n\", m, NR, all, m / 150) }"
' "$work" "$probe"
