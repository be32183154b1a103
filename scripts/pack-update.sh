#!/bin/sh
# Packs a game folder into an update archive for the updater: pack/pack_update.py does the work.
# Usage: scripts/pack-update.sh [--zip] GAME_FOLDER VERSION OUTPUT
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
command -v python3 >/dev/null 2>&1 || "$root/scripts/install-packages.sh" python3
exec python3 "$root/pack/pack_update.py" "$@"
