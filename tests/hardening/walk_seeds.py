#!/usr/bin/env python3
"""Writes seed inputs for the walk fuzzer (tests/fuzz/walk_fuzz.cpp) into a
folder: archives written by Info-ZIP zip, 7-Zip and Python's zipfile, each
behind the fuzzer's setting byte (0: whole reads, no disk limit, no
remembered password; a few with other settings). The kept corpus,
tests/fuzz/corpus/walk, is these seeds after a fuzzing run, minimised:

    tests/hardening/walk_seeds.py /tmp/seeds
    sfx-walk-fuzz -max_total_time=600 /tmp/found /tmp/seeds
    sfx-walk-fuzz -merge=1 tests/fuzz/corpus/walk /tmp/found /tmp/seeds
"""

import hashlib
import io
import os
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from sfxtest import _Unseekable as Unseekable, streamed_zip  # noqa: E402

PASSWORD = "fuzz"          # the password the fuzzer tries


def content(root):
    """A small tree: text, binary, an empty file, nested and empty folders."""
    files = {
        "readme.txt": b"The archive's first entry.\r\n" * 20,
        "bin/data.bin": bytes((i * 37) & 0xFF for i in range(700)),
        "bin/deeper/empty.txt": b"",
        "notes/a.txt": b"a" * 300 + b"b" * 300,
    }
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(root, "empty-folder"), exist_ok=True)
    return files


def tool_archives(root, work):
    """(label, bytes) of archives written by zip and 7z."""
    made = []

    def run(label, command, output):
        if os.path.exists(output):
            os.remove(output)
        subprocess.run(command, cwd=root, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(output, "rb") as f:
            made.append((label, f.read()))

    out = os.path.join(work, "a.zip")
    run("zip-deflate", ["zip", "-q", "-r", out, "."], out)
    run("zip-store", ["zip", "-q", "-r", "-0", out, "."], out)
    run("zip-encrypted", ["zip", "-q", "-r", "-P", PASSWORD, out, "."], out)
    # Written to a pipe, zip cannot go back: sizes go into data descriptors.
    streamed = subprocess.run("zip -q -r - . | cat", shell=True, cwd=root, check=True,
                              stdout=subprocess.PIPE).stdout
    made.append(("zip-streamed", streamed))
    run("7z-deflate", ["7z", "a", "-tzip", "-bd", "-bso0", out, "."], out)
    run("7z-store", ["7z", "a", "-tzip", "-mx=0", "-bd", "-bso0", out, "."], out)
    run("7z-zipcrypto", ["7z", "a", "-tzip", "-p" + PASSWORD, "-mem=ZipCrypto", "-bd", "-bso0", out, "."], out)
    return made


def python_archives(files):
    made = []
    for label, method in (("python-deflate", zipfile.ZIP_DEFLATED), ("python-store", zipfile.ZIP_STORED)):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", method) as z:
            for name, data in files.items():
                z.writestr(name, data)
        made.append((label, buffer.getvalue()))
    # An unseekable output makes zipfile write data descriptors.
    made.append(("python-streamed", streamed_zip(files)))
    # ZIP64 fields with both sizes in every local header, and (streamed)
    # descriptors of 24 bytes behind them.
    for label, output in (("python-zip64", io.BytesIO()), ("python-zip64-streamed", Unseekable())):
        with zipfile.ZipFile(output, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in files.items():
                with z.open(name, "w", force_zip64=True) as entry:
                    entry.write(data)
        made.append((label, bytes(output.getvalue() if isinstance(output, io.BytesIO) else output.data)))
    # Sizes marked 0xFFFFFFFF and held by the ZIP64 field, as a writer does
    # for entries of 4 GiB and more, here with small ones; then a 24-byte
    # descriptor and a plain entry.
    def entry(name, data, marked):
        extra = struct.pack("<HHQQ", 1, 16, len(data), len(data)) if marked else b""
        size = 0xFFFFFFFF if marked else len(data)
        return struct.pack("<IHHHIIIIHH", 0x04034B50, 45, 8 if marked else 0, 0, 0, zlib.crc32(data), size, size,
                           len(name), len(extra)) + name + extra + data
    made.append(("handmade-zip64", entry(b"big.txt", b"marked", True)
                 + struct.pack("<IIQQ", 0x08074B50, zlib.crc32(b"marked"), 6, 6) + entry(b"after.txt", b"plain", False)
                 + struct.pack("<I", 0x02014B50)))
    return made


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: walk_seeds.py FOLDER")
    target = sys.argv[1]
    os.makedirs(target, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        root = os.path.join(work, "tree")
        files = content(root)
        archives = tool_archives(root, work) + python_archives(files)
    settings = {"zip-encrypted": [0x08], "zip-deflate": [0x01, 0x16], "zip-store": [0x02, 0x14]}
    for label, data in archives:
        for mode in [0x00] + settings.get(label, []):
            seed = bytes([mode]) + data
            name = f"{label}-{mode:02x}-{hashlib.sha1(seed).hexdigest()[:12]}"
            with open(os.path.join(target, name), "wb") as f:
                f.write(seed)
    print(f"{len(os.listdir(target))} seeds in {target}")


if __name__ == "__main__":
    main()
