#!/bin/sh
# Runs a command with a 2 MB disk mounted at the extraction folder of an installation in DIR,
# whose Windows path it exports as MOSSHARBOR_TEST_SMALL_DISK. Mounting needs root; without it
# the command runs alone and the test that needs the disk skips itself.
# Usage: with_small_disk.sh DIR COMMAND...
dir=$1
shift
mountpoint=$dir/install/update/extract
umount "$mountpoint" 2>/dev/null
rm -rf "$dir"
mkdir -p "$mountpoint"
if mount -t tmpfs -o size=2m mossharbor-small-disk "$mountpoint" 2>/dev/null; then
    MOSSHARBOR_TEST_SMALL_DISK="Z:$(printf '%s' "$dir/install" | tr / '\\')"
    export MOSSHARBOR_TEST_SMALL_DISK
    "$@"
    status=$?
    umount "$mountpoint"
    rm -rf "$dir"
    exit $status
fi
exec "$@"
