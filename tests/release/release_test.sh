#!/bin/sh
# The release command run from a copy of the sources in another folder must make the very exe the
# test build made here. Signed with a throwaway certificate it must verify, be that exe again
# without its signature and still run an update; a wrong password must then leave no exe where
# the signed one goes.
# Usage: release_test.sh SOURCE_DIR BUILD_DIR
set -eu
root=$1 build=$2
work=$(mktemp -d "$build/release-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
copy=$work/elsewhere/mossharbor
mkdir -p "$copy"
(cd "$root" && git ls-files -co --exclude-standard -z | xargs -0 cp --parents -t "$copy")
line=$("$copy/scripts/release.sh" | tail -n 1)
[ "${line%% *}" = "$(sha256sum <"$build/bin/mossharbor-updater.exe" | cut -d' ' -f1)" ] ||
    fail "the same sources built another exe in another folder"

echo 'test password' >"$work/password"
echo 'wrong' >"$work/wrong"
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=MossHarbor-test -days 2 \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.p12" \
    -passout "file:$work/password"
sign() { "$copy/scripts/release.sh" --sign "$work/cert.p12" --password-file "$1" >/dev/null; }
signed=$copy/build/release/signed/mossharbor-updater.exe
sign "$work/password"
osslsigncode verify -CAfile "$work/cert.pem" -in "$signed" >/dev/null || fail "no valid signature"
osslsigncode remove-signature -in "$signed" -out "$work/unsigned.exe" >/dev/null
cmp -s "$work/unsigned.exe" "$build/bin/mossharbor-updater.exe" || fail "signed another exe"
# The signed exe applies a packed update and exits by itself: no Wine process of the tests'
# prefix has to be killed, as the usage box, which nothing can dismiss here, would need.
mkdir -p "$work/game" "$work/install/update" && cd "$work"
"$root/scripts/pack-update.sh" game 2.0 u.tar >/dev/null
"$build/wine-run.sh" "$signed" 0 u.tar install none.exe || fail "the signed exe exited with $?"
[ "$(cat "$work/install/norvane_version.txt")" = 2.0 ] || fail "the signed exe did not update"
! sign "$work/wrong" 2>/dev/null && [ ! -e "$signed" ] || fail "a wrong password left an exe"
