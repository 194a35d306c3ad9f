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

# Everything built on Linux, tests and benchmarks included, each against the
# compile database that holds it; the Windows layer is left to the cross
# compiler's warnings, as no Linux database holds it.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
tidy() {
  xargs -P "$(nproc)" -n 4 clang-tidy -p "$1" --quiet >>"$log" 2>&1 || true
}
git ls-files -co --exclude-standard '*.cc' | grep -vE '/win32/|^tests/(wine|fuzz)/' | tidy "$build"
if [ -f build/sanitize/compile_commands.json ]; then
  git ls-files -co --exclude-standard 'tests/fuzz/*.cc' | tidy build/sanitize
fi
if grep -E 'warning:|error:' "$log"; then
  echo "lint: clang-tidy found the problems above" >&2
  exit 1
fi
# cppcheck over the same files (the win32 ones need windows.h).
if ! cppcheck --enable=warning,performance,portability --std=c++17 --quiet --inline-suppr \
    --library=googletest --library=tests/typed_tests.cfg --error-exitcode=1 -I . \
    app settings company scramble platform/posix platform/fake platform/*.cc tests/unit \
    tests/fuzz bench; then
  echo "lint: cppcheck found the problems above" >&2
  exit 1
fi
echo "lint: clean"
