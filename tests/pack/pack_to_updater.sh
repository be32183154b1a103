#!/bin/sh
# A game folder with names beyond ASCII, packed as pax tar and as zip, each installed by the real
# updater under Wine with the real tar.exe: every file must arrive under its own name, and the
# version packed must become the installation's. A copy of the folder written in another order,
# with other times and modes, must pack to the same bytes.
# Usage: pack_to_updater.sh SOURCE_DIR BUILD_DIR
set -eu
root=$1 build=$2
work=$(mktemp -d "$build/pack-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
windows_path() { echo "Z:$1" | tr / '\\'; }
names='Nörvane.exe
data/дир/漢字/файл.pak
data/Crème brûlée/ça.txt
data/a/b/c/d/deep.bin'
echo "$names" | while read -r name; do
    mkdir -p "$work/game/$(dirname "$name")" "$work/copy/$(dirname "$name")"
    echo "$name" >"$work/game/$name"
done
echo "$names" | sort -r | while read -r name; do echo "$name" >"$work/copy/$name"; done
find "$work/copy" -exec touch -d @86400 {} + -exec chmod go-rwx {} +

for kind in tar zip; do
    option=$([ $kind = tar ] || echo --zip)
    line=$("$root/scripts/pack-update.sh" $option "$work/game" 1.5.0 "$work/u.$kind" | tail -n 1)
    again=$("$root/scripts/pack-update.sh" $option "$work/copy" 1.5.0 "$work/c.$kind" | tail -n 1)
    [ "${line%% *}" = "${again%% *}" ] || fail "$kind: the same files packed to other bytes"
    python3 -c 'import sys, tarfile, zipfile; a = sys.argv[1]
n = tarfile.open(a).getnames() if a.endswith("tar") else zipfile.ZipFile(a).namelist()
sys.exit(n != sorted(n))' "$work/u.$kind" || fail "$kind: entries not in sorted order"

    install=$work/install-$kind
    mkdir -p "$install/update"
    cp "$build/bin/tests/fake-client.exe" "$install/Norvane.exe"
    MOSSHARBOR_TEST_ROAMING_FOLDER=$(windows_path "$work/roaming") "$build/wine-run.sh" \
        "$build/bin/tests/mossharbor-updater-under-test.exe" 0 "$(windows_path "$work/u.$kind")" \
        "$(windows_path "$install")" Norvane.exe || fail "$kind: updater exit code $?"
    lost=$(cd "$work/game" && find . -type f ! -exec cmp -s {} "$install/{}" \; -print)
    [ -z "$lost" ] || fail "$kind: not installed intact: $lost"
    [ "$(cat "$install/norvane_version.txt")" = 1.5.0 ] || fail "$kind: version not recorded"
done
