#!/usr/bin/env bash
# Installs what is missing, builds the Linux program (plain, and with the
# sanitizers and fuzz targets) and both Windows programs, and runs every
# test: natively, under the sanitizers, the fuzzers for a bounded time, and
# the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in linux sanitize windows-x86 windows-x64; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
done
for preset in linux sanitize windows-x86 windows-x64; do
  ctest --preset "$preset"
done
scripts/lint.sh
