#!/bin/sh
# The updater's whole job, for real: a sample Norvane installation is updated while you watch.
# Installs what is missing, builds, then runs the real mossharbor-updater.exe under Wine in a
# real window (on a virtual X server when there is no display), the way the launcher starts
# it, and saves screenshots of the window. Everything it makes stays in demo-output/.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
started=$(date +%s)

scripts/install-packages.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw >/dev/null
bin=$root/build/mingw/bin
tar_exe=$root/build/mingw/bsdtar/bsdtar.exe
scripts/build-bsdtar.sh "$(dirname "$tar_exe")"

out=$root/demo-output
rm -rf "$out"
mkdir -p "$out/screenshots"
sample=$out/sample
install="$sample/Norvane Game"
export WINEPREFIX="$out/wineprefix"
export WINEDEBUG=-all

. "$root/scripts/virtual-display.sh"
. "$root/scripts/client-pid.sh"
cleanup() {
    wineserver -k 2>/dev/null || true
    stop_virtual_display
}
trap cleanup EXIT
trap 'exit 1' INT TERM

if [ -z "${DISPLAY:-}" ]; then
    start_virtual_display
    echo "Virtual display $DISPLAY"
fi
echo "Preparing a Wine prefix for the demo (first time: up to a minute)..."
scripts/make-wineprefix.sh "$WINEPREFIX" x11 "$tar_exe"

windows_path() { echo "Z:$1" | tr / '\\'; }

echo "Creating the sample installation (version 1.4.2) and the update archive (1.5.0)..."
mkdir -p "$install/update" "$install/bin" "$install/data/audio" "$install/data/assets/arrow" \
         "$install/data/assets/audio"
cp "$bin/tests/fake-client.exe" "$install/Norvane.exe"
echo "1.4.2" >"$install/norvane_version.txt"
printf 'resolution=1920x1080\nlanguage=de\n' >"$install/norvane_launcher.cfg"
echo "old engine" >"$install/bin/engine.dll"
echo "my own soundtrack mix" >"$install/data/audio/music.ogg"
echo "my recorded voice line" >"$install/data/audio/my_voice.ogg"
echo "my custom arrow skin" >"$install/data/assets/arrow/arrow.png"

package=$sample/package/Norvane-1.5.0
mkdir -p "$package/bin" "$package/data/audio" "$package/data/assets/arrow"
echo "1.5.0" >"$package/norvane_client_pending_version.txt"
echo "new engine" >"$package/bin/engine.dll"
echo "stock soundtrack" >"$package/data/audio/music.ogg"
echo "new ambience" >"$package/data/audio/ambience.ogg"
echo "stock arrow" >"$package/data/assets/arrow/arrow.png"
for area in maps textures models shaders; do
    for n in $(seq -w 1 150); do
        mkdir -p "$package/content/$area"
        echo "$area $n of Norvane 1.5.0" >"$package/content/$area/$area-$n.pak"
    done
done
head -c 20000000 /dev/zero >"$package/content/world.bin"
mkdir -p "$sample/downloads"
tar --format=ustar -C "$sample/package" -cf "$sample/downloads/norvane-1.5.0.tar" Norvane-1.5.0
# The pending version file is renamed, not installed under its own name.
files_in_update=$(find "$package" -type f ! -name norvane_client_pending_version.txt | wc -l)

echo "Starting the sample client; it exits by itself after 4 seconds..."
wine "$install/Norvane.exe" --until-file "$(windows_path "$out/client-may-exit")" \
    >"$out/client-pid" 2>/dev/null &
(sleep 4 && touch "$out/client-may-exit") &
client_pid=$(wait_for_client_pid "$out/client-pid" 200)

echo "Starting mossharbor-updater.exe $client_pid ... (the launcher's command line)"
update_started=$(date +%s)
wine "$bin/mossharbor-updater.exe" "$client_pid" \
    "$(windows_path "$sample/downloads/norvane-1.5.0.tar")" \
    "$(windows_path "$install")" "$(windows_path "$install/Norvane.exe")" >/dev/null 2>&1 &
updater=$!

# The 480 x 215 window is centred on the 1280 x 720 screen; a picture every half second.
shot=0
while kill -0 "$updater" 2>/dev/null; do
    sleep 0.5
    shot=$((shot + 1))
    name=$(printf '%s/screenshots/%03d.png' "$out" "$shot")
    import -display "$DISPLAY" -window root -crop 480x215+400+252 +repage "$name" 2>/dev/null || true
done
set +e
wait "$updater"
exit_code=$?
set -e
update_seconds=$(( $(date +%s) - update_started ))
# Remove the shots taken after the window had closed (plain background).
for picture in "$out"/screenshots/*.png; do
    colours=$(convert "$picture" -format '%k' info: 2>/dev/null || echo 0)
    [ "$colours" -gt 2 ] || rm -f "$picture"
done

tries=0
until [ -f "$install/client_started.txt" ] || [ $tries -ge 50 ]; do
    tries=$((tries + 1)); sleep 0.1
done

kept() {
    if [ "$(cat "$install/$1")" = "$2" ]; then echo "kept"; else echo "LOST"; fi
}
roaming_config=$(find "$WINEPREFIX/drive_c/users" -path '*AppData/Roaming/Norvane/norvane_launcher.cfg' | head -n 1)
installed=$(cd "$package" && find . -type f ! -name norvane_client_pending_version.txt |
    while read -r f; do
    [ -f "$install/$f" ] && echo "$f"; done | wc -l)
cat <<SUMMARY

What the update changed
  Updater exit code:        $exit_code (after ${update_seconds} s)
  Version before / after:   1.4.2 / $(cat "$install/norvane_version.txt" 2>/dev/null || echo "?")
  Files of the update:      $installed of $files_in_update installed
  Engine:                   $(cat "$install/bin/engine.dll")
  Player's soundtrack mix:  $(kept data/audio/music.ogg "my own soundtrack mix")
  Player's voice line:      $(kept data/audio/my_voice.ogg "my recorded voice line")
  Player's arrow skin:      $(kept data/assets/arrow/arrow.png "my custom arrow skin")
  New file from the update: data/audio/ambience.ogg $( [ -f "$install/data/audio/ambience.ogg" ] && echo "arrived" || echo "MISSING")
  Launcher settings:        $( [ -n "$roaming_config" ] && echo "copied to the player's roaming folder" || echo "NOT migrated")
  Downloaded archive:       $( [ -f "$sample/downloads/norvane-1.5.0.tar" ] && echo "still there" || echo "deleted")
  Working folders left:     $(ls -A "$install/update" | wc -l)
  Client relaunched:        $( [ -f "$install/client_started.txt" ] && printf "yes, in %s" "$(cat "$install/client_started.txt")" || echo "NO")
  Screenshots:              $(ls "$out/screenshots" | wc -l) in demo-output/screenshots/
  Demo took:                $(( $(date +%s) - started )) s in all
SUMMARY
