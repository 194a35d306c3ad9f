#!/usr/bin/env bash
# The test command: checks the installer, installs what is missing, builds
# the Linux program (plain, and with the sanitizers and fuzz targets), both
# Windows programs and the release packages, runs every test, checks the
# packages and lints.
# Each phase is printed with its time as it goes (lines that begin "===",
# apart from the builds' own), and a summary at the end.
# The Windows tests run Wine in sessions that end with them: nothing this
# command starts is left running.
set -uo pipefail
cd "$(dirname "$0")/.."

summary=()
failures=0
started=$(date +%s)

# phase NAME COMMAND...: runs the command, timed; a failed phase is counted,
# one that exits with 77 (it said why it cannot run here) is skipped.
phase() {
  local name=$1
  shift
  echo
  echo "=== $name"
  local begin status code=0
  begin=$(date +%s)
  "$@" || code=$?
  case $code in
    0) status=ok ;;
    77) status=skipped ;;
    *) status=FAILED; failures=$((failures + 1)) ;;
  esac
  local took=$(($(date +%s) - begin))
  echo "=== $name: $status ($(clock $took))"
  summary+=("$(printf '  %-70s %-7s %8s' "$name" "$status" "$(clock $took)")")
  [ "$status" != FAILED ]
}

clock() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

report() {
  echo
  echo "=== summary"
  printf '%s\n' "${summary[@]}"
  echo "  total $(clock $(($(date +%s) - started))), $failures failed"
}

# The installer on each layout of apt's sources, before it runs for real:
# on a machine that has everything, the real run never reaches that code.
phase "install-deps.sh on each sources layout, as on a fresh machine" \
  tests/install/install_deps_layouts.sh
# What a test needs is built first; without it, nothing after makes sense.
phase "install what is missing" scripts/install-deps.sh test || { report; exit 1; }
for preset in linux sanitize windows-x86 windows-x64; do
  phase "build $preset" bash -c "cmake --preset $preset >/dev/null && cmake --build --preset $preset" ||
    { report; exit 1; }
done
phase "build the release packages" scripts/release.sh || { report; exit 1; }

phase "test linux: units, acceptance, hostile, crash, concurrent, hive runs" \
  ctest --preset linux
phase "test sanitize: the same under ASan and UBSan, fuzz a minute each" \
  ctest --preset sanitize
phase "test windows-x86: 32-bit Vendrel.exe under 32-bit Wine and QEMU" \
  ctest --preset windows-x86
phase "test windows-x64: x86-64 Vendrel.exe under Wine" ctest --preset windows-x64
phase "check the release packages" python3 tests/release/check_packages.py
phase "check the release: same bytes from two clones, signed with a throwaway key" \
  tests/release/check_reproducible.sh
phase "lint: clang-format, clang-tidy, cppcheck" scripts/lint.sh

report
[ "$failures" -eq 0 ]
