#!/bin/sh
# The release command run from a copy of the sources in another folder must make the very exe the
# test build made here. Signed with a throwaway certificate it must be that exe again without its
# signature and still run an update. Every mistake and failure must then say why, and leave no
# exe where the signed one goes, not even one from an earlier run.
# Usage: release_test.sh SOURCE_DIR BUILD_DIR
set -eu
root=$1 build=$2
work=$(mktemp -d "$build/release-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
copy=$work/elsewhere/mossharbor && mkdir -p "$copy" && release=$copy/scripts/release.sh
(cd "$root" && git ls-files -co --exclude-standard -z | xargs -0 cp --parents -t "$copy")
"$release" | tail -n 1 | grep -q "$(sha256sum <"$build/bin/mossharbor-updater.exe" | cut -c -64)" ||
    fail "the same sources built another exe in another folder"

# Certificates for signing code, and for web servers only: that one signs but cannot verify.
cd "$work" && echo 'test password' >pw && echo wrong >wrong
for use in codeSigning serverAuth; do
    openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=MossHarbor-test -days 2 -keyout key.pem \
        -addext "extendedKeyUsage=$use" -out $use.pem 2>/dev/null
    openssl pkcs12 -export -inkey key.pem -in $use.pem -out $use.p12 -passout file:pw
done
signed=$copy/build/release/signed/mossharbor-updater.exe
line=$("$release" --sign codeSigning.p12 --password-file pw | tail -n 1)
[ "$line" = "$(sha256sum "$signed")" ] || fail "not the signed exe's hash last: $line"
# Windows distrusts a signature made with a weak digest, even one that verifies.
osslsigncode verify -CAfile codeSigning.pem -in "$signed" | grep -q "^Message digest algorithm: SHA256" ||
    fail "the signature's digest is not SHA-256"
osslsigncode remove-signature -in "$signed" -out unsigned.exe >/dev/null
cmp -s unsigned.exe "$build/bin/mossharbor-updater.exe" || fail "signed another exe"
# The signed exe has no test hooks: a failed update would leave its window waiting for an Esc.
mkdir -p game install/update && "$root/scripts/pack-update.sh" game 2.0 u.tar >/dev/null
timeout --foreground -k 5 30 "$build/wine-run.sh" "$signed" 0 u.tar install none.exe &&
    [ "$(cat install/norvane_version.txt)" = 2.0 ] ||
    fail "the signed exe did not update: exit $? (124: still running after 30 s, so killed)"

refused() {  # EXIT-CODE/LINES WHY ARGUMENTS..., each after a stand-in for an earlier signed exe
    : >"$signed" && want=$1 why=$2 code=0 && shift 2 && "$release" "$@" >/dev/null 2>out || code=$?
    [ "$code/$(wc -l <out)" = "$want" ] && grep -q "$why" out && [ ! -e "$signed" ] ||
        fail "release.sh $*: exit $code, $(cat out), signed exe: $(ls "$signed" 2>&1)"
}
for a in --sign --password-file --timestamp "--timestamp x" "--sign x"; do refused 1/1 need $a; done
refused 2/4 "^# Usage: scripts/release.sh" --sign codeSigning.p12 --password-file pw --zip
refused 1/1 "no certificate at $work/none" --sign none --password-file pw
refused 1/1 "no password file at $work/none" --sign codeSigning.p12 --password-file none
refused 1/1 "cannot open $work/codeSigning.p12" --sign codeSigning.p12 --password-file wrong
# A time-stamp server that keeps the request and answers nothing: the request's digest too must be
# SHA-256.
python3 -c 'import http.server as h; k = lambda s: open("tsq", "wb").write(s.rfile.read(int(s.headers["Content-Length"])))
h.HTTPServer(("127.0.0.1", 38461), type("", (h.BaseHTTPRequestHandler,), {"do_POST": k})).handle_request()' 2>/dev/null &
refused 1/1 "signing failed: HTTP" --sign codeSigning.p12 --password-file pw --timestamp \
    http://127.0.0.1:38461/
openssl ts -query -in tsq -text | grep -q "Hash Algorithm: sha256" ||
    fail "the time stamp request's digest is not SHA-256"
refused 1/1 "the signed exe does not verify" --sign serverAuth.p12 --password-file pw
