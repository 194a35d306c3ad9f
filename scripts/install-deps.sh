#!/usr/bin/env bash
# Installs the Debian packages a task needs, when they are missing, and says
# what it installs before it does.
#
#   scripts/install-deps.sh [build] [demo] [bench] [release] [test]
#
# build: to build the Linux program; demo: to build it and show what a run
# changes; bench: the benchmarks; release: the release packages; test:
# everything the test command builds, runs and checks (the others included).
# Runs apt-get as root, or through sudo; a user with neither is told what to
# install. Waits for a package manager that is busy rather than failing.
set -euo pipefail

build=(g++ make cmake pkg-config libhivex-dev)
demo=("${build[@]}" libhivex-bin python3)
bench=("${build[@]}" libgtest-dev libgmock-dev googletest libbenchmark-dev python3 crudini time)
release=("${build[@]}" g++-mingw-w64-i686 zip dpkg-dev lintian man-db python3 osslsigncode
  openssl git)
test=("${bench[@]}" "${release[@]}" libhivex-bin clang-format clang-tidy cppcheck clang-14
  libclang-rt-14-dev g++-mingw-w64-x86-64 wine wine64 wine32:i386 procps acl attr git
  util-linux)

wanted=()
for task in "${@:-build}"; do
  case "$task" in
    build) wanted+=("${build[@]}") ;;
    demo) wanted+=("${demo[@]}") ;;
    bench) wanted+=("${bench[@]}") ;;
    release) wanted+=("${release[@]}") ;;
    test) wanted+=("${test[@]}") ;;
    *) echo "install-deps: no task named $task" >&2; exit 2 ;;
  esac
done

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# The 32-bit Windows programs run under 32-bit Wine and user-mode QEMU 8 or
# later; Debian 12 has that QEMU in bookworm-backports only.
needs_wine32=false
for package in "${wanted[@]}"; do
  [ "$package" = wine32:i386 ] && needs_wine32=true
done
qemu_major() {
  qemu-i386 --version 2>/dev/null | sed -n 's/.*version \([0-9]*\)\..*/\1/p'
}

missing=()
for package in "${wanted[@]}"; do
  installed "$package" || missing+=("$package")
done
if $needs_wine32; then
  major=$(qemu_major || true)
  if [ -z "$major" ] || [ "$major" -lt 8 ]; then
    missing+=(qemu-user)
  fi
fi
# Each package once, in the order first wanted.
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | awk 'NF && !seen[$0]++')
if ((${#missing[@]} == 0)); then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1 && sudo -v 2>/dev/null; then
  as_root=(sudo)
else
  echo "install-deps: these Debian packages are missing: ${missing[*]}" >&2
  echo "install-deps: install them as root (apt-get install ...), or run this as a user" \
    "who may use sudo" >&2
  exit 1
fi

log=${TMPDIR:-/tmp}/vendrel-install-deps.log
apt_get() {
  if ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 \
      "$@" >>"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "install-deps: apt-get $* failed; the whole log is $log" >&2
    exit 1
  fi
}
: >"$log"
echo "install-deps: installing ${missing[*]} (this can take some minutes; log: $log)"

if $needs_wine32 && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
qemu_suite=()
. /etc/os-release
if $needs_wine32 && [ "${VERSION_CODENAME:-}" = bookworm ] &&
    ! grep -rqs "bookworm-backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
  # The backports suite from the same Debian mirror the machine already uses.
  mirror=$(grep -rhs -A4 -E '^Suites:.*\bbookworm\b' /etc/apt/sources.list.d/*.sources |
             sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' | head -1)
  if [ -z "$mirror" ]; then
    mirror=$(sed -n 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\)[[:space:]]\+bookworm[[:space:]].*/\2/p' \
               /etc/apt/sources.list 2>/dev/null | head -1)
  fi
  if [ -n "$mirror" ]; then
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
      "$mirror" /usr/share/keyrings/debian-archive-keyring.gpg |
      "${as_root[@]}" tee /etc/apt/sources.list.d/vendrel-backports.sources >/dev/null
  fi
fi
if [ "${VERSION_CODENAME:-}" = bookworm ] && grep -rqs "bookworm-backports" /etc/apt/sources.list \
    /etc/apt/sources.list.d/; then
  qemu_suite=(-t bookworm-backports)
fi

apt_get update -qq
others=()
for package in "${missing[@]}"; do
  [ "$package" = qemu-user ] || others+=("$package")
done
if ((${#others[@]})); then
  apt_get install -y -qq "${others[@]}"
fi
for package in "${missing[@]}"; do
  if [ "$package" = qemu-user ]; then
    apt_get install -y -qq "${qemu_suite[@]}" qemu-user
  fi
done
echo "install-deps: done"
