#!/bin/sh
# Builds the shipping mossharbor-updater.exe alone (no tests) in build/release, optionally signs
# it with Authenticode, and ends with its SHA-256 line as sha256sum prints it.
#
# Usage: scripts/release.sh [--sign CERT.p12 --password-file FILE [--timestamp URL]]
#   --sign CERT.p12        PKCS#12 file holding the signing certificate and its private key
#   --password-file FILE   file holding that certificate's password (never given on a command line)
#   --timestamp URL        RFC 3161 time-stamp server, so the signature outlives the certificate
# The build is reproducible: the same commit gives the same unsigned exe from any folder on any
# day. A signed exe lands in build/release/signed/ and is left there only when it verifies.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
cert=""
password_file=""
timestamp=""
fail() { echo "release.sh: $*" >&2; exit 1; }
# A signed exe from an earlier run must not pass for this one if this run fails, however early.
signed=$build/signed/mossharbor-updater.exe
rm -f "$signed"
while [ $# -gt 0 ]; do
    case $1 in
        --sign) [ $# -ge 2 ] || fail "--sign needs a .p12 file"; cert=$2; shift 2 ;;
        --password-file) [ $# -ge 2 ] || fail "--password-file needs a file"; password_file=$2; shift 2 ;;
        --timestamp) [ $# -ge 2 ] || fail "--timestamp needs a URL"; timestamp=$2; shift 2 ;;
        *) sed -n '5,8p' "$0" >&2; exit 2 ;;
    esac
done
if [ -n "$cert$password_file$timestamp" ] && { [ -z "$cert" ] || [ -z "$password_file" ]; }; then
    fail "signing needs both --sign CERT.p12 and --password-file FILE"
fi
# Paths given are the caller's, made absolute before the build moves to the sources' root.
[ -z "$cert" ] || cert=$(realpath -m -- "$cert")
[ -z "$password_file" ] || password_file=$(realpath -m -- "$password_file")
cd "$root"

# The certificate and its password are checked before the build, so a mistake costs no wait.
mkdir -p "$build"
if [ -n "$cert" ]; then
    scripts/install-packages.sh osslsigncode openssl
    [ -f "$cert" ] || fail "no certificate at $cert"
    [ -f "$password_file" ] || fail "no password file at $password_file"
    scratch=$(mktemp -d "$build/signing.XXXXXX")
    trap 'rm -rf "$scratch"' EXIT
    # One clear line for a wrong password or a file that is no PKCS#12. Its certificates then
    # serve as trust anchors for the check after signing, so a self-signed one verifies too.
    openssl pkcs12 -in "$cert" -passin "file:$password_file" -nokeys -out "$scratch/certs.pem" \
        2>/dev/null || fail "cannot open $cert with the password in $password_file"
    cat /etc/ssl/certs/ca-certificates.crt >>"$scratch/certs.pem" 2>/dev/null || true
else
    scripts/install-packages.sh
fi
# No SOURCE_DATE_EPOCH is needed: the flags in CMakeLists.txt leave every date out.
cmake --preset mingw -B "$build" -DMOSSHARBOR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target mossharbor-updater >/dev/null
exe=$build/bin/mossharbor-updater.exe
sha256sum "$exe"
[ -n "$cert" ] || exit 0

# Its first complaint says why (a time-stamp server out of reach, say); the rest is OpenSSL's.
first_complaint() {
    grep -i -m 1 -e failure -e error -e unable -e invalid "$scratch/log" || tail -n 1 "$scratch/log"
}
set -- -pkcs12 "$cert" -readpass "$password_file" -h sha256 -n "MossHarbor Updater"
[ -z "$timestamp" ] || set -- "$@" -ts "$timestamp"
osslsigncode sign "$@" -in "$exe" -out "$scratch/signed.exe" >"$scratch/log" 2>&1 ||
    fail "signing failed: $(first_complaint)"
osslsigncode verify -CAfile "$scratch/certs.pem" -in "$scratch/signed.exe" >"$scratch/log" 2>&1 ||
    fail "the signed exe does not verify: $(first_complaint)"
mkdir -p "$build/signed"
mv "$scratch/signed.exe" "$signed"
sha256sum "$signed"
