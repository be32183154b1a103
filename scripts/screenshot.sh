#!/bin/sh
# Saves a PNG of the progress window, run for real under Wine on a virtual X server.
#
# Usage: scripts/screenshot.sh STATE OUTPUT.png [BUILD_DIR]
#   waiting                    the updater waiting for a client that never exits (2 %)
#   failed                     the updater given an archive that is not there:
#                              "Extraction failed. The archive may be corrupted." at 8 %
# BUILD_DIR defaults to build/mingw and must hold a finished build. Its prefix for this script,
# BUILD_DIR/wineprefix-x11, keeps Wine's X11 driver so the window has real pixels.
set -eu

if [ $# -lt 2 ]; then
    sed -n '4,11p' "$0" >&2
    exit 2
fi
state=$1
output=$2
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${3:-$root/build/mingw}" && pwd)
bin=$build/bin
settle=${SCREENSHOT_SETTLE_SECONDS:-4}

for tool in Xvfb import wine wineserver; do
    command -v "$tool" >/dev/null 2>&1 || {
        echo "$tool is missing: run scripts/install-packages.sh" >&2
        exit 1
    }
done
for exe in "$bin/mossharbor-updater.exe" "$bin/tests/fake-client.exe"; do
    [ -f "$exe" ] || { echo "$exe is missing: build first" >&2; exit 1; }
done

. "$root/scripts/virtual-display.sh"
. "$root/scripts/client-pid.sh"

export WINEPREFIX="$build/wineprefix-x11"
export WINEDEBUG=-all
scratch=$(mktemp -d)

cleanup() {
    wineserver -k 2>/dev/null || true
    stop_virtual_display
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

start_virtual_display

"$root/scripts/build-bsdtar.sh" "$build/bsdtar"
"$root/scripts/make-wineprefix.sh" "$WINEPREFIX" x11 "$build/bsdtar/bsdtar.exe"

windows_path() { echo "Z:$1" | tr / '\\'; }

case $state in
    waiting)
        wine "$bin/tests/fake-client.exe" --until-file 'Z:\never' >"$scratch/client-pid" 2>/dev/null &
        client_pid=$(wait_for_client_pid "$scratch/client-pid" 100)
        mkdir -p "$scratch/install/update"
        wine "$bin/mossharbor-updater.exe" "$client_pid" "$(windows_path "$scratch/update.tar")" \
            "$(windows_path "$scratch/install")" Norvane.exe >/dev/null 2>&1 &
        ;;
    failed)
        # No client to wait for, and no archive to unpack.
        mkdir -p "$scratch/install"
        wine "$bin/mossharbor-updater.exe" 99996 "$(windows_path "$scratch/update.tar")" \
            "$(windows_path "$scratch/install")" Norvane.exe >/dev/null 2>&1 &
        ;;
    *)
        echo "unknown state: $state" >&2
        exit 2
        ;;
esac

# The 480 x 215 popup is centred on the 1280 x 720 screen.
sleep "$settle"
import -display "$DISPLAY" -window root -crop 480x215+400+252 +repage "$output"
echo "Saved $output"
