#!/usr/bin/env bash
# Makes the release packages in dist/: Vendrel-1.3-win32.zip (the 32-bit
# Vendrel.exe, its README and SHA256SUMS) and vendrel_1.3_amd64.deb (the
# Linux program, its man page and the README), installing what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh release
rm -rf dist
mkdir dist
for preset in release-win32 release-linux; do
  echo "release: building $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
for package in win32-zip deb; do
  if ! cpack --preset "$package" >"dist/cpack-$package.log" 2>&1; then
    cat "dist/cpack-$package.log" >&2
    exit 1
  fi
  rm "dist/cpack-$package.log"
done
rm -rf dist/_CPack_Packages
echo "release: made in dist/:"
( cd dist && ls -l --time-style=+ Vendrel-*-win32.zip vendrel_*_amd64.deb | awk '{print "  " $NF " (" $5 " bytes)"}' )
