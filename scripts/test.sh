#!/bin/sh
# The whole test suite: installs what is missing, cross-builds, runs every test under Wine.
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw
ctest --preset mingw "$@"
