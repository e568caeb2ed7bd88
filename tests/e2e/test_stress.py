"""The whole program against mutated archives, as a person would meet them.

Archives written by zip, 7-Zip, Python's zipfile and by hand are mutated
(bit flips, truncations, header fields set to extreme values, inserted,
deleted and repeated bytes, names with "..", ":", device names, separators
in front, and names of 255 to 65,535 bytes, entries streamed with their
sizes in data descriptors). Each one becomes a self-extracting file in its
own sandbox folder; the program lists it, the destination is typed in,
an overwrite policy picked, some files deselected, "&Unzip" pressed, and
every box and prompt that appears is answered (passwords right or wrong,
overwrite yes or no) until the program is back at its main dialog, which
is then closed. Every run must

  - end within its time limit, with exit code 0 and no crash report,
  - show no window but the program's own dialogs and boxes,
  - write nothing in the sandbox outside the destination folder, nor in
    the folders above it, the test's folder, the roots of C: and Z:, the
    user's folders or the temporary folders, under any name that an entry
    of the archive could give,
  - never report success while a file that it wrote differs from the file
    packed under that name (or, under a name that a mutation made, has the
    CRC-32 of no entry).

    python3 test_stress.py [--seed S] [--count N] [--only I]

runs N cases (default 200, seed 1); case I of a seed is the same archive
every time, so a failure is rerun alone with --only I. The run prints what
happened: outcomes, boxes seen, time per case."""

import argparse
import collections
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import time
import zipfile
import zlib

import sfxtest
from sfxtest import (CLOSE, FILE_LIST, FOLDER_EDIT, MAIN_CAPTION, MESSAGE_TEXT, OVERWRITE_ALWAYS,
                     OVERWRITE_CONFIRM, OVERWRITE_NEVER, UNZIP, DriverError, Timeout, Window, local_entry)
from unzipflow import (DONT_ASK, FAILURE_TEXT, NO, OK, OVERWRITE_CAPTION, PASSWORD_CAPTION, PASSWORD_EDIT,
                       SUCCESS_CAPTION, SUCCESS_TEXT, WARNING_CAPTION, YES, UnzipTestCase)

DEFAULT_SEED = 1
DEFAULT_COUNT = 200
RUN_LIMIT = 60.0          # seconds one case may take before it counts as hung
SETTLE = 1.0              # seconds with nothing but the main dialog: the walk is over
PASSWORD = "secret"
ESCAPE = "zzesc"          # in every hostile name, so that a leak is plain to see

# Boxes and prompts the program may show, by caption.
PROGRAM_CAPTIONS = {WARNING_CAPTION, SUCCESS_CAPTION, PASSWORD_CAPTION, OVERWRITE_CAPTION,
                    "Cannot Open File.", "Cannot close the file", "Cannot delete the file", "Error in directory",
                    "Error reading archive."}

LOCAL = b"PK\x03\x04"
ZERO_LOCAL = b"\x00\x00\x00P"
DESCRIPTOR = b"PK\x07\x08"
CENTRAL = b"PK\x01\x02"

