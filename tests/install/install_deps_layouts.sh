#!/usr/bin/env bash
# Runs `scripts/install-deps.sh test` as on a fresh Debian 12 machine, once per
# layout of apt's sources, and checks what it asks apt and dpkg to do.
#
# Each run is in a mount namespace of its own: /etc/apt is a copy on a tmpfs,
# with the layout written into an empty tmpfs over sources.list.d, so the
# machine's sources are never touched. Stand-ins first on PATH record what
# install-deps.sh asks (apt-get install and update, dpkg --add-architecture)
# and answer as a machine with nothing installed would: dpkg-query knows no
# package, no foreign architecture is set, qemu-i386 is absent. apt-get
# indextargets stays apt's own, so the script's view of the sources is real.
# The layouts are made from the machine's own mirrors, taken from apt.
#
#   tests/install/install_deps_layouts.sh [LAYOUT...]
#
# Two more runs check that a failing step says so: no bookworm source at all,
# and a log folder that does not exist. Needs root (for the mounts) on Debian
# 12; elsewhere it says why and exits with 77 (skipped).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
install_deps=$root/scripts/install-deps.sh
layouts_all=(deb822-uris-first deb822-suites-first one-line both backports-present
  no-bookworm log-unwritable)
# The layouts where install-deps.sh cannot do its work and must say so.
layouts_failing=(no-bookworm log-unwritable)
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

