#!/usr/bin/env bash
# Builds the release of the checked-out commit twice, from two clones at
# different paths, one after the other (minutes apart), the second under
# another umask and time zone, and checks that Vendrel.exe, the zip and the
# Debian package are the same bytes. Then signs the second clone's release
# with a throwaway self-signed code-signing certificate and checks it: the
# signature verifies, and the zip's sums are those of the signed program.
# Only committed work is built: what the clones hold.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vendrel-reproducible.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

clones=("$scratch/first" "$scratch/a/longer/path/second")
settings=("umask 022; TZ=UTC" "umask 002; TZ=Asia/Tokyo")
for i in 0 1; do
  git clone -q --no-checkout "$root" "${clones[i]}"
  git -C "${clones[i]}" checkout -q --detach "$commit"
  echo "reproducible: release build $((i + 1)) of ${commit:0:12} in ${clones[i]} ($(date -u +%T))"
  (eval "${settings[i]}"; export TZ; cd "${clones[i]}" && scripts/release.sh >/dev/null)
done

failed=0
for file in build/release-win32/app/Vendrel.exe dist/Vendrel-1.3-win32.zip \
    dist/vendrel_1.3_amd64.deb; do
  sums=()
  for clone in "${clones[@]}"; do
    sums+=("$(sha256sum "$clone/$file" | cut -d' ' -f1)")
  done
  if [ "${sums[0]}" = "${sums[1]}" ]; then
    echo "ok   $(basename "$file") ${sums[0]}"
  else
    echo "FAIL $(basename "$file") differs: ${sums[0]} and ${sums[1]}"
    failed=$((failed + 1))
  fi
done

# A throwaway certificate, good for a day, for code signing only.
key=$scratch/signing-key.pem
cert=$scratch/signing-cert.pem
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$key" -out "$cert" -days 1 \
  -subj "/CN=Vendrel release check" -addext "basicConstraints=critical,CA:FALSE" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  2>/dev/null
echo "reproducible: signing the release of ${clones[1]} with a throwaway certificate"
(cd "${clones[1]}" && VENDREL_SIGN_CERT=$cert VENDREL_SIGN_KEY=$key scripts/release.sh >/dev/null)
if ! python3 "$root/tests/release/check_packages.py" --dist "${clones[1]}/dist" \
    --signed-by "$cert"; then
  failed=$((failed + 1))
fi

echo "reproducible and signed release: $((4 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