HOSTILE_NAMES = [
    "..", "../" + ESCAPE + "1.txt", "../../../../../../../../../../../../" + ESCAPE + "root.txt",
    "sub/../../" + ESCAPE + "2.txt", "..\\" + ESCAPE + "3.txt", "sub\\..\\..\\" + ESCAPE + "4.txt",
    ".../" + ESCAPE + "5.txt", ". ./" + ESCAPE + "6.txt", ".. /" + ESCAPE + "7.txt", "../",
    "C:" + ESCAPE + "8.txt", "C:\\" + ESCAPE + "9.txt", "Z:\\" + ESCAPE + "10.txt", "c:/" + ESCAPE + "11",
    "\\" + ESCAPE + "12.txt", "/" + ESCAPE + "13.txt", "\\\\server\\share\\" + ESCAPE + "14",
    "//?/C:/" + ESCAPE + "15", ESCAPE + "16.txt:stream", ESCAPE + "17.txt::$DATA",
    "CON", "con.txt", "NUL", "nul.tar.gz", "AUX", "aux/" + ESCAPE + "18.txt", "PRN.", "COM1", "com9.log",
    "LPT1", "lpt9.txt", "CONIN$", "CONOUT$", "CLOCK$", "sub/CON/" + ESCAPE + "19",
    "./" + ESCAPE + "20.txt", ".\\" + ESCAPE + "21.txt", ESCAPE + "22. . ", ESCAPE + "23/",
    "dir/sub/", ESCAPE + "24\x01\x1f.txt", ESCAPE + "\xe9\xe8\xff.txt", ESCAPE + "25*?<>|\".txt",
    ESCAPE + "26\x00../../hidden", "a/./b/./" + ESCAPE + "27.txt", ESCAPE + "28" + "/" * 20 + "x",
]
LONG_NAME_LENGTHS = [255, 256, 257, 258, 259, 260, 300, 1000, 4096, 65535]

SIGNATURES = [0x04034B50, 0x50000000, 0x08074B50, 0x02014B50, 0x06054B50, 0, 0xFFFFFFFF]
FIELD_VALUES = {
    "flags": (6, "<H", [0, 1, 8, 9, 0xFFFF, 0xFFFE]),
    "method": (8, "<H", [0, 8, 9, 12, 14, 93, 99, 0xFFFF]),
    "time": (10, "<I", [0, 0xFFFFFFFF, 0x00210000]),
    "crc": (14, "<I", [0, 0xFFFFFFFF, 0x12345678]),
    "compressed": (18, "<I", [0, 1, 11, 12, 13, 0x7FFFFFFF, 0x80000000, 0x8000000B, 0xFFFFFFF4, 0xFFFFFFFF]),
    "uncompressed": (22, "<I", [0, 0xFFFFFFFF]),
    "name length": (26, "<H", [0, 1, 257, 258, 259, 0xFFFF]),
    "extra length": (28, "<H", [1, 0x7FFF, 0xFFFF]),
}


# ---- archives --------------------------------------------------------------

class Entry:
    """A local entry as the program's walk meets it."""

    def __init__(self, archive, start):
        head = archive[start:start + 30].ljust(30, b"\0")
        (self.signature, _, self.flags, self.method, self.time, self.crc, self.size, _,
         self.name_length, self.extra_length) = struct.unpack("<IHHHIIIIHH", head)
        self.start = start
        self.name = archive[start + 30:start + 30 + self.name_length]
        self.data = start + 30 + self.name_length + self.extra_length
        self.next = self.data + self.size


def walk(archive):
    """The entries that the program's walk visits, data descriptors passed."""
    entries, p = [], 0
    while p < len(archive) and len(entries) < 100000:
        signature = archive[p:p + 4].ljust(4, b"\0")
        if signature == DESCRIPTOR:
            p += 16
            continue
        if signature not in (LOCAL, ZERO_LOCAL):
            break
        entry = Entry(archive, p)
        entries.append(entry)
        if entry.next > 0x7FFFFFFF:
            break
        p = entry.next
    return entries


def every_header(archive):
    """Every place that looks like a local header, walked to or not."""
    found = []
    for signature in (LOCAL, ZERO_LOCAL):
        p = archive.find(signature)
        while p >= 0 and len(found) < 5000:
            found.append(Entry(archive, p))
            p = archive.find(signature, p + 1)
    return found


def name_components(archive):
    """Lower-case forms of every name part that the program could use as a
    file or folder name, with the trailing dots and blanks that Windows
    drops taken off."""
    parts = set()
    for entry in walk(archive) + every_header(archive):
        name = entry.name.split(b"\0")[0][:258]
        for raw in name.replace(b"\\", b"/").replace(b":", b"/").split(b"/"):
            for text in (raw.decode("cp1252", "replace"), raw.decode("utf-8", "replace"), raw.decode("latin-1")):
                text = text.rstrip(". ").lower()
                if text:
                    parts.add(text)
    return parts


