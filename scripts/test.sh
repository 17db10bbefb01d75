#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test headless:
# the tests of the normal build, the same tests built with AddressSanitizer
# and UndefinedBehaviorSanitizer, the engine and port tests built with
# ThreadSanitizer, and a short run of each fuzz target.
#   PLIMRA_QUICK=1 scripts/test.sh   skips the sanitizer and release builds
#                                     and the fuzzing
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
# Each test sets its own Qt platform: offscreen for window tests, xcb under
# Xvfb for the end-to-end ones.
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
# Tests that need a session bus start their own; none may reach the
# desktop's (and a player running there).
unset DBUS_SESSION_BUS_ADDRESS
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# A race ends the process that has it, so a child process ended by
# std::_Exit (which skips the end-of-run report) still fails its test.
export TSAN_OPTIONS=suppressions=$PWD/scripts/tsan.supp:halt_on_error=1:second_deadlock_stack=1

echo "== build (normal)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLIMRA_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
echo "== tests (normal)"
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 600 | tee -a "$summary"

if [ "${PLIMRA_QUICK:-0}" != 1 ]; then
  echo "== build (address + undefined sanitizers)"
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPLIMRA_SANITIZE=ON -DPLIMRA_BENCH=OFF \
    -DPLIMRA_WERROR=ON >/dev/null
  cmake --build build-asan -j"$jobs"
  echo "== tests (sanitizers)"
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 900 -LE no-sanitizer |
    tee -a "$summary"

  # The threads of the engines (CD readers, MIDI-OUT port threads, the
  # audio output, the port list's look) and the end of a process under
  # them. Windows and benchmarks are left out of this build.
  echo "== build (thread sanitizer)"
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLIMRA_TSAN=ON -DPLIMRA_UI=OFF \
    -DPLIMRA_BENCH=OFF -DPLIMRA_WERROR=ON >/dev/null
  cmake --build build-tsan -j"$jobs"
  echo "== tests (thread sanitizer)"
  # Its shadow memory does not fit beside the addresses of a kernel that
  # randomizes more than 28 bits of them: there the tests run unrandomized.
  unrandomized=()
  if [ "$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28)" -gt 28 ]; then
    unrandomized=(setarch "$(uname -m)" -R)
  fi
  "${unrandomized[@]}" ctest --test-dir build-tsan --output-on-failure -j"$jobs" --timeout 900 \
    -L engine | tee -a "$summary"

  # The optimiser finds other warnings at -O3: the whole tree as a packager
  # builds it, kept clean.
  echo "== build (release, -O3)"
  cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLIMRA_WERROR=ON >/dev/null
  cmake --build build-release -j"$jobs"

  echo "== fuzzing"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLIMRA_FUZZ=ON \
    -DPLIMRA_WERROR=ON >/dev/null
  cmake --build build-fuzz -j"$jobs"
  scripts/fuzz.sh build-fuzz "${PLIMRA_FUZZ_SECONDS:-30}"
fi
# One closing line for every ctest run above (pipefail stops on a failure).
total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$summary" | awk '{s += $1} END {print s + 0}')
echo "== all tests passed"
echo "${total:-0} passed, 0 failed"
