#!/bin/sh
# A game folder with names beyond ASCII, packed as pax tar and as zip, each installed by the real
# updater under Wine with the real tar.exe: every file must arrive under its own name and the
# version packed must become the installation's. A copy with other times and modes must pack to
# the same bytes. Then a folder the packer must refuse.
# Usage: pack_test.sh SOURCE_DIR BUILD_DIR
set -eu
pack=$1/scripts/pack-update.sh build=$2
work=$(mktemp -d "$build/pack-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
for name in Nörvane.exe data/дир/漢字/файл.pak "data/Crème brûlée/ça.txt" data/a/b/c/d/e.bin; do
    mkdir -p "$work/game/$(dirname "$name")" && echo "$name" >"$work/game/$name"
done
cp -R "$work/game" "$work/copy"
find "$work/copy" -exec touch -d @86400 {} + -exec chmod go-rwx {} +
export MOSSHARBOR_TEST_ROAMING_FOLDER=roaming

for kind in tar zip; do
    option=$([ $kind = tar ] || echo --zip)
    line=$("$pack" $option "$work/game" 1.5.0 "$work/u.$kind" | tail -n 1)
    again=$("$pack" $option "$work/copy" 1.5.0 "$work/c.$kind" | tail -n 1)
    [ "${line%% *}" = "${again%% *}" ] || fail "$kind: the same files packed to other bytes"
    install=$work/install-$kind
    mkdir -p "$install/update" && cd "$work"
    "$build/wine-run.sh" "$build/bin/tests/mossharbor-updater-under-test.exe" 0 u.$kind \
        "install-$kind" Norvane.exe || fail "exit $?"
    lost=$(cd "$work/game" && find . -type f ! -exec cmp -s {} "$install/{}" \; -print)
    [ -z "$lost" ] || fail "$kind: not installed intact: $lost"
    [ "$(cat "$install/norvane_version.txt")" = 1.5.0 ] || fail "$kind: version not recorded"
done

# c.tar holds the same bytes as u.tar, which the updater deleted once installed.
python3 -c 'import sys, tarfile; n = tarfile.open(sys.argv[1]).getnames(); sys.exit(n != sorted(n))' \
    "$work/c.tar" || fail "entries not in sorted order"

# Every kind of entry the packer must refuse, beside a good one: each named on a line of its own.
tab=$(printf '\t')
mkdir -p "$work/bad/data" && cd "$work/bad/data"
ln -s /etc link && mkfifo pipe && echo 1.4.0 >../norvane_client_pending_version.txt
touch ok.pak OK.pak aux.txt 'a<b' "tab${tab}name" trailing. 'trailing '
! "$pack" "$work/bad" 1.5.0 "$work/r.tar" >"$work/out" 2>&1 && [ ! -e "$work/r.tar" ] &&
    [ "$(wc -l <"$work/out")" -eq 9 ] || fail "not refused as it should be: $(cat "$work/out")"
for path in data/link data/pipe norvane_client_pending_version.txt data/ok.pak data/aux.txt \
    'data/a<b' "data/tab${tab}name" data/trailing. 'data/trailing '; do
    grep -qF "$work/bad/$path:" "$work/out" || fail "not refused by its name: $path"
done
