#!/usr/bin/env python3
"""Writes the benchmark's synthetic update and the installation it is applied to.

Usage: make_update.py OUTPUT_DIR

OUTPUT_DIR/update.tar        ustar archive with one top-level folder: about 10,000 files in a
                             few hundred nested folders, mostly small plus five of tens of MB,
                             about 300 MB in all
OUTPUT_DIR/install-template  an installation of the same shape holding older files, the
                             launcher settings, the update folder and the player's data folders
                             the updater keeps, grown as a long-played game's are: about 2,000
                             files and 500 MB of audio, a few long tracks and many short sounds

The same seed gives the same bytes on every run, so rounds and machines compare.
"""
import io
import os
import random
import shutil
import sys
import tarfile

SEED = 20240806
TOP = "norvane-client"
FOLDERS = 300
FILES = 10_000
BIG_FILE_MB = (18, 24, 30, 36, 42)
SMALL_MEAN = 15_000
SMALL_CAP = 400_000
MAX_DEPTH = 6
MTIME = 1_700_000_000
PRESERVED = {  # folder: files the update ships there; the player has older copies of them
    "data/assets/arrow": 40,
    "data/assets/arrows": 40,
    "data/assets/audio": 100,
    "data/audio": 200,
}
# The player's own files below the kept folders, which the updater backs up and puts back on
# every run: with the older copies above about 2,000 files and 500 MB.
PLAYER_TRACKS_MB = {  # folder: sizes of the few long recordings
    "data/audio/music": (22, 28, 34, 40, 46, 52),
    "data/assets/audio/ambience": (18, 26),
}
PLAYER_SOUNDS = {  # folder: how many short sounds, a few KB to a few MB
    "data/audio/voice": 700,
    "data/audio/sfx": 294,
    "data/assets/audio/ui": 300,
    "data/assets/audio/ambience": 258,
    "data/assets/arrow": 30,
    "data/assets/arrows": 30,
}
SOUND_MIN = 4_096
SOUND_MEAN = 149_000
SOUND_CAP = 3 << 20
OBSOLETE = 50  # files only the installation has; the update leaves them alone
WORDS = ("maps", "tex", "snd", "ui", "lang", "fx", "mdl", "anim", "shd", "cfg", "lvl", "npc")


class Pool:
    """Deterministic bytes: slices of one random block, wrapping round for larger files."""

    def __init__(self, rng):
        self.block = memoryview(rng.randbytes(4 << 20))

    def chunks(self, size, offset):
        offset %= len(self.block)
        while size > 0:
            piece = self.block[offset:offset + size]
            yield piece
            size -= len(piece)
            offset = 0

    def reader(self, size, offset):
        return PoolReader(self.block, size, offset % len(self.block))


class PoolReader:
    """The file object tarfile reads a member's data from."""

    def __init__(self, block, size, offset):
        self.block, self.left, self.offset = block, size, offset

    def read(self, size):
        size = min(size, self.left)
        self.left -= size
        parts = []
        while size > 0:
            piece = self.block[self.offset:self.offset + size]
            parts.append(piece)
            size -= len(piece)
            self.offset = (self.offset + len(piece)) % len(self.block)
        return b"".join(parts)


def make_folders(rng):
    folders = ["bin", "data", "data/assets", "data/packs"] + list(PRESERVED)
    while len(folders) < FOLDERS:
        parent = rng.choice(folders)
        if parent.count("/") + 1 >= MAX_DEPTH or parent in PRESERVED:
            continue
        name = f"{rng.choice(WORDS)}{rng.randrange(100):02d}"
        path = f"{parent}/{name}"
        if path not in folders:
            folders.append(path)
    return folders


def small_size(rng):
    return min(256 + int(rng.expovariate(1 / SMALL_MEAN)), SMALL_CAP)


def sound_size(rng):
    return min(SOUND_MIN + int(rng.expovariate(1 / (SOUND_MEAN - SOUND_MIN))), SOUND_CAP)