def entry_crcs(archive):
    return {entry.crc for entry in walk(archive) + every_header(archive)}


def make_bases(folder):
    """(label, bytes) of the archives that the mutations start from, and
    the files packed into them (lower-case name -> content)."""
    files = {
        "readme.txt": b"Read me first.\r\n" * 60,
        "bin/data.bin": bytes((i * 131 + 7) & 0xFF for i in range(2500)),
        "docs/deep/nested/note.txt": b"nested " * 100,
        "empty.txt": b"",
        "Mixed Case.TXT": b"mixed case\r\n",
    }
    content = os.path.join(folder, "content")
    stamp = time.mktime((2010, 5, 6, 7, 8, 10, 0, 0, -1))
    for name, data in files.items():
        path = os.path.join(content, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (stamp, stamp))
    os.makedirs(os.path.join(content, "empty folder"), exist_ok=True)

    bases = []

    def tool(label, command):
        out = os.path.join(folder, label + ".zip")
        subprocess.run(command + [out, "."], cwd=content, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(out, "rb") as f:
            bases.append((label, f.read()))

    tool("zip-deflate", ["zip", "-q", "-r", "-X"])
    tool("zip-store", ["zip", "-q", "-r", "-X", "-0"])
    tool("zip-encrypted", ["zip", "-q", "-r", "-X", "-P", PASSWORD])
    tool("7z-deflate", ["7z", "a", "-tzip", "-bd", "-bso0"])
    tool("7z-zipcrypto", ["7z", "a", "-tzip", "-bd", "-bso0", "-p" + PASSWORD, "-mem=ZipCrypto"])
    for label, method in (("python-deflate", zipfile.ZIP_DEFLATED), ("python-store", zipfile.ZIP_STORED)):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", method) as z:
            for name, data in files.items():
                z.writestr(zipfile.ZipInfo(name, (2010, 5, 6, 7, 8, 10)), data, method)
        bases.append((label, buffer.getvalue()))
    bases.append(("python-streamed", sfxtest.streamed_zip(files)))
    hand_made = {"a.txt": b"first", "b/c.txt": b"second" * 300, "d.txt": b"third"}
    bases.append(("hand-made", local_entry("a.txt", hand_made["a.txt"], flags=8)
                  + struct.pack("<IIII", 0x08074B50, 0, 0, 0)
                  + local_entry("b/c.txt", hand_made["b/c.txt"], method=0)
                  + local_entry("d.txt", hand_made["d.txt"], extra=bytes(40))
                  + CENTRAL + bytes(42)))
    packed = {name.lower(): data for name, data in list(files.items()) + list(hand_made.items())}
    return bases, packed


# ---- mutations -------------------------------------------------------------

def long_name(rng, length):
    body = ESCAPE + "".join(rng.choice("abcdefgh/") for _ in range(length))
    return body[:length].encode("latin-1")


def with_name(archive, entry, name):
    """The archive with one entry's name replaced (its length field too)."""
    return (archive[:entry.start + 26] + struct.pack("<H", len(name)) + archive[entry.start + 28:entry.start + 30]
            + name + archive[entry.start + 30 + entry.name_length:])


def some_position(rng, archive, entries):
    """Near a header, a name or the start of data half the time."""
    if entries and rng.random() < 0.5:
        entry = rng.choice(entries)
        return min(len(archive), rng.choice([entry.start, entry.start + 30, entry.data]) + rng.randint(-2, 8))
    return rng.randint(0, len(archive))


def mutate_once(rng, archive):
    entries = walk(archive)
    kind = rng.choices(["bits", "truncate", "field", "insert", "delete", "repeat", "name", "stream"],
                       [20, 12, 20, 10, 6, 6, 20, 6])[0]
    if kind == "bits" and archive:
        data = bytearray(archive)
        flips = rng.choice([1, 1, 2, 4, 8])
        for _ in range(flips):
            p = min(some_position(rng, archive, entries), len(data) - 1)
            data[p] ^= 1 << rng.randrange(8)
        return f"{flips} bit flips", bytes(data)
    if kind == "truncate":
        p = some_position(rng, archive, entries)
        return f"cut at {p}", archive[:p]
    if kind == "field" and entries:
        entry = rng.choice(entries)
        field = rng.choice(list(FIELD_VALUES) + ["signature"])
        if field == "signature":
            offset, form, value = 0, "<I", rng.choice(SIGNATURES)
        else:
            offset, form, values = FIELD_VALUES[field]
            current = struct.unpack_from(form, archive, entry.start + offset)[0] if entry.start + 30 <= len(archive) else 0
            limit = 0xFFFF if form == "<H" else 0xFFFFFFFF
            value = rng.choice(values + [(current + 1) & limit, (current - 1) & limit])
        if entry.start + offset + struct.calcsize(form) > len(archive):
            return "no field to set", archive
        data = bytearray(archive)
        struct.pack_into(form, data, entry.start + offset, value)
        return f"{field} of entry at {entry.start} = {value:#x}", bytes(data)
    if kind == "insert":
        p = some_position(rng, archive, entries)
        what = rng.choice(["random", "local", "descriptor", "central"])
        if what == "random":
            inserted = bytes(rng.randrange(256) for _ in range(rng.randint(1, 64)))
        else:
            inserted = {"local": LOCAL, "descriptor": DESCRIPTOR + bytes(12), "central": CENTRAL}[what]
        return f"{len(inserted)} {what} bytes inserted at {p}", archive[:p] + inserted + archive[p:]
    if kind == "delete" and archive:
        p = rng.randrange(len(archive))
        n = rng.randint(1, 200)
        return f"{n} bytes deleted at {p}", archive[:p] + archive[p + n:]
    if kind == "repeat" and entries:
        entry = rng.choice(entries)
        record = archive[entry.start:min(entry.next, len(archive))]
        return f"entry at {entry.start} repeated", archive[:entry.start] + record + archive[entry.start:]
    if kind == "name" and entries:
        entry = rng.choice(entries)
        if rng.random() < 0.25:
            name = long_name(rng, rng.choice(LONG_NAME_LENGTHS))
        else:
            name = rng.choice(HOSTILE_NAMES).encode("latin-1")
        if rng.random() < 0.3:
            # A new entry of its own, in front of a walked one.
            new = local_entry(name, b"hostile " * rng.randint(0, 50), method=rng.choice([0, 8]))
            return f"entry {name[:40]!r} ({len(name)} bytes) added", archive[:entry.start] + new + archive[entry.start:]
        return f"name {name[:40]!r} ({len(name)} bytes)", with_name(archive, entry, name)
    if kind == "stream" and entries:
        # As a writer that streams its output: flag bit 3, CRC and sizes 0.
        # Often the last entry, behind which the walk has nothing to miss.
        entry = entries[-1] if rng.random() < 0.5 else rng.choice(entries)
        if entry.start + 30 > len(archive):
            return "no header to stream", archive
        data = bytearray(archive)
        struct.pack_into("<H", data, entry.start + 6, entry.flags | 8)
        struct.pack_into("<III", data, entry.start + 14, 0, 0, 0)
        return f"entry at {entry.start} streamed", bytes(data)
    return "unchanged", archive


def make_case(seed, index, bases):
    """Case index of a seed: (description, archive bytes)."""
    rng = random.Random(f"{seed}:{index}")
    label, archive = bases[index % len(bases)]
    steps = []
    for _ in range(1 if rng.random() < 0.8 else rng.randint(2, 4)):
        what, archive = mutate_once(rng, archive)
        steps.append(what)
    if archive[:3] == b"MPU":           # would read as a settings block
        archive = b"NPU" + archive[3:]
    return f"{label}: " + "; ".join(steps), archive, rng


# ---- the runs --------------------------------------------------------------

def wine_crash_reporters(prefix):
    """winedbg processes of this prefix."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if b"winedbg" not in f.read().lower():
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if ("WINEPREFIX=" + prefix).encode() in f.read().split(b"\0"):
                    found.append(int(pid))
        except OSError:
            continue
    return found


class Outcome:
    def __init__(self):
        self.boxes = []          # (caption, text)
        self.prompts = collections.Counter()
        self.unexpected = []
        self.hung = False
        self.code = None
        self.closed_by_us = False
        self.seconds = 0.0


class MutatedArchives(UnzipTestCase):
    seed = DEFAULT_SEED
    count = DEFAULT_COUNT
    only = None

    def test_mutated_archives_hold(self):
        cfg = sfxtest.config()
        bases, self.packed = make_bases(self.path("bases"))
        self.runs = self.path("runs")
        os.makedirs(self.runs)
        self.watched = self.watched_folders(cfg)
        self.before = {folder: self.names_in(folder) for folder in self.watched}
        self.log_size = 0
        indices = [self.only] if self.only is not None else range(self.count)
        stats = collections.Counter()
        boxes = collections.Counter()
        problems = []
        times = []
        started = time.monotonic()
        for index in indices:
            description, archive, rng = make_case(self.seed, index, bases)
            outcome, found = self.run_case(index, archive, rng)
            times.append((outcome.seconds, index, description))
            stats["runs"] += 1
            stats["success reported" if (SUCCESS_CAPTION, SUCCESS_TEXT) in outcome.boxes else
                  "failure reported" if (WARNING_CAPTION, FAILURE_TEXT) in outcome.boxes else "no closing report"] += 1
            stats["closed during or after a walk without report"] += outcome.closed_by_us
            for prompt, n in outcome.prompts.items():
                stats[prompt + " answered"] += n
            for caption, text in outcome.boxes:
                boxes[f"{caption}: {text[:70]}"] += 1
            if found:
                problems.append(f"case {index} ({description}): " + "; ".join(found))
                self.keep(index, description)
            else:
                shutil.rmtree(os.path.join(self.runs, str(index)), ignore_errors=True)
        total = time.monotonic() - started
        print(f"\nseed {self.seed}: {stats['runs']} cases in {total:.0f} s "
              f"({total / max(1, stats['runs']):.2f} s each)")
        for seconds, index, description in sorted(times, reverse=True)[:3]:
            print(f"  slow: case {index}, {seconds:.1f} s: {description[:100]}")
        for name, n in sorted(stats.items()):
            print(f"  {name}: {n}")
        print("boxes seen:")
        for name, n in boxes.most_common():
            print(f"  {n:5d}  {name}")
        self.assertEqual(problems, [], "\n".join(problems))

    # ---- one case ----
    def run_case(self, index, archive, rng):
        sandbox = os.path.join(self.runs, str(index))
        out = os.path.join(sandbox, "d1", "d2", "d3", "out")
        os.makedirs(out)
        exe = os.path.join(sandbox, "sfx.exe")
        with open(sfxtest.config().stub("x64"), "rb") as f:
            stub = f.read()
        with open(exe, "wb") as f:
            f.write(stub + archive)
        if rng.random() < 0.2:
            # Files already there, for the overwrite policy to meet.
            for entry in walk(archive)[:3]:
                name = entry.name.split(b"\0")[0].decode("latin-1")
                if name and plain_name(name):
                    target = os.path.join(out, *name.replace("\\", "/").split("/"))
                    os.makedirs(os.path.dirname(target), exist_ok=True)
                    if not os.path.isdir(target):
                        with open(target, "wb") as f:
                            f.write(b"was here")
        before_out = self.tree(out)
        outcome = self.drive(exe, sandbox, out, rng)
        found = self.check(outcome, archive, sandbox, out, before_out)
        return outcome, found

    def drive(self, exe, sandbox, out, rng):
        """Runs the program through listing and Unzip, answering whatever
        appears, until it has ended."""
        outcome = Outcome()
        started = time.monotonic()
        passwords = rng.choice([[PASSWORD], ["wrong", PASSWORD], ["wrong", "", "bad"], [""]])
        program = self.start(exe, cwd=sandbox)
        unzipped = closing = False
        quiet_since = None
        while True:
            now = time.monotonic()
            if now - started > RUN_LIMIT:
                outcome.hung = True
                program.kill()
                break
            try:
                shown = program.windows()
            except DriverError:
                shown = []
            others = [w for w in shown if w["caption"] != MAIN_CAPTION]
            main = [w for w in shown if w["caption"] == MAIN_CAPTION]
            if others:
                quiet_since = None
                self.answer(Window(self.driver, others[0]["hwnd"]), others[0]["caption"], outcome, passwords, rng)
                continue
            if not main:
                try:
                    outcome.code = self.driver.call("wait-exit", program.pid, "0")
                    break
                except Timeout:
                    time.sleep(0.02)
                    continue
            dialog = Window(self.driver, main[0]["hwnd"])
            try:
                if not unzipped:
                    self.press_unzip(dialog, out, rng)
                    unzipped = True
                    quiet_since = time.monotonic()
                elif not closing:
                    if quiet_since is None:
                        quiet_since = now
                    elif now - quiet_since >= SETTLE:
                        dialog.click(CLOSE)
                        closing = True
                        outcome.closed_by_us = not any(text in (SUCCESS_TEXT, FAILURE_TEXT)
                                                       for _, text in outcome.boxes)
            except DriverError:
                pass                          # the dialog went away meanwhile
            time.sleep(0.03)
        outcome.seconds = time.monotonic() - started
        return outcome

    def press_unzip(self, dialog, out, rng):
        dialog.set_text(FOLDER_EDIT, sfxtest.windows_path(out))
        dialog.click(rng.choice([OVERWRITE_ALWAYS, OVERWRITE_NEVER, OVERWRITE_CONFIRM, OVERWRITE_CONFIRM]))
        if rng.random() < 0.2:
            items = dialog.items(FILE_LIST)
            for i in range(len(items)):
                if rng.random() < 0.4:
                    dialog.select(FILE_LIST, i, False)
        dialog.click(UNZIP)

    def answer(self, window, caption, outcome, passwords, rng):
        try:
            if caption == PASSWORD_CAPTION:
                password = passwords[outcome.prompts["password"] % len(passwords)]
                outcome.prompts["password"] += 1
                window.set_text(PASSWORD_EDIT, password)
                window.click(OK)
            elif caption == OVERWRITE_CAPTION:
                outcome.prompts["overwrite"] += 1
                if rng.random() < 0.2:
                    window.click(DONT_ASK)
                window.click(rng.choice([YES, NO]))
            else:
                if caption not in PROGRAM_CAPTIONS:
                    outcome.unexpected.append(caption)
                try:
                    text = window.text(MESSAGE_TEXT)
                except DriverError:
                    text = "?"
                outcome.boxes.append((caption, text))
                window.click(OK)
            window.wait_gone(timeout=10)
        except DriverError:
            pass                              # gone already, or still there: looked at again

    # ---- checks ----
    def check(self, outcome, archive, sandbox, out, before_out):
        found = []
        if outcome.hung:
            found.append(f"no end within {RUN_LIMIT:.0f} s")
        elif outcome.code != 0:
            found.append(f"exit code {outcome.code:#x}")
        if outcome.unexpected:
            found.append(f"unexpected windows {outcome.unexpected}")
        found += self.crash_reports()
        # Nothing in the sandbox but the file and the way to the destination.
        allowed = {"sfx.exe", "d1", "d1/d2", "d1/d2/d3", "d1/d2/d3/out"}
        for folder, folders, files in os.walk(sandbox):
            for name in folders + files:
                relative = os.path.relpath(os.path.join(folder, name), sandbox).replace(os.sep, "/")
                if relative not in allowed and not relative.startswith("d1/d2/d3/out/"):
                    found.append(f"written outside the destination: {relative}")
        # Nothing new above it under a name the archive could give.
        parts = name_components(archive)
        for folder in self.watched:
            for name in self.names_in(folder) - self.before[folder]:
                strict = folder in (self.runs, self.work)
                if (strict and name not in self.expected_in(folder)) or \
                        name.rstrip(". ").lower() in parts:
                    found.append(f"new in {folder}: {name!r}")
                    self.before[folder].add(name)
        # Success only when every file written is what was packed under its
        # name or, under a name that a mutation made, some entry's content.
        if (SUCCESS_CAPTION, SUCCESS_TEXT) in outcome.boxes:
            crcs = entry_crcs(archive)
            for name, data in self.tree(out).items():
                if before_out.get(name) == data:
                    continue
                packed = self.packed.get(name.lower())
                if packed is not None and data != packed:
                    found.append(f"success reported, but {name!r} ({len(data)} bytes) is not the file packed")
                elif packed is None and zlib.crc32(data) not in crcs:
                    found.append(f"success reported, but {name!r} ({len(data)} bytes) is no entry's content")
        return found

    def crash_reports(self):
        found = []
        if wine_crash_reporters(sfxtest.config().prefix):
            found.append("winedbg is running")
        log = self.path("driver.log")
        size = os.path.getsize(log) if os.path.exists(log) else 0
        if size > self.log_size:
            with open(log, "rb") as f:
                f.seek(self.log_size)
                new = f.read().decode("latin-1")
            for sign in ("Unhandled exception", "Unhandled page fault", "Backtrace:", "wine: Assertion"):
                if sign in new:
                    found.append(f"crash report in driver.log: {sign}")
        self.log_size = size
        return found

    def watched_folders(self, cfg):
        folders = []
        folder = self.runs
        while True:
            folders.append(folder)
            parent = os.path.dirname(folder)
            if parent == folder:
                break
            folder = parent
        drive_c = os.path.realpath(os.path.join(cfg.prefix, "dosdevices", "c:"))
        for relative in ("", "users", "users/root", "users/root/Temp", "users/Public", "windows",
                         "windows/system32"):
            path = os.path.join(drive_c, relative)
            if os.path.isdir(path):
                folders.append(path)
        folders.append("/tmp")
        return folders

    def names_in(self, folder):
        try:
            return set(os.listdir(folder))
        except OSError:
            return set()

    def expected_in(self, folder):
        if folder == self.runs:
            return {name for name in self.names_in(folder) if name.isdigit()}
        return {"driver.log", "bases", "runs", "failures", "failure.png", "failure-windows.json"}

    def keep(self, index, description):
        """Keeps a failing case's file and what it left, for a rerun."""
        kept = self.path("failures", str(index))
        os.makedirs(os.path.dirname(kept), exist_ok=True)
        shutil.move(os.path.join(self.runs, str(index)), kept)
        with open(os.path.join(kept, "case.txt"), "w") as f:
            f.write(f"seed {self.seed} case {index}: {description}\n")


def plain_name(name):
    """A plain relative name, for the files put in place before a run."""
    parts = name.replace("\\", "/").split("/")
    return (":" not in name and not name.startswith("/") and all(p not in ("", ".", "..") for p in parts)
            and len(name) < 100 and all(32 <= ord(c) < 127 for c in name))


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--seed", type=int, default=DEFAULT_SEED)
    parser.add_argument("--count", type=int, default=DEFAULT_COUNT)
    parser.add_argument("--only", type=int)
    options, rest = parser.parse_known_args()
    MutatedArchives.seed, MutatedArchives.count, MutatedArchives.only = options.seed, options.count, options.only
    sys.argv[1:] = rest
    sfxtest.main()


if __name__ == "__main__":
    main()
