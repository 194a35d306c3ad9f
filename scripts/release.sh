#!/usr/bin/env bash
# Makes the release packages in dist/: Vendrel-1.3-win32.zip (the 32-bit
# Vendrel.exe, its README and SHA256SUMS) and vendrel_1.3_amd64.deb (the
# Linux program, its man page and the README), installing what it needs.
#
# Every build of a commit makes the same bytes: the packages' times are the
# commit's (SOURCE_DATE_EPOCH, unless it is set already), in UTC.
#
# With VENDREL_SIGN_CERT and VENDREL_SIGN_KEY (PEM files: the code-signing
# certificate with its chain, and its key), Vendrel.exe is signed with
# osslsigncode (SHA-256) before its sum goes into SHA256SUMS; an RFC 3161
# time-stamp server may be given in VENDREL_SIGN_TIMESTAMP. A signed zip is
# not the same bytes twice: the signature holds the time it was made.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh release

if [ -n "${VENDREL_SIGN_CERT:-}${VENDREL_SIGN_KEY:-}" ]; then
  for file in "${VENDREL_SIGN_CERT:-}" "${VENDREL_SIGN_KEY:-}"; do
    if [ -z "$file" ] || [ ! -r "$file" ]; then
      echo "release: signing needs both VENDREL_SIGN_CERT and VENDREL_SIGN_KEY, readable" \
        "PEM files" >&2
      exit 2
    fi
  done
  # The packaging step runs in other folders: it is given the files by full path.
  VENDREL_SIGN_CERT=$(realpath "$VENDREL_SIGN_CERT")
  VENDREL_SIGN_KEY=$(realpath "$VENDREL_SIGN_KEY")
  export VENDREL_SIGN_CERT VENDREL_SIGN_KEY
  echo "release: Vendrel.exe will be signed with $VENDREL_SIGN_CERT" \
    "${VENDREL_SIGN_TIMESTAMP:+(time stamp from $VENDREL_SIGN_TIMESTAMP)}"
else
  unset VENDREL_SIGN_CERT VENDREL_SIGN_KEY
fi

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if ! SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) || [ -z "$SOURCE_DATE_EPOCH" ]; then
    echo "release: not a git checkout; set SOURCE_DATE_EPOCH to the release's time" >&2
    exit 2
  fi
fi
export SOURCE_DATE_EPOCH
# The zip stores local times, and both packages their files' modes: the same
# ones wherever they are built, by whoever builds them.
export TZ=UTC0
umask 022

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
echo "release: made in dist/ (times of $(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T UTC')):"
( cd dist && ls -l --time-style=+ Vendrel-*-win32.zip vendrel_*_amd64.deb | awk '{print "  " $NF " (" $5 " bytes)"}' )