def plan_files(rng, folders):
    """(relative path, size) of every file the update ships, in a fixed order."""
    files = [(f"data/packs/pack{i}.pak", mb << 20) for i, mb in enumerate(BIG_FILE_MB)]
    for folder, count in PRESERVED.items():
        files += [(f"{folder}/item{i:03d}.dat", small_size(rng)) for i in range(count)]
    ordinary = [f for f in folders if f not in PRESERVED and f != "data/packs"]
    names = {path for path, _ in files}
    while len(files) < FILES - 1:  # the pending version file makes up the count
        path = f"{rng.choice(ordinary)}/f{rng.randrange(100_000):05d}.bin"
        if path not in names:
            names.add(path)
            files.append((path, small_size(rng)))
    return files


def tar_info(name, size=0, folder=False):
    info = tarfile.TarInfo(name)
    info.size = size
    info.mtime = MTIME
    info.mode = 0o755 if folder else 0o644
    info.type = tarfile.DIRTYPE if folder else tarfile.REGTYPE
    info.uname = info.gname = ""
    return info


def write_archive(path, folders, files, pool, rng):
    with tarfile.open(path, "w", format=tarfile.USTAR_FORMAT) as archive:
        archive.addfile(tar_info(TOP, folder=True))
        for folder in folders:
            archive.addfile(tar_info(f"{TOP}/{folder}", folder=True))
        for name, size in files:
            archive.addfile(tar_info(f"{TOP}/{name}", size), pool.reader(size, rng.getrandbits(22)))
        version = b"1.1.0\n"
        archive.addfile(tar_info(f"{TOP}/norvane_client_pending_version.txt", len(version)),
                        io.BytesIO(version))


def write_file(path, chunks):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        for chunk in chunks:
            out.write(chunk)


def plan_player_files(rng):
    """(relative path, size) of the player's own files in the kept folders."""
    files = []
    for folder, sizes in PLAYER_TRACKS_MB.items():
        files += [(f"{folder}/track{i:02d}.ogg", mb << 20) for i, mb in enumerate(sizes)]
    for folder, count in PLAYER_SOUNDS.items():
        files += [(f"{folder}/sound{i:04d}.ogg", sound_size(rng)) for i in range(count)]
    return files


def write_installation(root, folders, files, pool, rng):
    """Returns the kept folders' file count and bytes, the older copies included."""
    # Older builds of the same files: the sizes differ a little, the bytes differ entirely.
    kept_files = kept_bytes = 0
    for name, size in files:
        size = size * 9 // 10
        write_file(os.path.join(root, name), pool.chunks(size, rng.getrandbits(22)))
        if any(name.startswith(folder + "/") for folder in PRESERVED):
            kept_files, kept_bytes = kept_files + 1, kept_bytes + size
    for name, size in plan_player_files(rng):
        write_file(os.path.join(root, name), pool.chunks(size, rng.getrandbits(22)))
        kept_files, kept_bytes = kept_files + 1, kept_bytes + size
    ordinary = [f for f in folders if f not in PRESERVED]
    for i in range(OBSOLETE):
        write_file(os.path.join(root, rng.choice(ordinary), f"old{i:02d}.bin"),
                   pool.chunks(small_size(rng), rng.getrandbits(22)))
    write_file(os.path.join(root, "norvane_launcher.cfg"), [b"[launcher]\nlanguage=en\n"])
    write_file(os.path.join(root, "norvane_version.txt"), [b"1.0.0\n"])
    os.makedirs(os.path.join(root, "update"), exist_ok=True)
    return kept_files, kept_bytes


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    output = sys.argv[1]
    rng = random.Random(SEED)
    pool = Pool(rng)
    folders = make_folders(rng)
    files = plan_files(rng, folders)

    os.makedirs(output, exist_ok=True)
    template = os.path.join(output, "install-template")
    shutil.rmtree(template, ignore_errors=True)
    write_archive(os.path.join(output, "update.tar"), folders, files, pool, rng)
    kept_files, kept_bytes = write_installation(template, folders, files, pool, rng)
    total = sum(size for _, size in files)
    print(f"update of {len(files) + 1} files in {len(folders) + 1} folders, {total / 2**20:.0f} MB;"
          f" kept folders of {kept_files:,} files, {kept_bytes / 2**20:.0f} MB")


if __name__ == "__main__":
    main()
