#!/usr/bin/env bash
# Builds vendrel for this machine and installs it with its manual:
#
#   scripts/install.sh [--prefix DIR]      (default /usr/local)
#
# Installs what the build and a repair need where it is missing (a C++
# compiler, CMake, hivex's tools, ntfs-3g; never the Windows toolchain),
# through apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=/usr/local
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=${2:?"install: --prefix needs a folder"}; shift 2 ;;
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    *) echo "usage: scripts/install.sh [--prefix DIR]" >&2; exit 2 ;;
  esac
done
scripts/install-deps.sh install
echo "install: building vendrel (preset release-linux)"
cmake --preset release-linux >/dev/null
cmake --build --preset release-linux --target vendrel >/dev/null
# Where the prefix is not the user's to write, as a user who may use sudo.
run=()
if ! mkdir -p "$prefix" 2>/dev/null || [ ! -w "$prefix" ]; then run=(sudo); fi
"${run[@]}" install -D -m 0755 build/release-linux/app/vendrel "$prefix/bin/vendrel"
"${run[@]}" install -D -m 0644 packaging/vendrel.1 "$prefix/share/man/man1/vendrel.1"
echo "install: $prefix/bin/vendrel, with its manual: man vendrel"
case ":$PATH:" in
  *":$prefix/bin:"*) ;;
  *) echo "install: $prefix/bin is not on your PATH: add it, or run $prefix/bin/vendrel" ;;
esac
