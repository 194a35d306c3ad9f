#!/usr/bin/env bash
# Runs one set of tests under Wine in a session of its own: a user, mount and
# PID namespace, so that the Wine server and every service Wine starts end
# when the set ends, whatever happens to it.
#
#   wine-session.sh [--32] COMMAND...
#
# With --32 the session runs 32-bit Windows programs: Wine's 32-bit loader
# under qemu-i386 (8 or later), registered with the namespace's own
# binfmt_misc (Linux 6.7 and later give each user namespace one), in a
# 32-bit prefix of its own. Nothing outside the namespace changes. Where the
# machine cannot do this, the session says why in one line and exits with 77,
# which CTest counts as skipped.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
skipped=77

if [ "${VENDREL_WINE_SESSION:-}" != inside ]; then
  # Chosen out here, where the user's own id and TMPDIR are seen.
  export VENDREL_WINEPREFIX=${VENDREL_WINEPREFIX:-${TMPDIR:-/tmp}/vendrel-wine-$(id -u)}
  export VENDREL_WINEPREFIX32=${VENDREL_WINEPREFIX32:-${TMPDIR:-/tmp}/vendrel-wine32-$(id -u)}
  namespace=(unshare --user --map-root-user --mount --pid --fork --mount-proc --kill-child)
  if ! "${namespace[@]}" true 2>/dev/null; then
    if [ "${1:-}" = --32 ]; then
      echo "skipped: 32-bit Windows programs need a user namespace of their own here," \
        "and this machine gives none (unshare --user fails)"
      exit $skipped
    fi
    # No namespace: the server is stopped by hand at the end.
    trap '"$here/run-in-wine.sh" --stop' EXIT
    "$@"
    exit
  fi
  exec env VENDREL_WINE_SESSION=inside "${namespace[@]}" "$0" "$@"
fi

if [ "${1:-}" = --32 ]; then
  shift
  qemu=$(command -v qemu-i386 || true)
  version=$("${qemu:-false}" --version 2>/dev/null | sed -n 's/.*version \([0-9]*\)\..*/\1/p')
  if [ -z "$qemu" ] || [ "${version:-0}" -lt 8 ]; then
    echo "skipped: 32-bit Windows programs need qemu-i386 8 or later (Debian package" \
      "qemu-user; bookworm-backports on Debian 12); found ${version:-none}"
    exit $skipped
  fi
  if [ ! -x /usr/lib/wine/wine ]; then
    echo "skipped: 32-bit Windows programs need Wine's 32-bit loader (Debian package wine32:i386)"
    exit $skipped
  fi
  if ! mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; then
    echo "skipped: this kernel ($(uname -r)) gives a user namespace no binfmt_misc of its" \
      "own (Linux 6.7 and later do), so 32-bit programs cannot be handed to qemu-i386"
    exit $skipped
  fi
  # 32-bit x86 ELF programs, executables and shared objects alike.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':qemu-i386:M::%s:%s:%s:F' "$magic" "$mask" "$qemu" >/proc/sys/fs/binfmt_misc/register
  export VENDREL_WINE=/usr/lib/wine/wine WINEARCH=win32
  export VENDREL_WINEPREFIX=$VENDREL_WINEPREFIX32
fi

set +e
"$@"
status=$?
"$here/run-in-wine.sh" --stop
exit $status
