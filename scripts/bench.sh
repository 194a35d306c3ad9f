#!/usr/bin/env bash
# Builds Vendrel and runs every benchmark, printing one table; installs what
# the benchmarks need (Google Benchmark, crudini and GNU time for the
# comparisons) when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh bench
cmake --preset linux >/dev/null
cmake --build --preset linux --target vendrel vendrel_benchmarks durable_rewrite make_hive >/dev/null
exec python3 bench/run_benchmarks.py "$@"
