#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, creating the
# prefix on first use and keeping one wineserver up across runs;
# "run-in-wine.sh --stop" ends that server.
set -euo pipefail
export WINEPREFIX=${VENDREL_WINEPREFIX:-${TMPDIR:-/tmp}/vendrel-wine-$(id -u)}
export WINEDEBUG=-all
export LANG=C.UTF-8 LC_ALL=C.UTF-8
wine=${VENDREL_WINE:-/usr/lib/wine/wine64}
wineserver=${VENDREL_WINESERVER:-/usr/lib/wine/wineserver}
marker=$WINEPREFIX/.vendrel-services
if [ "${1:-}" = "--stop" ]; then
  "$wineserver" -k 2>/dev/null || true
  rm -f "$marker"
  exit 0
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot -i </dev/null >/dev/null 2>&1
fi
# The server and the services Wine starts with it outlive this call: they
# must not hold the caller's output open, or a pipe to it never ends. So
# they are started here, with nothing of ours open, before the program runs.
if [ ! -f "$marker" ] || ! kill -0 "$(cat "$marker")" 2>/dev/null; then
  "$wineserver" -p </dev/null >/dev/null 2>&1 || true
  "$wine" wineboot </dev/null >/dev/null 2>&1 || true
  pgrep -n -f "^C:.windows.system32.services.exe" >"$marker" || true
fi
exec "$wine" "$@"
