#!/usr/bin/env bash
# Installs what is missing, builds the Linux program and both Windows
# programs, and runs every test: natively, and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in linux windows-x86 windows-x64; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
done
for preset in linux windows-x86 windows-x64; do
  ctest --preset "$preset"
done
scripts/lint.sh
