#!/usr/bin/env bash
# Builds Vendrel and points the bundled sample installation at drive F:, in a
# scratch copy, showing the registry store before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >/dev/null
cmake --preset linux >/dev/null
cmake --build --preset linux --target vendrel >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r examples/sample "$work/"
export VENDREL_REGISTRY="$work/sample/registry.reg"
export VENDREL_DRIVES="$work/sample/drives"

echo "== registry store before =="
cat "$VENDREL_REGISTRY"
settings="$VENDREL_DRIVES/f:/KOVA/kelvarini.dat"
echo "== settings file before =="
cat "$settings"
echo "== vendrel F -v6/7 -w2.10 -dclinic -pY =="
echo | build/linux/app/vendrel F -v6/7 -w2.10 -dclinic -pY
echo
echo "== registry store after =="
cat "$VENDREL_REGISTRY"
echo "== settings file after =="
cat "$settings"
