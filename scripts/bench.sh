#!/usr/bin/env bash
# Builds Vendrel and runs every benchmark, printing one table. Installs the
# packages the comparison needs (crudini, GNU time) when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for package in crudini time; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "$package"
  fi
done
cmake --preset linux >/dev/null
cmake --build --preset linux --target vendrel vendrel_benchmarks >/dev/null
exec python3 bench/run_benchmarks.py "$@"
