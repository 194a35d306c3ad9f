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
# A step that fails says which, with the command, and the exit code is not 0.
set -eEuo pipefail

# The steps that can be expected to fail say why themselves; this names any
# other, once (a command substitution's own shell stays quiet, its caller
# reports it).
on_error() {
  local status=$1 line=$2 command=$3
  [ "$BASHPID" = "$$" ] || return 0
  echo "install-deps: line $line, \`$command\` failed (exit $status); nothing after it was done" >&2
  echo "install-deps: fix what it reports above and run scripts/install-deps.sh ${tasks[*]:-} again," \
    "or install these Debian packages yourself: ${missing[*]:-${wanted[*]:-}}" >&2
}
trap 'on_error $? $LINENO "$BASH_COMMAND"' ERR

build=(g++ make cmake)
demo=("${build[@]}" libhivex-bin python3)
# What a technician repairing a disk needs besides the program.
install=("${build[@]}" libhivex-bin ntfs-3g)
# The tests judge written hives with hivex, a reader the program does not use.
bench=("${build[@]}" pkg-config libhivex-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  python3 crudini time libhivex-bin chntpw)
release=("${build[@]}" g++-mingw-w64-i686 zip dpkg-dev lintian man-db python3 osslsigncode
  openssl git)
test=("${bench[@]}" "${release[@]}" libhivex-bin clang-format clang-tidy cppcheck clang-14
  libclang-rt-14-dev g++-mingw-w64-x86-64 wine wine64 wine32:i386 procps acl attr git
  util-linux ntfs-3g xz-utils reglookup)

tasks=("${@:-build}")
wanted=()
for task in "${tasks[@]}"; do
  case "$task" in
    build) wanted+=("${build[@]}") ;;
    demo) wanted+=("${demo[@]}") ;;
    install) wanted+=("${install[@]}") ;;
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
apt_try() {
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 \
    "$@" >>"$log" 2>&1
}
apt_get() {
  if ! apt_try "$@"; then
    tail -n 30 "$log" >&2
    echo "install-deps: apt-get $* failed; the whole log is $log" >&2
    exit 1
  fi
}
: >"$log"
echo "install-deps: installing ${missing[*]} (this can take some minutes; log: $log)"

if $needs_wine32 && ! dpkg --print-foreign-architectures | grep -qx i386; then
  if ! "${as_root[@]}" dpkg --add-architecture i386; then
    echo "install-deps: dpkg --add-architecture i386 failed; 32-bit Wine (wine32:i386) needs" \
      "the i386 architecture: add it as root, then run this again" >&2
    exit 1
  fi
fi

# apt's own view of its sources, whatever files and formats hold them: one
# line per suite, "URI SUITE". --no-release-info lists them before the
# first apt-get update too.
# shellcheck disable=SC2016 # apt's format fields, for apt to expand
apt_sources() {
  apt-get indextargets --no-release-info --format '$(TARGET_OF) $(REPO_URI) $(RELEASE)' |
    awk '$1 == "deb" && !seen[$2 " " $3]++ { print $2, $3 }'
}
qemu_suite=()
# shellcheck source=/dev/null # the machine's own
. /etc/os-release
if $needs_wine32 && [ "${VERSION_CODENAME:-}" = bookworm ]; then
  if ! sources=$(apt_sources); then
    echo "install-deps: apt-get indextargets failed: apt cannot read its sources;" \
      "fix what it reports above, then run this again" >&2
    exit 1
  fi
  if ! grep -q ' bookworm-backports$' <<<"$sources"; then
    # The backports suite from the same Debian mirror the machine uses.
    mirror=$(awk '$2 == "bookworm" && $1 !~ /^cdrom:/ { print $1; exit }' <<<"$sources")
    if [ -z "$mirror" ]; then
      echo "install-deps: QEMU 8 for the 32-bit tests is in bookworm-backports, and apt has" \
        "no bookworm source on a Debian mirror to add it beside; add a bookworm-backports" \
        "source yourself (man sources.list), then run this again" >&2
      exit 1
    fi
    backports=/etc/apt/sources.list.d/vendrel-backports.sources
    if ! printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
        "$mirror" /usr/share/keyrings/debian-archive-keyring.gpg |
        "${as_root[@]}" tee "$backports" >/dev/null; then
      echo "install-deps: could not write $backports (bookworm-backports from $mirror);" \
        "write it as root, then run this again" >&2
      exit 1
    fi
    echo "install-deps: added bookworm-backports from $mirror in $backports, for QEMU 8"
  fi
  qemu_suite=(-t bookworm-backports)
fi

# A mirror caught mid-sync serves some lists that do not match their
# index; apt then keeps the lists it had, and the install below says
# whether they serve.
if ! apt_try update -qq; then
  grep -E '^(E|W):' "$log" | tail -n 3 >&2
  echo "install-deps: apt-get update could not fetch every package list; going on with" \
    "the lists apt has (the whole log is $log)" >&2
fi
others=()
for package in "${missing[@]}"; do
  [ "$package" = qemu-user ] || others+=("$package")
done
if ((${#others[@]})); then
  # The 32-bit packages need the same versions as the 64-bit ones: a list
  # of one architecture behind the other's leaves them uninstallable, and
  # the 32-bit tests then say so and are skipped.
  if ! apt_try install -y -qq "${others[@]}"; then
    rest=()
    for package in "${others[@]}"; do
      [ "$package" = wine32:i386 ] || rest+=("$package")
    done
    if ((${#rest[@]} == ${#others[@]})); then
      tail -n 30 "$log" >&2
      echo "install-deps: apt-get install ${others[*]} failed; the whole log is $log" >&2
      exit 1
    fi
    echo "install-deps: wine32:i386 cannot be installed from the lists apt has now; the" \
      "32-bit Windows tests will be skipped: run this again later to add it" >&2
    if ((${#rest[@]})); then apt_get install -y -qq "${rest[@]}"; fi
  fi
fi
for package in "${missing[@]}"; do
  if [ "$package" = qemu-user ]; then
    apt_get install -y -qq "${qemu_suite[@]}" qemu-user
  fi
done
echo "install-deps: done"
