#!/usr/bin/env python3
"""Packs a Norvane game folder into an update archive the updater installs intact.

Usage: pack_update.py [--zip] GAME_FOLDER VERSION OUTPUT

The archive holds one top folder, Norvane-VERSION, with the pending version file in it. Names
travel as UTF-8 (pax tar, or zip with the UTF-8 flag): the players' tar.exe reads any other name
in their OEM code page. The same folder always gives the same bytes (sorted entries, fixed
owners, times and modes), so an archive can be checked against the folder it came from.
"""
import argparse
import hashlib
import io
import os
import shutil
import sys
import tarfile
import time
import zipfile

VERSION_FILE = "norvane_client_pending_version.txt"
# Windows opens the device, not a file, for these names, whatever the extension. Its digit test
# takes the superscripts ¹ ² ³ too, but not 0: COM0 and COM10 are files.
RESERVED_NAMES = {"CON", "PRN", "AUX", "NUL"} | {f"{port}{n}" for port in ("COM", "LPT")
                                                 for n in "123456789¹²³"}
FORBIDDEN_CHARACTERS = set('<>:"|?*\\')
# Any constant does (2000-01-01 UTC); a zip holds times from 1980 to the end of 2107 only, in
# steps of two seconds.
DEFAULT_EPOCH = 946684800
ZIP_EARLIEST = 315532800
ZIP_LATEST = 4354819198


def windows_name_problem(name):
    """Why Windows cannot create a file or folder of this name, or None."""
    try:
        name.encode("utf-8")
    except UnicodeEncodeError:  # bytes from another code page, kept as they were by os.scandir
        return "is not UTF-8, so no archive can carry its letters to Windows"
    if any(c in FORBIDDEN_CHARACTERS or ord(c) < 32 for c in name):
        return 'holds a character Windows does not allow (<>:"|?*\\ or a control character)'
    if name.endswith((".", " ")):
        return "ends in a dot or a space, which Windows strips"
    if name.split(".")[0].rstrip(" ").upper() in RESERVED_NAMES:
        return "is a device name on Windows"
    return None


def printable(text):
    """text on one line, readable: a control character in a name would break the line or hide
    itself, and a byte that is not UTF-8 cannot be printed as it is, so each shows as \\xNN."""
    text = os.fsencode(text).decode("utf-8", "backslashreplace")
    return "".join(f"\\x{ord(c):02x}" if ord(c) < 32 else c for c in text)


def walk(folder, relative=""):
    """(relative path, DirEntry) for everything below folder, each folder before its contents."""
    with os.scandir(os.path.join(folder, relative)) as listing:
        entries = list(listing)
    for entry in entries:
        path = f"{relative}/{entry.name}" if relative else entry.name
        yield path, entry
        if entry.is_dir(follow_symlinks=False):
            yield from walk(folder, path)


def path_problem(path):
    """Why the updater could not unpack this member name on Windows, or None."""
    components = path.split("/")
    if os.path.isabs(path) or ".." in components:
        return "is not a plain relative name"  # bsdtar refuses it, failing the whole update
    return next(filter(None, map(windows_name_problem, components)), None)


def entry_problem(entry):
    """Why this file or folder cannot go into an archive as it is, or None."""
    if entry.is_symlink():
        # Windows would get a copy or nothing, never the link, and it may point anywhere.
        return "is a link"
    if not (entry.is_dir(follow_symlinks=False) or entry.is_file(follow_symlinks=False)):
        return "is a special file"
    return None


def version_file_problem(entry, version):
    """Why the folder's own pending version file cannot ship with VERSION, or None: the updater
    records whatever it says."""
    if not entry.is_file(follow_symlinks=False):
        return "is not a file"
    with open(entry.path, encoding="utf-8", errors="replace") as file:
        found = file.read().strip()
    return None if found == version else f"says version {found}, not {version}"


def collect(folder, version):
    """The members, as (name in the archive, source file path, or the bytes of a file made here,
    or None for a folder), and every reason the folder cannot be shipped, each naming its path."""
    members, problems, seen = {}, [], {}
    for path, entry in walk(folder):
        problem = entry_problem(entry)
        if path == VERSION_FILE and not problem:
            problem = version_file_problem(entry, version)
        if problem:
            problems.append(f"{entry.path}: {problem}")
        members[path] = entry.path if entry.is_file(follow_symlinks=False) else None
    members.setdefault(VERSION_FILE, f"{version}\n".encode())
    for path in sorted(members):
        shown = os.path.join(folder, path)
        problem = path_problem(path)
        if problem:
            problems.append(f"{shown}: {problem}")
        # NTFS folders ignore case: one of the two would overwrite the other.
        twin = seen.setdefault(path.lower(), shown)
        if twin != shown:
            problems.append(f"{shown}: differs only in case from {twin}")
    top = f"Norvane-{version}"
    named = [(top, None)] + [(f"{top}/{path}", source) for path, source in members.items()]
    # A fixed order: the file system's listing order differs from one machine to the next.
    return sorted(named), problems


