# Start-up shared by the scripts that run the real program on a private X
# display (the end-to-end tests and the play-start benchmark). Sourced:
#   require_tools TOOL...        ends the script as skipped (77) without one
#   make_workdir [PROG]          $work: a fresh folder, removed at exit; with
#                                PROG, a copy of it as $work/prog/plimra (its
#                                settings land there) with its engines module,
#                                and an empty $work/music
#   on_xvfb [-s WxH] SCRIPT ARG  runs the bash text SCRIPT with ARG... as $1...
#                                on a fresh Xvfb display (1024x768 unless -s),
#                                Qt drawing there whatever the caller set;
#                                these functions are defined there too
#   on_xvfb_self [-s WxH] [-w WRAPPER] ARG
#                                runs this script again there, "$0" --inner
#                                ARG..., inside "WRAPPER --" when given
#   start_player [PROG [DIR]]    (on the display) starts PROG ($work/prog/plimra)
#                                in DIR ($work/music), SDL's disk driver writing
#                                its sound to $work/out.raw, its messages going to
#                                $work/out.log; sets $pid and ends it at exit
#   midi_window                  (on the display) waits up to 30 s for the MIDI
#                                window, gives it the keyboard, prints its id
#   open_player [PROG [DIR]]     (on the display) start_player, then $win: its
#                                MIDI window, or the test fails
#   keys WIN CHORD...            (on the display) the first chord to WIN, the
#                                others to whatever has the keyboard then (an
#                                open menu, a panel), each followed by a pause
#   focus_window WIN             gives WIN the keyboard
#   await_pitch WIN PROBE LO HI  (on the display) waits up to 10 s for a sound
#                                between LO and HI Hz in $work/out.raw, noting
#                                WIN's captions in $work/titles meanwhile
#   notes_heard PROBE L=HZ...    (on the display) the notes in $work/out.raw in
#                                the order they sounded, one letter L per run
#                                near its HZ (release tails and overtones left out)
#   quit_by_menu WIN             (on the display) "終了(&X)"; false when $pid
#                                is still running 5 s later
#   fail MESSAGE                 says why the test failed, with the sounds ($probe
#                                set), the messages a port received and the
#                                program's output, and ends the script with 1
plimra_xvfb_helper=$(realpath "${BASH_SOURCE[0]}")

require_tools() {
  local tool
  for tool in xvfb-run Xvfb xdotool "$@"; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
  done
}

make_workdir() {
  work=$(mktemp -d)
  # shellcheck disable=SC2064  # the folder is known now
  trap "rm -rf '$work'" EXIT
  if [ $# -gt 0 ]; then
    mkdir -p "$work/prog" "$work/music"
    cp "$1" "$work/prog/plimra"
    cp "$(dirname "$1")/plimra-engines.so" "$work/prog/"
  fi
}

plimra_xvfb_screen() { echo "-screen 0 ${1:-1024x768}x24"; }

on_xvfb() {
  local size=''
  [ "$1" = -s ] && { size=$2; shift 2; }
  local script=$1
  shift
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "$(plimra_xvfb_screen "$size")" \
    bash -c "source '$plimra_xvfb_helper'; $script" _ "$@"
}

on_xvfb_self() {
  local size='' wrap=()
  [ "$1" = -s ] && { size=$2; shift 2; }
  [ "$1" = -w ] && { wrap=("$2" --); shift 2; }
  QT_QPA_PLATFORM=xcb "${wrap[@]}" xvfb-run -a -s "$(plimra_xvfb_screen "$size")" \
    bash "$0" --inner "$@"
}

start_player() {
  cd "${2:-$work/music}" || return 1
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/out.raw" "${1:-$work/prog/plimra}" \
    >"$work/out.log" 2>&1 &
  pid=$!
  # Never SIGKILL: a JACK client killed outright can leave stale state behind.
  # shellcheck disable=SC2064  # the process is known now
  trap "kill $pid 2>/dev/null || true" EXIT
}

open_player() {
  start_player "$@"
  win=$(midi_window) || fail "no window titled Midi Player"
}

keys() {
  local target=(--window "$1") chord
  shift
  for chord in "$@"; do
    # shellcheck disable=SC2086  # a chord may be several keys
    xdotool key "${target[@]}" $chord
    target=()
    sleep 0.4
  done
}

focus_window() { xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus --sync "$1"; }

midi_window() {
  local win
  win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Midi Player$' | head -1) || return 1
  [ -n "$win" ] || return 1
  sleep 0.3
  focus_window "$win"
  echo "$win"
}

await_pitch() {
  : >"$work/titles"
  for _ in $(seq 1 200); do
    xdotool getwindowname "$1" >>"$work/titles"
    "$2" segments "$work/out.raw" | awk -v lo="$3" -v hi="$4" '$3 > lo && $3 < hi { found = 1 }
                                                             END { exit !found }' && break
    sleep 0.05
  done
  xdotool getwindowname "$1" >>"$work/titles"
}

quit_by_menu() {
  keys "$1" alt+f x
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  ! kill -0 "$pid" 2>/dev/null
}

notes_heard() {
  local probe=$1
  shift
  "$probe" segments "$work/out.raw" | awk -v notes="$*" '
    BEGIN { n = split(notes, pairs, " ")
            for (i = 1; i <= n; i++) { split(pairs[i], kv, "="); letter[i] = kv[1]; hz[i] = kv[2] } }
    { for (i = 1; i <= n; i++)
        if ($3 > hz[i] * 0.95 && $3 < hz[i] * 1.05 && letter[i] != last) { printf "%s", letter[i]; last = letter[i] } }'
}

fail() {
  echo "FAIL: $*"
  if [ -n "${probe:-}" ] && [ -f "$work/out.raw" ]; then
    echo "--- sounds (start_ms end_ms hz):"
    "$probe" segments "$work/out.raw" || true
  fi
  if [ -f "$work/received" ]; then echo "--- received:"; cat "$work/received"; fi
  cat "$work/out.log" 2>/dev/null || true
  exit 1
}