# sources_files DIR: the sources files under DIR as apt reads them from /etc/apt.
sources_files() {
  local file
  for file in "$1"/sources.list "$1"/sources.list.d/*; do
    if [ -f "$file" ]; then echo "${file#"$1"/}"; fi
  done
}

skip() {
  echo "install-deps layouts: skipped: $*"
  exit 77
}

# --- inside the namespace: LAYOUT WORK ------------------------------------
if [ "${1:-}" = --inside ]; then
  layout=$2 work=$3
  mount -t tmpfs vendrel-apt "$work/apt"
  cp -a /etc/apt/. "$work/apt/"
  rm -f "$work/apt/sources.list"
  mount --bind "$work/apt" /etc/apt
  mount -t tmpfs vendrel-sources /etc/apt/sources.list.d
  cp -a "$work/layout/." /etc/apt/
  set +e
  tmpdir=$work
  [ "$layout" != log-unwritable ] || tmpdir=$work/no-such-folder
  PATH=$work/bin:$PATH TMPDIR=$tmpdir "$install_deps" test >"$work/output" 2>&1
  echo $? >"$work/status"
  set -e
  sources_files /etc/apt >"$work/files-after"
  exit 0
fi

# --- outside: make the layouts, run each, check ---------------------------
[ "$(id -u)" -eq 0 ] || skip "needs root for its mount namespace"
unshare --mount true 2>/dev/null || skip "unshare --mount is not allowed here"
# shellcheck source=/dev/null # the machine's own
. /etc/os-release
[ "${VERSION_CODENAME:-}" = bookworm ] ||
  skip "install-deps.sh adds backports on Debian 12 only; this is ${VERSION_CODENAME:-unknown}"

# The machine's Debian mirror (the one serving bookworm) and its security
# mirror, as apt sees them; backports is left out, whatever the machine has.
real_apt_get=$(command -v apt-get)
real_dpkg=$(command -v dpkg)
# shellcheck disable=SC2016 # apt's format fields, for apt to expand
sources=$("$real_apt_get" indextargets --no-release-info --format '$(TARGET_OF) $(REPO_URI) $(RELEASE)' |
  awk '$1 == "deb" && !seen[$0]++ { print $2, $3 }')
mirror=$(awk '$2 == "bookworm" { print $1; exit }' <<<"$sources")
[ -n "$mirror" ] || skip "apt on this machine has no bookworm source to make the layouts from"
updates=$(awk -v m="$mirror" '$1 == m && $2 == "bookworm-updates" { print $2; exit }' <<<"$sources")
suites="bookworm${updates:+ $updates}"
security=$(awk '$2 == "bookworm-security" { print $1; exit }' <<<"$sources")

stanza() { # FIELD-ORDER URI SUITES
  case "$1" in
    uris-first)
      printf 'Types: deb\n# the mirror this machine uses\nURIs: %s\nSuites: %s\n' "$2" "$3" ;;
    suites-first)
      printf 'Suites: %s\nTypes: deb\nURIs: %s\n' "$3" "$2" ;;
  esac
  printf 'Components: main\nSigned-By: %s\n\n' "$keyring"
}
one_line() { # URI SUITE...
  local uri=$1 suite
  shift
  for suite; do printf 'deb [signed-by=%s] %s %s main\n' "$keyring" "$uri" "$suite"; done
}
security_stanza() {
  [ -z "$security" ] || stanza "$1" "$security" bookworm-security
}

# write_layout NAME DIR: the layout as /etc/apt's sources.list and sources.list.d.
write_layout() {
  local dir=$2
  mkdir -p "$dir/sources.list.d"
  case "$1" in
    deb822-uris-first | log-unwritable)
      { stanza uris-first "$mirror" "$suites"; security_stanza uris-first; } \
        >"$dir/sources.list.d/debian.sources" ;;
    deb822-suites-first)
      { stanza suites-first "$mirror" "$suites"; security_stanza suites-first; } \
        >"$dir/sources.list.d/debian.sources" ;;
    one-line)
      # shellcheck disable=SC2086 # one suite per word
      { one_line "$mirror" $suites; [ -z "$security" ] || one_line "$security" bookworm-security; } \
        >"$dir/sources.list" ;;
    both)
      one_line "$mirror" bookworm >"$dir/sources.list"
      { [ -z "$updates" ] || stanza uris-first "$mirror" "$updates"; security_stanza suites-first; } \
        >"$dir/sources.list.d/debian.sources" ;;
    no-bookworm)
      security_stanza uris-first >"$dir/sources.list.d/debian.sources" ;;
    backports-present)
      { stanza uris-first "$mirror" "$suites bookworm-backports"; security_stanza uris-first; } \
        >"$dir/sources.list.d/debian.sources" ;;
  esac
}

# The stand-ins; each call is a line of WORK/calls.
write_stand_ins() {
  local work=$1
  mkdir -p "$work/bin"
  cat >"$work/bin/apt-get" <<EOF
#!/bin/bash
for word; do
  [ "\$word" = indextargets ] && exec "$real_apt_get" "\$@"
done
echo "apt-get \$*" >>"$work/calls"
for word; do
  if [ "\$word" = update ]; then
    "$real_apt_get" indextargets --no-release-info \\
      --format '\$(TARGET_OF) \$(REPO_URI) \$(RELEASE) \$(SOURCESENTRY)' |
      awk '\$1 == "deb" && !seen[\$0]++ { print \$2, \$3, \$4 }' >"$work/sources-at-update"
  fi
done
exit 0
EOF
  cat >"$work/bin/dpkg" <<EOF
#!/bin/bash
case "\$1" in
  --print-foreign-architectures) cat "$work/architectures" 2>/dev/null; exit 0 ;;
  --add-architecture) echo "dpkg \$*" >>"$work/calls"; echo "\$2" >>"$work/architectures"; exit 0 ;;
esac
exec "$real_dpkg" "\$@"
EOF
  cat >"$work/bin/dpkg-query" <<EOF
#!/bin/bash
echo "\${!#}" >>"$work/queried"
echo "dpkg-query: no packages found matching \${!#}" >&2
exit 1
EOF
  printf '#!/bin/sh\necho "qemu-i386: not found" >&2\nexit 127\n' >"$work/bin/qemu-i386"
  chmod +x "$work/bin/"*
}

# verdict HOLDS TEXT: one line per check; a check that does not hold sets failed.
verdict() {
  if [ "$1" = 0 ]; then echo "ok: $2"; else echo "FAILED: $2"; failed=1; fi
}

# check LAYOUT WORK: prints what was asked and one line per check; fails when
# any check does not hold.
check() {
  local layout=$1 work=$2 status
  status=$(cat "$work/status")
  echo "--- install-deps.sh test: exit $status"
  sed 's/^/  /' "$work/output"
  echo "--- asked"
  awk '{ if (NF > 12) { $0 = sprintf("%s ... (%d words)", substr($0, 1, 60), NF) } print "  " $0 }' \
    "$work/calls" 2>/dev/null || true
  echo "--- apt's sources when apt-get update ran"
  sed 's/^/  /' "$work/sources-at-update" 2>/dev/null || true
  local holds
  holds=0; [ "$status" = 0 ] || holds=1
  verdict $holds "exit 0"

  local first_update first_install arch_at
  first_update=$(grep -n -m1 -w update "$work/calls" 2>/dev/null | cut -d: -f1)
  first_install=$(grep -n -m1 -w install "$work/calls" 2>/dev/null | cut -d: -f1)
  arch_at=$(grep -n -m1 -x 'dpkg --add-architecture i386' "$work/calls" 2>/dev/null | cut -d: -f1)
  holds=0; { [ -n "$arch_at" ] && [ -n "$first_update" ] && [ "$arch_at" -lt "$first_update" ]; } || holds=1
  verdict $holds "i386 architecture added before apt-get update"
  holds=0
  { [ -n "$first_update" ] && [ -n "$first_install" ] && [ "$first_update" -lt "$first_install" ]; } || holds=1
  verdict $holds "apt-get update before apt-get install"

  # Every package found missing is asked for, and nothing else but qemu-user.
  local queried asked unasked extra
  queried=$(sort -u "$work/queried" 2>/dev/null)
  asked=$(grep -w install "$work/calls" 2>/dev/null |
    awk '{ for (i = 1; i <= NF; i++) if (past) print $i; else if ($i == "install") past = 1; past = 0 }' |
    grep -v -e '^-' -e '^bookworm-backports$' | sort -u)
  unasked=$(comm -23 <(echo "$queried") <(echo "$asked") | xargs)
  extra=$(comm -13 <(echo "$queried") <(echo "$asked") | grep -vx qemu-user | xargs)
  holds=0; { grep -qx 'wine32:i386' <<<"$queried" && [ -z "$unasked" ] && [ -z "$extra" ]; } || holds=1
  verdict $holds "all $(wc -w <<<"$queried") packages found missing asked for${unasked:+; not asked: $unasked}${extra:+; not missing: $extra}"

  holds=0; grep -w install "$work/calls" 2>/dev/null | grep -q -- '-t bookworm-backports qemu-user$' || holds=1
  verdict $holds "qemu-user asked from bookworm-backports"

  local bookworm_uri backports_uri backports_count
  bookworm_uri=$(awk '$2 == "bookworm" { print $1; exit }' "$work/sources-at-update" 2>/dev/null)
  backports_uri=$(awk '$2 == "bookworm-backports" { print $1; exit }' "$work/sources-at-update" 2>/dev/null)
  backports_count=$(awk '$2 == "bookworm-backports"' "$work/sources-at-update" 2>/dev/null | wc -l)
  holds=0
  { [ -n "$bookworm_uri" ] && [ "$backports_uri" = "$bookworm_uri" ] && [ "$backports_count" = 1 ]; } || holds=1
  verdict $holds "one bookworm-backports source, on the mirror of bookworm (${bookworm_uri:-none})"

  local expected_files
  expected_files=$(sources_files "$work/layout" |
    { cat; [ "$layout" = backports-present ] || echo sources.list.d/vendrel-backports.sources; } | sort)
  holds=0; [ "$expected_files" = "$(cat "$work/files-after")" ] || holds=1
  verdict $holds "sources files after: $(xargs <"$work/files-after")"
  return $failed
}

# check_failure WORK: install-deps.sh stopped before installing anything,
# and its last words say what failed and what to do.
check_failure() {
  local work=$1 status holds
  status=$(cat "$work/status")
  echo "--- install-deps.sh test: exit $status"
  sed 's/^/  /' "$work/output"
  holds=0; [ "$status" != 0 ] || holds=1
  verdict $holds "exit not 0"
  holds=0; ! grep -qw install "$work/calls" 2>/dev/null || holds=1
  verdict $holds "nothing installed"
  holds=0; tail -n 1 "$work/output" | grep -q '^install-deps: .*run .*again' || holds=1
  verdict $holds "the last line says what to do"
  return $failed
}

layouts=("${@:-${layouts_all[@]}}")
for layout in "${layouts[@]}"; do
  [[ " ${layouts_all[*]} " == *" $layout "* ]] ||
    { echo "install-deps layouts: no layout named $layout (${layouts_all[*]})" >&2; exit 2; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
for layout in "${layouts[@]}"; do
  work=$scratch/$layout
  mkdir -p "$work/apt"
  write_layout "$layout" "$work/layout"
  write_stand_ins "$work"
  echo
  echo "=== layout $layout"
  for file in $(sources_files "$work/layout"); do
    echo "--- /etc/apt/$file"
    sed 's/^/  /' "$work/layout/$file"
  done
  unshare --mount --propagation private -- bash "${BASH_SOURCE[0]}" --inside "$layout" "$work"
  failed=0
  if [[ " ${layouts_failing[*]} " == *" $layout "* ]]; then
    check_failure "$work" || failures=$((failures + 1))
  else
    check "$layout" "$work" || failures=$((failures + 1))
  fi
done
echo
echo "install-deps layouts: $((${#layouts[@]} - failures)) of ${#layouts[@]} passed"
[ "$failures" -eq 0 ]
