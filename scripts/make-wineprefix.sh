#!/bin/sh
# Creates a Wine prefix once. Usage: make-wineprefix.sh PREFIX null|x11
# "null" selects Wine's headless graphics driver: windows and message boxes work without any
# X server. "x11" keeps the default driver for real pixels on a (virtual) display.
set -eu
prefix=$1
driver=${2:-null}
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/.created" ]; then
    mkdir -p "$prefix"
    if [ "$driver" = null ]; then unset DISPLAY; fi
    wine wineboot --init >/dev/null 2>&1 || true
    wineserver -w
fi
if [ "$driver" = null ]; then
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
else
    wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1 || true
fi
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
touch "$prefix/.created"
