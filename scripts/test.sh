#!/bin/sh
# The whole test suite: installs what is missing, cross-builds, runs every test under Wine.
set -eu
cd "$(dirname "$0")/.."
# The shipping tests also pack with Python and sign with a throwaway certificate.
scripts/install-packages.sh python3 osslsigncode openssl
cmake --preset mingw >/dev/null
cmake --build --preset mingw
ctest --preset mingw "$@"
