#!/usr/bin/env bash
# Prints the lines of C++ in the tests (tests/, fuzz/) against the lines of
# the program and its tools, blank and comment-only lines left out.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
  git ls-files -- "$@" | grep -E '\.(cpp|cc|cxx|h|hpp)$' | xargs -r cat |
    grep -c -v -E '^\s*(//.*)?$' || true
}
tests=$(count tests fuzz)
all=$(count .)
code=$((all - tests))
awk -v t="$tests" -v c="$code" 'BEGIN { printf "code %d lines, tests %d lines, tests/code %.2f\n", c, t, t / c }'