def source_size(source):
    return len(source) if isinstance(source, bytes) else os.path.getsize(source)


def open_source(source):
    # Streamed, not read whole: a game's packs can be larger than the packing machine's memory.
    return io.BytesIO(source) if isinstance(source, bytes) else open(source, "rb")


def write_tar(output, members, epoch):
    # pax: the one tar format whose names tar.exe reads as UTF-8 rather than in the OEM code page.
    with tarfile.open(output, "w", format=tarfile.PAX_FORMAT, encoding="utf-8") as archive:
        for name, source in members:
            info = tarfile.TarInfo(name)
            info.mtime, info.uid, info.gid, info.uname, info.gname = epoch, 0, 0, "", ""
            if source is None:
                info.type, info.mode = tarfile.DIRTYPE, 0o755
                archive.addfile(info)
                continue
            info.mode, info.size = 0o644, source_size(source)
            with open_source(source) as file:
                archive.addfile(info, file)


def write_zip(output, members, epoch):
    stamp = time.gmtime(min(max(epoch, ZIP_EARLIEST), ZIP_LATEST))[:6]
    # zipfile marks every non-ASCII name as UTF-8 (flag bit 11), which tar.exe honours.
    with zipfile.ZipFile(output, "w") as archive:
        for name, source in members:
            info = zipfile.ZipInfo(name if source is not None else name + "/", date_time=stamp)
            info.create_system = 3  # Unix, so the modes below read the same from any packing host
            if source is None:
                info.external_attr = (0o40755 << 16) | 0x10  # 0x10: the DOS folder attribute
                archive.writestr(info, b"")
                continue
            info.external_attr, info.compress_type = 0o100644 << 16, zipfile.ZIP_DEFLATED
            info.file_size = source_size(source)  # so zipfile knows whether it needs zip64
            with open_source(source) as file, archive.open(info, "w") as member:
                shutil.copyfileobj(file, member)


def main():
    parser = argparse.ArgumentParser(description="Packs a Norvane update archive.")
    parser.add_argument("--zip", action="store_true", help="a zip instead of a pax tar")
    parser.add_argument("game_folder")
    parser.add_argument("version")
    parser.add_argument("output")
    args = parser.parse_args()
    folder = args.game_folder.rstrip("/") or "/"
    if not os.path.isdir(folder):
        sys.exit(f"pack_update: {folder}: no such folder")
    # The version names the archive's one top folder too.
    if not args.version or "/" in args.version or args.version != args.version.strip() or \
            windows_name_problem(f"Norvane-{args.version}"):
        sys.exit(f"pack_update: version '{args.version}' cannot be part of a folder name")
    try:
        epoch = int(os.environ.get("SOURCE_DATE_EPOCH", DEFAULT_EPOCH))
    except ValueError:
        sys.exit("pack_update: SOURCE_DATE_EPOCH must be a whole number of seconds")
    output = os.path.abspath(args.output)
    if output.startswith(os.path.abspath(folder) + os.sep):
        sys.exit(f"pack_update: {args.output}: lies inside {folder}, so it would ship itself next time")
    members, problems = collect(folder, args.version)
    if problems:
        print("\n".join(f"pack_update: {printable(p)}" for p in problems), file=sys.stderr)
        sys.exit(1)
    # Written beside the output and renamed, so a failure leaves no half archive under its name.
    partial = output + ".partial"
    try:
        (write_zip if args.zip else write_tar)(partial, members, epoch)
        os.replace(partial, output)
    except OSError as error:  # a game file that cannot be read, a full disk, a folder in the way
        sys.exit(f"pack_update: cannot write {args.output}: {error}")
    finally:
        if os.path.exists(partial):
            os.remove(partial)
    digest = hashlib.sha256()
    with open(output, "rb") as file:
        for block in iter(lambda: file.read(1 << 20), b""):
            digest.update(block)
    print(f"{len(members)} entries, {os.path.getsize(output)} bytes")
    print(f"{digest.hexdigest()}  {args.output}")


if __name__ == "__main__":
    main()
