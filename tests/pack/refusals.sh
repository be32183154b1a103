#!/bin/sh
# Folders the packer must refuse: each row makes one bad entry (the path after the %) beside a
# good one, and the packer must fail naming that path and write no archive.
# Usage: refusals.sh SOURCE_DIR BUILD_DIR
set -eu
root=$1
work=$(mktemp -d "$2/pack-refusals.XXXXXX")
trap 'rm -rf "$work"' EXIT
while IFS=% read -r make path; do
    rm -rf "$work/game"
    mkdir -p "$work/game/data"
    echo ok >"$work/game/data/ok.pak"
    (cd "$work/game" && eval "$make \"\$path\"")
    if "$root/scripts/pack-update.sh" "$work/game" 1.5.0 "$work/u.tar" >"$work/out" 2>&1 ||
        ! grep -qF "$work/game/$path" "$work/out" || [ -e "$work/u.tar" ]; then
        echo "FAIL: not refused by its name: $make $path" >&2
        cat "$work/out" >&2
        exit 1
    fi
done <<'ROWS'
ln -s /etc %data/link
mkfifo %data/pipe
touch %data/aux.txt
touch %data/Com7
touch %data/lpt1.tar.gz
touch %data/a<b
touch %data/what?
touch %data/back\slash
touch %data/tab	name
touch %data/trailing.
touch %data/trailing 
touch %data/OK.pak
mkdir %DATA
echo 1.4.0 >%norvane_client_pending_version.txt
touch %Norvane_Client_Pending_Version.TXT
ROWS
