#!/bin/sh
# Installs the Debian/Ubuntu packages the build, the tests and the demo need, if any is missing.
set -eu
packages="cmake ninja-build mingw-w64 g++-mingw-w64-x86-64 wine wine64 googletest xvfb imagemagick xauth $*"
missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        SUDO=sudo
    else
        echo "These packages are missing and installing them needs root:$missing" >&2
        echo "Run this command as root, or install them with: apt-get install$missing" >&2
        exit 1
    fi
else
    SUDO=
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
