#!/usr/bin/env bash
# Runs every fuzz target found in BUILD/bin (named fuzz_*) for SECONDS each,
# seeded from its corpus folder under fuzz/, and fails on any finding.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-30}
cd "$(dirname "$0")/.."
shopt -s nullglob
targets=("$build"/bin/fuzz_*)
if [ "${#targets[@]}" -eq 0 ]; then echo "no fuzz targets"; exit 0; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for t in "${targets[@]}"; do
  name=$(basename "$t")
  corpus="$work/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/seeds/${name#fuzz_}" ] && seeds+=("fuzz/seeds/${name#fuzz_}")
  dict=()
  for d in "fuzz/${name#fuzz_}.dict" "fuzz/${name#fuzz_}/${name#fuzz_}.dict"; do
    [ -f "$d" ] && dict=(-dict="$d")
  done
  echo "-- $name for ${seconds}s"
  "$t" "$corpus" "${seeds[@]}" "${dict[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 2>"$work/$name.log" || {
      tail -60 "$work/$name.log"; echo "fuzz target $name found a problem"; exit 1; }
  grep -E '^stat::number_of_executed_units|^Done' "$work/$name.log" || true
done
