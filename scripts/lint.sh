#!/usr/bin/env bash
# Formatting and static analysis over every source, the Windows layer
# included; fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
windows_build=${2:-build/windows-x64}

sources=$(git ls-files -co --exclude-standard '*.cc' '*.h')
if ! clang-format --dry-run --Werror $sources; then
  echo "lint: clang-format would change the files above" >&2
  exit 1
fi

# Each file against the compile database that holds it: the Linux one for
# the program, its tests and benchmarks; the sanitizer one for the fuzz
# targets; the MinGW one for the Windows layer and the Windows test tools.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
tidy() {
  local database=$1
  shift
  xargs -P "$(nproc)" -n 4 clang-tidy -p "$database" --quiet "$@" >>"$log" 2>&1 || true
}
windows_sources='/win32/|^tests/wine/'
git ls-files -co --exclude-standard '*.cc' | grep -vE "$windows_sources|^tests/fuzz/" | tidy "$build"
if [ -f build/sanitize/compile_commands.json ]; then
  git ls-files -co --exclude-standard 'tests/fuzz/*.cc' | tidy build/sanitize
fi
if [ -f "$windows_build/compile_commands.json" ]; then
  # Clang reads the MinGW build's commands as a MinGW target, with the C++
  # headers the cross compiler itself searches (not its own intrinsics).
  compiler=$(grep -m1 -o '"command": "[^ "]*' "$windows_build/compile_commands.json" | cut -d'"' -f4)
  target=$(basename "$compiler" | sed -E 's/-g\+\+.*//')
  mingw_args=(--extra-arg="--target=$target")
  while read -r folder; do
    mingw_args+=(--extra-arg="-isystem$folder")
  done < <(echo | "$compiler" -xc++ -E -v - 2>&1 |
           sed -n '/#include <...> search starts here:/,/End of search list./p' |
           grep -E '/c\+\+|/mingw32/include$|-mingw32/include$' | sed 's/^ *//')
  git ls-files -co --exclude-standard '*.cc' | grep -E "$windows_sources" |
    tidy "$windows_build" "${mingw_args[@]}"
else
  echo "lint: no $windows_build/compile_commands.json; the Windows layer was not checked" >&2
  exit 1
fi
if grep -E 'warning:|error:' "$log"; then
  echo "lint: clang-tidy found the problems above" >&2
  exit 1
fi

cppcheck_common=(--enable=warning,performance,portability --std=c++17 --quiet --inline-suppr
                 --error-exitcode=1 -I .)
if ! cppcheck "${cppcheck_common[@]}" --library=googletest --library=tests/typed_tests.cfg \
    app base settings company scramble platform/posix platform/fake tests/unit tests/fuzz tests/tools \
    tests/support bench -itests/unit/win32; then
  echo "lint: cppcheck found the problems above" >&2
  exit 1
fi
if ! cppcheck "${cppcheck_common[@]}" --library=windows --library=googletest \
    --library=tests/typed_tests.cfg --platform=win64 -D_WIN32 platform/win32 tests/unit/win32 \
    tests/wine; then
  echo "lint: cppcheck found the problems above in the Windows files" >&2
  exit 1
fi
echo "lint: clean"
