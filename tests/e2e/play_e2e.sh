#!/usr/bin/env bash
# Runs the program from a folder of its own under Xvfb, with SDL's disk
# driver capturing what would be heard. The reset song GM.MID there is an
# audible high C (2093 Hz), so the capture shows it: a double-click on
# one.mid (A, 440 Hz) gives the reset and then A; continuous play then gives
# the reset again and two.mid (E, 659 Hz).
set -euo pipefail
prog=$1 probe=$2
for tool in xvfb-run Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prog" "$work/music"
cp "$prog" "$work/prog/plimra"
"$probe" song "$work/prog/GM.MID" 96 400
"$probe" song "$work/music/one.mid" 69 500
"$probe" song "$work/music/two.mid" 76 500

exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -euo pipefail
  work=$1 probe=$2
  cd "$work/music"
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/out.raw" PLIMRA_TEST_OPTIONS="Mode=Continue" \
    "$work/prog/plimra" >"$work/out.log" 2>&1 & pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  fail() { echo "FAIL: $*"; echo "--- sounds (start_ms end_ms hz):"; "$probe" segments "$work/out.raw" || true; cat "$work/out.log"; exit 1; }
  near() { awk -v a="$1" -v b="$2" "BEGIN { exit !(a > b * 0.95 && a < b * 1.05) }"; }

  win=$(timeout 30 xdotool search --sync --name "^Midi Player$" | head -1) ||
    fail "no window titled Midi Player"
  sleep 0.3
  # The first entry of the file list, just below the menu bar.
  xdotool mousemove --window "$win" 30 34 click --repeat 2 --delay 80 1

  # Wait for the second song to sound, at most 10 s.
  for _ in $(seq 1 100); do
    "$probe" segments "$work/out.raw" | awk "\$3 > 626 && \$3 < 692 { found = 1 } END { exit !found }" && break
    sleep 0.1
  done
  title=$(xdotool getwindowname "$win")
  # Pitches in the order they sounded, runs shorter than 100 ms left out.
  mapfile -t pitches < <("$probe" segments "$work/out.raw" | awk "\$2 - \$1 >= 100 { print \$3 }")
  [ ${#pitches[@]} -ge 4 ] || fail "fewer than four sounds after the double-click"
  near "${pitches[0]}" 2093 || fail "the first sound is not the reset song"
  near "${pitches[1]}" 440 || fail "the reset song is not followed by one.mid"
  near "${pitches[2]}" 2093 || fail "one.mid is not followed by the reset song"
  near "${pitches[3]}" 659 || fail "continuous play did not go on to two.mid"
  case "$title" in one.mid|two.mid) ;; *) fail "caption \"$title\" while playing" ;; esac
  echo "play e2e passed: sounds ${pitches[*]} Hz, caption \"$title\""
' _ "$work" "$probe"
