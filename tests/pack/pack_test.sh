#!/bin/sh
# A game folder with names beyond ASCII, packed as pax tar and as zip, each installed by the real
# updater under Wine with the real tar.exe: every file must arrive under its own name and the
# version packed must become the installation's. A copy with other times and modes must pack to
# the same bytes, whose hash is the one printed. Then every way packing must fail, and a file
# past 4 GiB.
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
mkdir -p bad/data bad/d dir/norvane_client_pending_version.txt && cd bad/data
ln -s /etc link && mkfifo pipe && echo 1.4.0 >../norvane_client_pending_version.txt
touch ok.pak OK.pak trailing. 'trailing ' 'Nul .txt' "$(printf 'x\377')"
printf '%s\n' norvane_client_pending_version.txt data/link data/pipe data/ok.pak data/trailing. \
    'data/trailing ' 'data/Nul .txt' 'data/x\xff' >../../named
# Names only like a device's, which Windows lets be: refusing them would be as wrong.
touch COM0 LPT0.txt com10 LPT1x console.txt auxiliary a.prn 'COM⁴' 'lpt¹¹'
# Every device name, as a file and as a folder, bare and with extensions, in three cases; and
# every character refused (a control character is shown as \xNN).
for n in CON PRN AUX NUL $(for d in 1 2 3 4 5 6 7 8 9 ¹ ² ³; do echo COM$d LPT$d; done); do
    l=$(echo $n | tr A-Z a-z) m=$(echo $n | sed 's/./\l&/2')
    touch $n $m.txt && mkdir ../d/$l ../d/$l.tar.gz && echo data/$n data/$m.txt d/$l d/$l.tar.gz
done | tr ' ' '\n' >>../../named
for i in $(seq 31) 34 42 58 60 62 63 92 124; do
    c=$(printf "\\$(printf %o $i)/") && touch "a${c%/}b"
    [ $i -gt 31 ] || c=$(printf '\\x%02x/' $i) && printf 'data/a%sb\n' "${c%/}" >>../../named
done
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
[ "$(sed 's/^pack_update: \(.*\): .*/\1/' out | sort)" = "$(sed 's|^|bad/|' named | sort)" ] ||
    fail "not each named, or more: $(cat out)"

# A game file past 4 GiB, the most a zip holds without zip64 fields, packed in at most 900 MB of
# memory: its size read back exact from the headers, the zip's local one too, which a reader from
# a pipe goes by. Sparse, so only the archives take room.
mkdir big && truncate -s $(((4 << 30) + 4097)) big/huge.pak
for kind in tar zip; do
    sh -c 'ulimit -v 900000 && exec "$0" "$@"' "$pack" --${kind#tar} big 1.5.0 b.$kind >/dev/null &&
        python3 -c 'import struct, sys, tarfile, zipfile
f, size, name = sys.argv[1], (4 << 30) + 4097, "Norvane-1.5.0/huge.pak"
if f.endswith("tar"): exit(tarfile.open(f).getmember(name).size != size)
z = open(f, "rb"); i = zipfile.ZipFile(z).getinfo(name); z.seek(i.header_offset + 26)
local = z.read(sum(struct.unpack("<HH", z.read(4))))
exit(i.file_size != size or struct.pack("<HHQ", 1, 16, size) not in local)' b.$kind ||
        fail "$kind: a file of 4 GiB and 4097 bytes not packed whole"
done
