#!/bin/sh
# A game folder with names beyond ASCII, packed as pax tar and as zip, each installed by the real
# updater under Wine with the real tar.exe: every file must arrive under its own name and the
# version packed must become the installation's. A copy with other times and modes must pack to
# the same bytes, whose hash is the one printed. Then every way packing must fail.
# Usage: pack_test.sh SOURCE_DIR BUILD_DIR
set -eu
pack=$1/scripts/pack-update.sh build=$2
work=$(mktemp -d "$build/pack-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work" && mkdir -p install-tar/update install-zip/update
for name in Nörvane.exe data/дир/漢字/файл.pak "data/Crème brûlée/ça.txt" data/a/b/c/d/e.bin; do
    mkdir -p "game/$(dirname "$name")" && echo "$name" >"game/$name"
done
cp -R game copy && find copy -exec touch -d @86400 {} + -exec chmod go-rwx {} +
# A failed update ends the updater at once, where its window would wait for an Esc.
export MOSSHARBOR_TEST_ROAMING_FOLDER=roaming MOSSHARBOR_TEST_EXIT_ON_FAILURE=1

# "--${kind#tar}" is --zip for a zip and, for a tar, just the end of the options.
for kind in tar zip; do
    [ "$("$pack" --${kind#tar} game 1.5.0 u.$kind | tail -n 1)" = "$(sha256sum u.$kind)" ] &&
        "$pack" --${kind#tar} copy 1.5.0 c.$kind >/dev/null && cmp -s u.$kind c.$kind ||
        fail "$kind: not the archive's hash printed, or other bytes from the same files"
    "$build/wine-run.sh" "$build/bin/tests/mossharbor-updater-under-test.exe" 0 u.$kind \
        install-$kind Norvane.exe || fail "$kind: the update failed, exit $?"
    ! (cd game && find . -type f ! -exec cmp -s {} "../install-$kind/{}" \; -print | grep .) &&
        [ "$(cat install-$kind/norvane_version.txt)" = 1.5.0 ] || fail "$kind: not installed intact"
done

# c.tar holds the same bytes as u.tar, which the updater deleted once installed.
python3 -c 'import tarfile; m = tarfile.open("c.tar").getmembers(); n = [i.name for i in m]
fixed = {(i.mtime, i.uid, i.mode - i.isdir() * 0o111) for i in m} == {(946684800, 0, 0o644)}
exit(n != sorted(n) or not fixed)' || fail "entries unsorted, or times, owners or modes not fixed"

# A zip holds times from 1980 to 2107 only: a SOURCE_DATE_EPOCH beyond either packs the nearest.
for t in -1/1980 99999999999/2107; do
    SOURCE_DATE_EPOCH=${t%/*} "$pack" --zip game 1.5.0 t.zip >/dev/null && python3 -c 'import sys, zipfile
exit({i.date_time[0] for i in zipfile.ZipFile("t.zip").infolist()} != {int(sys.argv[1])})' ${t#*/} ||
        fail "SOURCE_DATE_EPOCH=${t%/*}: not packed as of ${t#*/}"
done

# Each failure ends with exit code 1 and lines saying why, and leaves no archive, whole or part.
mkdir -p bad/data dir/norvane_client_pending_version.txt && cd bad/data
ln -s /etc link && mkfifo pipe && echo 1.4.0 >../norvane_client_pending_version.txt
touch ok.pak OK.pak aux.txt 'a<b' "$(printf 'tab\tname')" trailing. 'trailing '
cd "$work" && files=$(find . | sort)
refused() {  # WHY COMMAND...
    why=$1 && shift && "$@" >/dev/null 2>out && code=0 || code=$?
    [ $code = 1 ] && grep -qF "$why" out && ! grep -qv '^pack_update: ' out &&
        [ "$(find . ! -name out | sort)" = "$files" ] || fail "$*: exit $code, $(cat out)"
}
refused "nothing: no such folder" "$pack" nothing 1.5.0 x.tar
for v in '' 1/5 ' 1.5' 1.5. a:b; do refused "version '$v' cannot" "$pack" game "$v" x.tar; done
refused "lies inside" "$pack" game 1.5.0 game/data/x.tar
refused "is not a file" "$pack" dir 1.5.0 x.tar
refused "cannot write x.tar" sh -c 'ulimit -f 4 && exec "$0" "$@"' "$pack" game 1.5.0 x.tar
refused SOURCE_DATE_EPOCH env SOURCE_DATE_EPOCH=soon "$pack" game 1.5.0 x.tar
# Every kind of entry the packer must refuse, beside a good one: each named on a line of its own.
refused bad/ "$pack" bad 1.5.0 x.tar
[ "$(sed 's/^pack_update: \(.*\): .*/\1/' out | sort)" = "$(printf 'bad/%s\n' data/link data/pipe \
    norvane_client_pending_version.txt data/ok.pak data/aux.txt 'data/a<b' data/trailing. \
    'data/trailing ' "data/tab$(printf '\t')name" | sort)" ] || fail "not each named: $(cat out)"
