#!/bin/sh
# The shipping exe asks the shell for the player's roaming folder, where the test build is handed
# one. An update that brings its own launcher settings, run by it in a copy of the tests' Wine
# prefix, must install and leave the player's settings in one place only: the per-user folder if
# the shell gives one that takes them, else the backup, for a later run to migrate.
# Usage: roaming_test.sh SOURCE_DIR BUILD_DIR
set -eu
root=$1 build=$2
work=$(mktemp -d "$build/roaming-test.XXXXXX")
# Wine's server keeps its socket below TMPDIR.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all TMPDIR="$work" && unset DISPLAY
trap 'wineserver -k 2>/dev/null || :; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work" && mkdir game && echo "the update's own" >game/norvane_launcher.cfg
"$root/scripts/pack-update.sh" game 2.0 game.tar >/dev/null
# The tests' prefix, but for the scratch folders that other tests fill and empty meanwhile, with
# the system's 600 MB hard-linked: written anew, they would make every flush of the updater wait
# for them. The copy's Desktop, Documents... are links to the real home folder, where a wrong
# shell folder would be written; Debian's Wine names the original's server folder in `wineserver`.
mkdir prefix && system=./drive_c/windows/system32
tar -C "$build/wineprefix" --exclude="$system" --exclude='./drive_c/users/*/Temp/*' -cf - . |
    tar -C prefix -xf -
cp -al "$build/wineprefix/$system" "prefix/$system"
rm -f prefix/wineserver && find prefix/drive_c/users -type l -delete
wineserver -p10  # kept between the runs: each new server costs seconds
z=$(winepath -w "$work") roam=$(echo prefix/drive_c/users/*/AppData/Roaming)
mine="the player's settings"
# CASE  WHERE THE SETTINGS END UP  THE ROAMING FOLDER (a REG_EXPAND_SZ, as redirection writes it)
while read -r case want folder; do
    rm -rf "$roam" redirected install && mkdir -p install/update && cp game.tar u.tar
    [ "$case" = none ] || echo "$mine" >install/norvane_launcher.cfg
    [ "$case" = missing ] || mkdir "$roam"  # missing: deleted by the player or a cleaning tool
    [ "$case" != refused ] || : >"$roam/Norvane"
    wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders' \
        /v AppData /t REG_EXPAND_SZ /d "$folder" /f >/dev/null
    # No test hooks: a failed update would wait for an Esc.
    timeout -k 5 60 wine "$build/bin/mossharbor-updater.exe" 0 u.tar install none.exe \
        >/dev/null 2>&1 || fail "$case: exit $? (124: still running after 60 s): $(find install)"
    found=$(grep -rlx "$mine" install redirected prefix/drive_c/users/*/AppData 2>/dev/null || :)
    # none: no settings to migrate, yet the launcher's own folder is made for it to save in.
    { [ "$found" = "$want/norvane_launcher.cfg" ] || [ "$case$found" = none -a -d "$want" ]; } &&
        [ "$(cat install/norvane_version.txt)" = 2.0 ] ||
        fail "$case: version $(cat install/norvane_version.txt), the player's settings: $found"
done <<EOF
missing     $roam/Norvane              %USERPROFILE%\\AppData\\Roaming
redirected  redirected/Roaming/Norvane $z\\redirected\\Roaming
refused     install/update/backup_0    %USERPROFILE%\\AppData\\Roaming
unreachable install/update/backup_0    $z\\game\\norvane_launcher.cfg\\Roaming
none        $roam/Norvane              %USERPROFILE%\\AppData\\Roaming
EOF
