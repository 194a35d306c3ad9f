#!/usr/bin/env bash
# Builds vendrel and shows what a run changes, on scratch copies of the
# bundled examples: the sample installation (a REGEDIT4 store, drive F:)
# and the offline Windows disk (registry hives, drive C:).
set -euo pipefail
cd "$(dirname "$0")/.."

echo "demo: needs a C++ compiler, CMake, hivex's tools and Python 3;"
echo "demo: installing those that are missing (Debian packages, through apt-get)"
scripts/install-deps.sh demo
echo "demo: building vendrel (preset release-linux)"
cmake --preset release-linux >/dev/null
cmake --build --preset release-linux --target vendrel >/dev/null
vendrel=$PWD/build/release-linux/app/vendrel

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The company file's records 1 onward: number, Name, Version before and after.
records() {
  python3 - "$1" "$2" <<'PYTHON'
import sys
size = 359
before, after = (open(path, "rb").read() for path in sys.argv[1:3])
print("  record  name                    version before  version after")
for index in range(1, min(len(before), len(after)) // size):
    old, new = before[index * size:(index + 1) * size], after[index * size:(index + 1) * size]
    name = new[1:1 + new[0]].decode("latin-1")
    version = lambda r: r[123:123 + min(r[122], 4)].decode("latin-1")
    print(f"  {index:6}  {name:22}  {version(old):14}  {version(new)}")
PYTHON
}

show_diff() {  # label, before, after
  echo "--- $1: what changed (diff -u)"
  diff -u --label "$1 before" --label "$1 after" "$2" "$3" | tail -n +3 || true
}

echo
echo "== 1. The sample installation: a REGEDIT4 store and drive F:"
cp -r examples/sample "$work/"
export VENDREL_REGISTRY="$work/sample/registry.reg"
export VENDREL_DRIVES="$work/sample/drives"
kova="$VENDREL_DRIVES/f:/KOVA"
cp "$VENDREL_REGISTRY" "$work/registry.before"
cp "$kova/kelvarini.dat" "$work/settings.before"
cp "$kova/dromfile.dat" "$work/company.before"
echo "\$ vendrel F -v6/7 -w2.10 -dclinic -pY"
echo | "$vendrel" F -v6/7 -w2.10 -dclinic -pY | tr -d '\r'
echo
echo
show_diff registry.reg "$work/registry.before" "$VENDREL_REGISTRY"
show_diff kelvarini.dat "$work/settings.before" "$kova/kelvarini.dat"
echo "    (database= holds the scrambled name; langver, util_ver, fileupdates_ver and"
echo "     ccffl are removed from [POSTGRES_SERVER], and nothing else changes)"
echo "--- dromfile.dat: every record but the first stamped"
records "$work/company.before" "$kova/dromfile.dat"

echo
echo "== 2. The offline Windows disk: registry hives, the product on C:"
cp -r examples/offline-disk "$work/disk"
software="$work/disk/Windows/System32/config/SOFTWARE"
unset VENDREL_REGISTRY VENDREL_DRIVES
hivexget "$software" '\Wow6432Node\Tarvel Global' >"$work/hive.before"
cp "$work/disk/KOVA/dromfile.dat" "$work/company.before"
echo "\$ VENDREL_WINDOWS=.../disk vendrel C -v6/7 -w2.10"
echo | VENDREL_WINDOWS="$work/disk" HOME="$work" "$vendrel" C -v6/7 -w2.10 | tr -d '\r'
echo
echo
hivexget "$software" '\Wow6432Node\Tarvel Global' >"$work/hive.after"
show_diff 'SOFTWARE \Wow6432Node\Tarvel Global' "$work/hive.before" "$work/hive.after"
echo "--- dromfile.dat on C:"
records "$work/company.before" "$work/disk/KOVA/dromfile.dat"
echo
echo "demo: done; the examples in the checkout are as they were"
