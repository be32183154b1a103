#!/bin/sh
# Creates a Wine prefix once. Usage: make-wineprefix.sh PREFIX null|x11 [TAR_EXE]
# "null" selects Wine's headless graphics driver: windows and message boxes work without any
# X server. "x11" keeps the default driver for real pixels on a (virtual) display.
# TAR_EXE (a Windows bsdtar.exe) becomes the prefix's System32\tar.exe, where Windows 10 and 11
# keep theirs; Wine has none. It is copied on every call, so a rebuilt one reaches an old prefix.
set -eu
prefix=$1
driver=${2:-null}
tar_exe=${3:-}
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
if [ -n "$tar_exe" ]; then
    # A 64-bit program's System32 is drive_c/windows/system32 (32-bit ones see syswow64).
    cp "$tar_exe" "$prefix/drive_c/windows/system32/tar.exe"
fi
touch "$prefix/.created"
