#!/bin/sh
# Builds bsdtar.exe, the tool Windows 10 and 11 ship as System32\tar.exe, from Debian's own
# libarchive source package, so the tests drive the real thing under Wine, which has no tar.exe.
# Usage: build-bsdtar.sh OUT_DIR     (does nothing while OUT_DIR/bsdtar.exe is current)
#
# The source comes through a private apt configuration in OUT_DIR, made from the machine's own
# mirrors and suites, so the machine's apt sources stay untouched and no other network is needed.
set -eu
[ $# -eq 1 ] || { echo "usage: $0 OUT_DIR" >&2; exit 2; }
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
mkdir -p "$1"
out=$(cd "$1" && pwd)
exe=$out/bsdtar.exe
stamp=$out/bsdtar.stamp
log=$out/build.log

# The demo, the benchmark and a build may ask for the same folder at once: one builds, the
# others then find the exe current.
exec 9>"$out/.lock"
flock 9

# A changed recipe makes a new exe. An unchanged one (the script only checked out again) just
# brings the exe's time past the script's, so a build system comparing the two is satisfied
# without making everything that uses the exe again.
recipe=$(sha256sum "$script" | cut -d' ' -f1)
if [ -f "$exe" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$recipe" ]; then
    if [ -n "$(find "$script" -newer "$exe")" ]; then touch "$exe"; fi
    exit 0
fi

"$(dirname "$script")/install-packages.sh" libz-mingw-w64-dev dpkg-dev make xz-utils

echo "Building bsdtar.exe from Debian's libarchive source (a few minutes; log: $log)"
started=$(date +%s)
rm -f "$exe" "$stamp"
: >"$log"
failed() {
    echo "Building bsdtar.exe failed ($1); the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
}

# deb-src twins of the machine's own entries for its release (CODENAME; empty: all of them):
# other mirrors, such as third-party repositories, may be out of reach and carry no libarchive.
apt=$out/apt
write_sources() {
    rm -rf "$apt"
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
    : >"$apt/sources.list"
    for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$list" ] || continue
        sed -n 's/^[[:space:]]*deb[[:space:]]\{1,\}/deb-src /p' "$list" | awk -v c="$1" '{
            for (i = 1; i <= NF; i++)
                if (c == "" || $i == c || index($i, c "-") == 1) { print; next }
        }' >>"$apt/sources.list"
    done
    for sources in /etc/apt/sources.list.d/*.sources; do
        [ -f "$sources" ] || continue
        # Field names are case-insensitive; continuation lines (an inline key) pass as they are.
        awk -v c="$1" '
            function flush() {
                if (n && keep) { for (i = 1; i <= n; i++) print lines[i]; print "" }
                n = 0; keep = 0
            }
            /^[[:space:]]*$/ { flush(); next }
            /^#/ { next }
            {
                field = tolower($1)
                if (field == "types:") { $0 = "Types: deb-src" }
                else if (field == "suites:") {
                    kept = ""
                    for (i = 2; i <= NF; i++)
                        if (c == "" || $i == c || index($i, c "-") == 1) kept = kept " " $i
                    if (kept != "") { $0 = "Suites:" kept; keep = 1 }
                }
                lines[++n] = $0
            }
            END { flush() }
        ' "$sources" >"$apt/sources.list.d/$(basename "$sources")"
    done
}
write_sources "$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")"
if ! cat "$apt"/sources.list "$apt"/sources.list.d/* 2>/dev/null | grep -q .; then
    write_sources ""
fi
cat "$apt"/sources.list "$apt"/sources.list.d/* >>"$log" 2>/dev/null || true
apt_options="-o Dir::Etc::SourceList=$apt/sources.list -o Dir::Etc::SourceParts=$apt/sources.list.d
 -o Dir::State::Lists=$apt/lists -o Dir::Cache=$apt/cache -o APT::Sandbox::User=root"
# One unreachable entry is no reason to stop while another one serves the source.
# shellcheck disable=SC2086
apt-get $apt_options update >>"$log" 2>&1 || true

src=$out/src
rm -rf "$src"
mkdir -p "$src"
# shellcheck disable=SC2086
(cd "$src" && apt-get $apt_options source --download-only libarchive) >>"$log" 2>&1 ||
    failed "no libarchive source from the machine's apt mirrors"
# apt has checked the files against the signed index already.
(cd "$src" && dpkg-source --no-check -x ./libarchive_*.dsc libarchive) >>"$log" 2>&1 ||
    failed "unpacking the source"

# The archives in question are .tar, .tar.gz and .zip: zlib is the one library linked in, so the
# exe needs nothing beyond Windows's own DLLs.
cd "$src/libarchive"
# Debian's patches touch configure.ac and Makefile.am only for the test lists and the pkg-config
# file, so the release's generated configure and Makefile.in still hold; dated back, they keep
# make from asking for automake.
touch -r aclocal.m4 configure.ac Makefile.am
./configure --host=x86_64-w64-mingw32 --disable-shared --enable-static \
    --enable-bsdtar=static --disable-bsdcpio --disable-bsdcat --without-openssl --without-xml2 \
    --without-expat --without-lzma --without-zstd --without-bz2lib --without-lz4 \
    --without-iconv --without-cng --without-nettle --without-mbedtls --disable-acl \
    --disable-xattr >>"$log" 2>&1 || failed "configure"
# libtool drops a plain -static when it links a program, and MinGW's ld then takes zlib's
# import library over its archive; -all-static reaches the linker.
make -j"$(nproc)" bsdtar.exe LDFLAGS=-all-static >>"$log" 2>&1 || failed "make"
x86_64-w64-mingw32-strip -o "$exe" bsdtar.exe

# A MinGW runtime DLL would be missing on the machines the tool stands in for.
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')
echo "imports: $dlls" >>"$log"
case $(echo "$dlls" | tr '[:upper:]' '[:lower:]') in
    *libgcc* | *libwinpthread* | *libstdc* | *zlib* | *libz* | *libarchive*)
        rm -f "$exe"
        failed "not static: $dlls"
        ;;
esac

cd "$out"
rm -rf "$src" "$apt"
echo "$recipe" >"$stamp"
echo "Built $exe in $(( $(date +%s) - started )) s"
