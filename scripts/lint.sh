#!/usr/bin/env bash
# Formatting and static analysis over the program's sources; fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}

sources=$(git ls-files -co --exclude-standard '*.cc' '*.h')
if ! clang-format --dry-run --Werror $sources; then
  echo "lint: clang-format would change the files above" >&2
  exit 1
fi

# The tests and benchmarks are left out: the macros of GoogleTest and Google
# Benchmark trip checks meant for program code.
program=$(git ls-files -co --exclude-standard '*.cc' | grep -vE '^(tests|bench)/' | grep -v '/win32/')
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "$program" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet >"$log" 2>&1 || true
if grep -E 'warning:|error:' "$log"; then
  echo "lint: clang-tidy found the problems above" >&2
  exit 1
fi
# cppcheck over the program built here (the win32 files need windows.h).
if ! cppcheck --enable=warning,performance,portability --std=c++17 --quiet --inline-suppr \
    --error-exitcode=1 -I . app settings company scramble platform/posix platform/fake \
    platform/*.cc; then
  echo "lint: cppcheck found the problems above" >&2
  exit 1
fi
echo "lint: clean"
