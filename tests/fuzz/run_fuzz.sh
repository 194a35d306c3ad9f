#!/bin/sh
# Runs one fuzz target for a bounded time, starting from its corpus in the
# repository. New inputs go to a scratch folder, so the repository is never
# written; an input that breaks a property is kept in the findings folder.
# A target's dictionary, when it has one, lies beside this script.
# A finding is printed first, with the input itself (gzip, base64), so that a
# run whose folders are gone, as a CI run's are, can still be replayed.
set -eu
target=$1 corpus=$2 seconds=$3 findings=$4
dictionary=$(dirname "$0")/$(basename "$target").dict
if [ -f "$dictionary" ]; then set -- -dict="$dictionary"; else set --; fi
mkdir -p "$findings"
scratch=$(mktemp -d)
mkdir "$scratch/corpus"
trap 'rm -rf "$scratch"' EXIT
prefix="$findings/$(basename "$target")-$(date +%s)-"
status=0
"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$prefix" "$@" "$scratch/corpus" "$corpus" >"$scratch/log" 2>&1 ||
  status=$?
if [ "$status" -ne 0 ]; then
  echo "finding (exit $status):"
  grep -E -A 30 'ERROR|property failed|refused:|deadly|Test unit written|SUMMARY' "$scratch/log" |
    head -n 60 || true
  for input in "$prefix"*; do
    [ -f "$input" ] || continue
    echo "input $(basename "$input"), to replay: base64 -d | gunzip > input"
    gzip -9 -n <"$input" | base64
  done
  echo "--- the run's last lines:"
fi
tail -n 25 "$scratch/log"
exit "$status"
