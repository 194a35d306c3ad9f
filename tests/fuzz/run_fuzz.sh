#!/bin/sh
# Runs one fuzz target for a bounded time, starting from its corpus in the
# repository. New inputs go to a scratch folder, so the repository is never
# written; an input that breaks a property is kept in the findings folder.
# A target's dictionary, when it has one, lies beside this script.
set -eu
target=$1 corpus=$2 seconds=$3 findings=$4
dictionary=$(dirname "$0")/$(basename "$target").dict
if [ -f "$dictionary" ]; then set -- -dict="$dictionary"; else set --; fi
mkdir -p "$findings"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$findings/$(basename "$target")-" "$@" "$scratch" "$corpus"
