#!/bin/sh
# Runs a command with a 2 MB disk mounted at the update folder of an installation in DIR, whose
# Windows path it exports as MOSSHARBOR_TEST_SMALL_DISK, and a 3 MB one holding the whole of
# DIR/whole, exported as MOSSHARBOR_TEST_SMALL_DISK_WHOLE. What an earlier run put aside on the
# first holds a directory link to DIR/library, which only the host can make: Wine's own links are
# stubs.
# Mounting needs root; without it the command runs alone and the test that needs the disk skips
# itself.
# Usage: with_small_disk.sh DIR COMMAND...
dir=$1 mountpoint=$1/install/update
shift
# A run ended at its timeout left its disks mounted, maybe one over another.
while umount "$mountpoint" 2>/dev/null; do :; done
while umount "$dir/whole" 2>/dev/null; do :; done
rm -rf "$dir" && mkdir -p "$mountpoint" "$dir/library" "$dir/whole"
mount -t tmpfs -o size=2m mossharbor-small-disk "$mountpoint" 2>/dev/null || exec "$@"
mount -t tmpfs -o size=3m mossharbor-small-disk "$dir/whole"
trap 'umount "$mountpoint" "$dir/whole"; rm -rf "$dir"' EXIT
export MOSSHARBOR_TEST_SMALL_DISK="Z:$(printf '%s' "$dir/install" | tr / '\\')"
export MOSSHARBOR_TEST_SMALL_DISK_WHOLE="Z:$(printf '%s' "$dir/whole/install" | tr / '\\')"
echo kept >"$dir/library/favourite.ogg"
mkdir -p "$mountpoint/replaced/leftover"
ln -s "$dir/library" "$mountpoint/replaced/leftover/library"
"$@"
