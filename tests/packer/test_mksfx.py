"""Host tests of mksfx: the archives it writes are read back the way the
extractor reads them (local headers only) and by unzip and Python's
zipfile; branded extractors are read by pefile; every refusal leaves no
file behind."""
import ctypes
import glob
import os
import pty
import random
import re
import resource
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import struct
import zipfile
import zlib

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sfxfiles import (BLOCK_SIZE, CENTRAL, ICON_SIZES, PEERS, SAMPLE_FILES, SAMPLE_FOLDERS, STUB_SIZE_MIN, VERSION,
                      VERSION_OPTIONS, VERSION_TEXTS, bitmap_image, date_time, dos_time, extra_blocks, extract,
                      icon_file, make_tree, png_image,
                      stub_length, unicode_path, walk, write_icon, write_large_icon, write_stored_zip, zeros_crc,
                      deflated_zeros,
                      zip_with)

MKSFX = os.environ.get("MKSFX", "dist/mksfx")
STUB = os.environ.get("SFX_STUB", "dist/sfx-x86.exe")
STUBS = {"x86": STUB, "x64": os.path.join(os.path.dirname(STUB), "sfx-x64.exe")}
RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
PIECE = 4 << 20         # the bytes of a piece that mksfx compresses on its own


def read(path):
    with open(path, "rb") as f:
        return f.read()


def mksfx(*args, **kw):
    return subprocess.run([MKSFX, *args], capture_output=True, text=True, errors="replace", **kw)


def listed_names(path):
    """The file names that unzip -l, 7z l, bsdtar and zipfile list, each
    as a sorted list, by reader."""
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    run = lambda *command: subprocess.run(command, capture_output=True, env=env, check=True).stdout.decode()
    unzip = [line.split(None, 3)[3] for line in run("unzip", "-l", path).splitlines()[3:-2]]
    seven = [line[7:] for line in run("7z", "l", "-slt", "-tzip", path).splitlines() if line.startswith("Path = ")][1:]
    with zipfile.ZipFile(path) as z:
        python = [name.rstrip("/") for name in z.namelist()]
    return {"unzip": sorted(n.rstrip("/") for n in unzip), "7z": sorted(seven),
            "bsdtar": sorted(n.rstrip("/") for n in run("bsdtar", "-tf", path).splitlines()), "zipfile": sorted(python)}


def stopped_position(program, fd):
    """Where the descriptor stands once every thread of the program has
    stopped."""
    def state(task):
        with open(f"/proc/{program.pid}/task/{task}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0]

    while any(state(task) != "T" for task in os.listdir(f"/proc/{program.pid}/task")):
        time.sleep(0.01)
    with open(f"/proc/{program.pid}/fdinfo/{fd}") as f:
        return int(f.readline().split()[1])


def stop_while_reading(test, program, path):
    """Stops the program (SIGSTOP) once it has read part of the file, and
    returns how far it had read."""
    for _ in range(3000):
        for fd in os.listdir(f"/proc/{program.pid}/fd"):
            try:
                if os.readlink(f"/proc/{program.pid}/fd/{fd}") != path:
                    continue
                with open(f"/proc/{program.pid}/fdinfo/{fd}") as f:
                    position = int(f.readline().split()[1])
            except OSError:
                continue
            if position > 0:
                program.send_signal(signal.SIGSTOP)
                return stopped_position(program, fd)
        time.sleep(0.01)
    test.fail(f"mksfx never read {path}")


def huge_sparse_file(path):
    """A hole of 1 TiB: no test waits for the end of its reading."""
    with open(path, "wb") as f:
        f.truncate(1 << 40)
    return path


def make_links(root, links):
    for name, target in links.items():
        os.symlink(target, os.path.join(root, name))


# Names beyond ASCII: Latin-1, Latin Extended-A, and one outside the BMP.
WIDE_FILES = {"Übersicht.txt": b"1", "Łódź/naïve.txt": b"2", "emoji-\U0001F600.txt": b"3"}


class PackerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="mksfx-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.src = os.path.join(self.dir, "src")
        self.out = os.path.join(self.dir, "out.exe")

    def pack(self, *args):
        result = mksfx("--stub", STUB, *args, "-o", self.out)
        self.assertEqual(result.returncode, 0, result.stderr)
        return walk(self.out)

    def assertRefused(self, input_path, *fragments, args=(), status=1, stub=STUB):
        """Exit status 1 (2 for wrong usage), a message with these fragments,
        and the output (if any) as it was, with no temporary file beside it."""
        before = {p: read(p) for p in glob.glob(self.out + "*")}
        result = mksfx("--stub", stub, *args, "-o", self.out, input_path)
        self.assertEqual(result.returncode, status, result.stdout + result.stderr)
        for fragment in fragments:
            self.assertIn(fragment, result.stderr)
        self.assertEqual({p: read(p) for p in glob.glob(self.out + "*")}, before)

    def assertExtractsTo(self, entries, files, folders=None, password=None):
        """The entries hold exactly these files (and, unless None, these
        empty folders and every folder above a file), in a file that unzip
        and zipfile read as well."""
        names = [e["name"] for e in entries]
        if folders is not None:
            expected = {f + "/" for f in folders}
            for name in files:
                parts = name.split("/")[:-1]
                expected |= {"/".join(parts[:i]) + "/" for i in range(1, len(parts) + 1)}
            self.assertEqual({n for n in names if n.endswith("/")}, expected)
        self.assertEqual({e["name"]: extract(e, password) for e in entries if not e["name"].endswith("/")},
                         files)
        for e in entries:
            if not e["flags"] & 1:
                self.assertFalse(e["flags"] & 8, e["name"] + " leaves its sizes to a descriptor")
            self.assertEqual(e["descriptor"], bool(e["flags"] & 8), e["name"] + ": descriptor as bit 3 says")
        self.assertEqual(subprocess.run(["unzip", "-tqq", "-P", password or "", self.out]).returncode, 0)
        with zipfile.ZipFile(self.out) as z:
            self.assertEqual(z.namelist(), names)


class FromFolder(PackerTest):
    def test_entries_carry_true_sizes_times_and_best_method(self):
        make_tree(self.src, SAMPLE_FILES, SAMPLE_FOLDERS, mtime=1623760496)
        entries, end = self.pack(self.src)
        self.assertEqual(end, CENTRAL)
        self.assertExtractsTo(entries, SAMPLE_FILES, SAMPLE_FOLDERS)
        names = [e["name"] for e in entries]
        self.assertEqual(names, sorted(names), "folders before their contents, in name order")
        method = {e["name"]: e["method"] for e in entries}
        self.assertEqual((method["readme.txt"], method["bin/noise.bin"], method["docs/empty.txt"]), (8, 0, 0))
        self.assertEqual({e["timedate"] for e in entries}, {dos_time(1623760496)})
        # The stub as it is, but for the checksum, which covers the whole file.
        field = pefile.PE(STUB).OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        out, stub = read(self.out), read(STUB)
        self.assertEqual(out[:field] + out[field + 4:len(stub) + 3], stub[:field] + stub[field + 4:] + b"PK\3")
        self.assertTrue(pefile.PE(self.out).verify_checksum())

    def test_the_output_is_never_one_of_the_inputs(self):
        # Each case: OUT, INPUT and options; the run is refused, naming OUT,
        # and every file stays as it was.
        prog = os.path.join(self.dir, "myprog")
        make_tree(prog, {"setup.exe": b"the real installer\n", "data.bin": b"data\n"})
        make_tree(self.src, {"a.txt": b"a"})
        subprocess.run(["zip", "-q", "-r", os.path.join(self.dir, "x.zip"), "."], cwd=self.src, check=True)
        shutil.copy(STUB, os.path.join(self.dir, "mystub.exe"))
        os.link(os.path.join(prog, "data.bin"), os.path.join(self.dir, "linked.exe"))
        write_icon(os.path.join(self.dir, "my.ico"))
        with open(os.path.join(self.dir, "pw.txt"), "w") as f:
            f.write("secret\n")
        protected = os.path.join(self.dir, "protected.exe")
        shutil.copy(STUB, protected)
        os.chmod(protected, 0o444)
        cases = {   # OUT (in self.dir), INPUT, options, what the message names
            "a file in INPUT": ("myprog/setup.exe", prog, ["--run", "><setup.exe"], "one of the files being packed"),
            "a hard link to one": ("linked.exe", prog, [], "one of the files being packed"),
            "the ZIP INPUT": ("x.zip", "x.zip", ["--password", "pw"], "is INPUT"),
            "the stub": ("mystub.exe", self.src, ["--stub", "mystub.exe"], "is the extractor"),
            "the icon": ("my.ico", self.src, ["--icon", "my.ico"], "is the icon file"),
            "the password file": ("pw.txt", self.src, ["--password-file", "pw.txt"], "is the password file"),
            "write-protected": ("protected.exe", self.src, [], "write-protected"),
        }
        files = lambda: {p: read(p) for p in glob.glob(os.path.join(self.dir, "**"), recursive=True)
                         if os.path.isfile(p)}
        before = files()
        for label, (out, input_path, options, why) in cases.items():
            with self.subTest(label):
                options = ["--stub", STUB] + options if "--stub" not in options else options
                result = mksfx(*options, "-o", out, input_path, cwd=self.dir)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertIn(out, result.stderr)
                self.assertIn(why, result.stderr)
                self.assertEqual(files(), before)
        # A new OUT inside INPUT is fine; run again, it is one of the files.
        self.out = os.path.join(self.src, "setup.exe")
        self.assertEqual([e["name"] for e in self.pack(self.src)[0]], ["a.txt"])
        self.assertRefused(self.src, "one of the files being packed")

    def test_odd_seconds_round_up_and_times_before_1980_are_clamped(self):
        make_tree(self.src, {"odd.txt": b"1"}, mtime=1623760497)
        make_tree(os.path.join(self.src, "old"), {"old.txt": b"2"}, mtime=100000000)
        times = {e["name"]: e["timedate"] for e in self.pack(self.src)[0]}
        self.assertEqual(times["odd.txt"], dos_time(1623760498))
        self.assertEqual(times["old/old.txt"], 0x00210000)

    def test_names_are_utf8_and_links_inside_stand_for_their_targets(self):
        make_tree(self.src, {**WIDE_FILES, "real/data.txt": b"4"})
        make_links(self.src, {"alias.txt": "Übersicht.txt", "real-link": "real"})
        result = mksfx("--stub", STUB, "-o", self.out, self.src)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        entries = walk(self.out)[0]
        self.assertExtractsTo(entries, {**WIDE_FILES, "real/data.txt": b"4", "alias.txt": b"1",
                                        "real-link/data.txt": b"4"}, ())
        self.assertEqual({e["name"] for e in entries if e["flags"] & 0x800},
                         {"Übersicht.txt", "Łódź/", "Łódź/naïve.txt", "emoji-\U0001F600.txt"})
        # Every reader lists the names as they are: from a folder, and from
        # an archive of an MS-DOS host that flags its names as UTF-8.
        names = ["é.txt", "Łódź.txt", "鬼.txt"]
        wide = os.path.join(self.dir, "wide")
        make_tree(wide, {name: b"x" for name in names})
        archive = write_stored_zip(os.path.join(self.dir, "dos.zip"),
                                   {n.encode(): {"data": b"x", "flags": 0x800} for n in names}, made_by=20)
        for source in (wide, archive):
            with self.subTest(os.path.basename(source)):
                self.pack(source)
                self.assertEqual(listed_names(self.out), {r: sorted(names) for r in ("unzip", "7z", "bsdtar", "zipfile")})
        self.assertEqual(mksfx("--stub", STUB, "--name-encoding", "cp437", "-o", self.out, self.src).returncode, 2)

    def test_refusals(self):
        outside = os.path.join(self.dir, "outside.txt")
        cases = {
            "device": ({"docs/con.txt": b""}, ["docs/con.txt", "device"]),
            "superscript-device": ({"COM\u00b9.log": b""}, ["COM\u00b9.log", "device"]),
            "trailing-dot": ({"notes./a.txt": b""}, ["notes./", "ends in a dot or a blank"]),
            "trailing-blank": ({"name ": b""}, ["name ", "ends in a dot or a blank"]),
            "windows-character": ({"what?.txt": b""}, ["what?.txt", "'?'"]),
            "backslash": ({"a\\b": b""}, ["a\\b", "separator"]),
            "colon": ({"a:b": b""}, ["a:b", "outside"]),
            "dots": ({"x/...": b""}, ["x/...", "outside"]),
            "reserved": ({"a/~sfxtmp.2/b.txt": b""}, ["~sfxtmp.2", "temporary folder"]),
            "too-long": ({"d" * 200 + "/" + "f" * 60: b""}, ["f" * 60, "261 UTF-16 units"]),
            "same-file": ({"Read.me": b"", "read.ME": b""}, ["Read.me", "read.ME", "same file"]),
            "same-file-latin-1": ({"Ärger.txt": b"", "äRGER.txt": b""}, ["Ärger.txt", "äRGER.txt", "same file"]),
            "same-file-latin-ext": ({"Łódź/a": b"", "łÓDŹ/b": b""}, ["Łódź/", "łÓDŹ/", "same file"]),
            "not-utf8": ({os.fsdecode(b"caf\xe9.txt"): b""}, ['"caf\\xE9.txt"', "not valid UTF-8"]),
            "link-outside": ({"a.txt": b"", "out": outside}, ["/out is a symbolic link to " + outside, "outside"]),
            "link-dangling": ({"gone": "nowhere"}, ["/gone is a symbolic link", "leads nowhere"]),
            "link-loop": ({"x": "y", "y": "x"}, ["/x is a symbolic link", "leads nowhere"]),
            "link-up": ({"sub/a.txt": b"", "sub/up": ".."}, ["sub/up leads back"]),
        }
        make_tree(self.dir, {"outside.txt": b""})
        for label, (files, fragments) in cases.items():
            with self.subTest(label):
                src = os.path.join(self.dir, label)
                make_tree(src, {name: data for name, data in files.items() if isinstance(data, bytes)})
                make_links(src, {name: target for name, target in files.items() if isinstance(target, str)})
                self.assertRefused(src, *fragments)
        os.mkdir(os.path.join(self.dir, "nothing"))
        self.assertRefused(os.path.join(self.dir, "nothing"), "empty")
        make_tree(os.path.join(self.dir, "fifo"), {})
        os.mkfifo(os.path.join(self.dir, "fifo", "pipe"))
        self.assertRefused(os.path.join(self.dir, "fifo"), "pipe", "neither a file nor a folder")

    def test_any_thread_count_gives_the_same_bytes_and_pieces_join_into_one_stream(self):
        # Around the 4 MiB piece: less, exactly one (an empty last piece
        # follows), several; noise that is stored in the end.
        text = b"".join(b"%d: %x quick brown foxes\n" % (i, i * i) for i in range(400000))
        files = {"small.txt": text[:1000], "one-piece.txt": text[:PIECE], "pieces.txt": text[:2 * PIECE + 12345],
                 "noise.bin": os.urandom(PIECE + 100), "empty.txt": b""}
        make_tree(self.src, files)
        for level, flags in ((1, 6), (6, 0), (12, 2)):       # bits 1-2: super fast, normal, maximum
            with self.subTest(level=level):
                outputs = {threads: (self.pack("--level", str(level), "--threads", str(threads), self.src)[0],
                                     read(self.out))[1] for threads in (1, 4)}
                self.assertTrue(outputs[1] == outputs[4], "--threads 1 and --threads 4 wrote different files")
                entries = walk(self.out)[0]
                self.assertExtractsTo(entries, files)
                method = {e["name"]: (e["method"], e["flags"] & 6) for e in entries}
                self.assertEqual(method["pieces.txt"], (8, flags))
                self.assertEqual((method["noise.bin"], method["empty.txt"]), ((0, 0), (0, 0)))

    def test_level_12_spends_fewer_bits_than_libdeflate_on_its_blocks(self):
        # Text and binary records in turns: libdeflate's blocks, merged and
        # cut anew, take fewer bytes than libdeflate's own level 12.
        rng = random.Random(7)
        parts = [b"".join(b"%d: the %s sat on the %s\n" % (i, rng.choice([b"cat", b"dog"]), rng.choice([b"mat", b"log"]))
                          for i in range(300)) if k % 2 else
                 b"".join(struct.pack("<IHH", rng.randrange(1 << 20), rng.randrange(64), k) for i in range(800))
                 for k in range(40)]
        files = {"mixed.bin": b"".join(parts)}
        make_tree(self.src, files)
        entry = self.pack(self.src)[0][0]
        self.assertExtractsTo([entry], files)
        lib = ctypes.CDLL("libdeflate.so.0")
        lib.libdeflate_alloc_compressor.restype = ctypes.c_void_p
        lib.libdeflate_alloc_compressor.argtypes = [ctypes.c_int]
        lib.libdeflate_deflate_compress.restype = ctypes.c_size_t
        lib.libdeflate_deflate_compress.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t,
                                                    ctypes.c_char_p, ctypes.c_size_t]
        compressor = lib.libdeflate_alloc_compressor(12)
        room = ctypes.create_string_buffer(2 * len(files["mixed.bin"]))
        plain = lib.libdeflate_deflate_compress(compressor, files["mixed.bin"], len(files["mixed.bin"]), room, len(room))
        lib.libdeflate_free_compressor.argtypes = [ctypes.c_void_p]
        lib.libdeflate_free_compressor(compressor)
        self.assertLess(len(entry["data"]), plain * 0.99)

    def test_a_progress_line_only_on_a_terminal(self):
        # 8 MB of records take level 12 on one thread well over a second.
        rng = random.Random(3)
        files = {"records.bin": b"".join(struct.pack("<IHH", rng.randrange(1 << 20), rng.randrange(64), i & 0xFFFF)
                                         for i in range(1000000))}
        make_tree(self.src, files)
        shown = {}
        for quiet in ([], ["--quiet"]):
            terminal, other_end = pty.openpty()
            result = subprocess.run([MKSFX, "--stub", STUB, "--threads", "1", *quiet, "-o", self.out, self.src],
                                    stdout=subprocess.PIPE, stderr=other_end)
            os.close(other_end)
            text = b""
            try:
                while chunk := os.read(terminal, 4096):
                    text += chunk
            except OSError:         # the other end is closed
                pass
            os.close(terminal)
            self.assertEqual(result.returncode, 0)
            shown[bool(quiet)] = (text.decode(), read(self.out))
        self.assertRegex(shown[False][0], r"^(\rmksfx: [01] of 1 files, [0-9.]+ of 8\.0 MB, [0-9.]+ MB/s *)+"
                                          r"\rmksfx: 1 of 1 files, 8\.0 of 8\.0 MB, [0-9.]+ MB/s\r?\n$")
        self.assertEqual(shown[True][0], "")
        self.assertTrue(shown[False][1] == shown[True][1])
        # Not a terminal: nothing.
        self.assertEqual(mksfx("--stub", STUB, "-o", self.out, self.src).stderr, "")
        # Interrupted on a terminal: the line ends, and says so.
        huge_sparse_file(os.path.join(self.src, "huge.bin"))
        terminal, other_end = pty.openpty()
        program = subprocess.Popen([MKSFX, "--stub", STUB, "--level", "1", "-o", self.out, self.src],
                                   stdout=subprocess.DEVNULL, stderr=other_end)
        os.close(other_end)
        text = b""
        while b"MB/s" not in text:
            self.assertTrue(select.select([terminal], [], [], 60)[0], "no progress line")
            text += os.read(terminal, 4096)
        program.send_signal(signal.SIGINT)
        try:
            while chunk := os.read(terminal, 4096):
                text += chunk
        except OSError:
            pass
        os.close(terminal)
        self.assertEqual(program.wait(60), -signal.SIGINT)
        self.assertRegex(text.decode(), r"MB/s *\r?\nmksfx: interrupted\r?\n$")
        self.assertEqual(glob.glob(self.out + ".*"), [])

    def test_a_file_changed_while_it_is_read_is_refused(self):
        # mksfx is stopped in the middle of a file, which is changed
        # meanwhile: cut short (a hole of 1 TiB, whose reading no test waits
        # for), or written to with its size as it was (512 MiB, read in a
        # few seconds once mksfx goes on).
        def cut(path):
            os.truncate(path, 1 << 20)

        def touched(path):
            listed = os.stat(path).st_mtime_ns
            os.utime(path, ns=(listed + 10**9, listed + 10**9))

        for change, size, why in ((cut, 1 << 40, "1099511627776 bytes when listed, 1048576 now"),
                                  (touched, 512 << 20, "written to since it was listed")):
            with self.subTest(change.__name__):
                make_tree(self.src, {"small.txt": b"small"})
                big = os.path.join(self.src, "big.bin")
                with open(big, "wb") as f:
                    f.truncate(size)
                program = subprocess.Popen([MKSFX, "--stub", STUB, "--level", "1", "-o", self.out, self.src],
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                position = stop_while_reading(self, program, big)
                self.assertLess(position, size, "mksfx had read the whole file before it was stopped")
                change(big)
                program.send_signal(signal.SIGCONT)
                _, errors = program.communicate(timeout=120)
                self.assertEqual(program.returncode, 1, errors)
                self.assertIn(f"{big} changed while mksfx read it ({why})", errors)
                self.assertEqual(glob.glob(self.out + "*"), [])

    def test_password_encrypts_every_file(self):
        make_tree(self.src, SAMPLE_FILES, SAMPLE_FOLDERS)
        password_file = os.path.join(self.dir, "password.txt")
        with open(password_file, "wb") as f:
            f.write(b"open Sesame-42\r\nnot this line\n")
        written = []
        for args in (["--password", "open Sesame-42"], ["--password-file", password_file]):
            with self.subTest(args[0]):
                entries = self.pack(*args, self.src)[0]
                written.append(read(self.out))
                # Check byte from the CRC: bit 3 clear, no descriptor.
                self.assertExtractsTo(entries, SAMPLE_FILES, SAMPLE_FOLDERS, password=b"open Sesame-42")
                self.assertEqual({e["name"]: e["flags"] & 9 for e in entries},
                                 {e["name"]: 0 if e["name"].endswith("/") else 1 for e in entries})
                for e in entries:
                    if not e["name"].endswith("/"):
                        with self.assertRaises((ValueError, zlib.error)):
                            extract(e, b"open sesame-42")
        self.assertTrue(written[0] == written[1], "the same password gives the same file")
        refusals = [(["--password", ""], "empty", 1), (["--password", "Grüße"], "beyond ASCII", 1),
                    (["--password", "p" * 80], "at most 79", 1), (["--password", "a\tb"], "control character", 1),
                    (["--password-file", os.path.join(self.dir, "missing")], "cannot open", 1),
                    (["--password", "a", "--password-file", password_file], "one --password", 2),
                    (["--recompress"], "--recompress is for a ZIP", 2)]
        for args, fragment, status in refusals:
            with self.subTest(args=args):
                self.assertRefused(self.src, fragment, args=args, status=status)

    def test_a_failed_write_leaves_nothing_and_keeps_an_old_output(self):
        make_tree(self.src, {"noise.bin": os.urandom(1 << 20)})
        with open(self.out, "wb") as f:
            f.write(b"older output")
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (200000, 200000))
        result = subprocess.run([MKSFX, "--stub", STUB, "-o", self.out, self.src], preexec_fn=limit,
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot write", result.stderr)
        self.assertEqual(glob.glob(self.out + "*"), [self.out])
        self.assertEqual(read(self.out), b"older output")


class FromZip(PackerTest):
    def setUp(self):
        super().setUp()
        make_tree(self.src, SAMPLE_FILES, SAMPLE_FOLDERS)
        self.zip = os.path.join(self.dir, "in.zip")

    def test_archives_of_every_peer_become_walkable(self):
        for tool in PEERS:
            with self.subTest(tool):
                os.path.exists(self.zip) and os.remove(self.zip)
                zip_with(tool, self.src, self.zip)
                with zipfile.ZipFile(self.zip) as z:
                    times = {i.filename.removeprefix("./"): i.date_time for i in z.infolist()}
                times.pop("", None)
                entries, end = self.pack(self.zip)
                self.assertEqual(end, CENTRAL)
                self.assertExtractsTo(entries, SAMPLE_FILES, SAMPLE_FOLDERS)
                self.assertEqual({e["name"]: date_time(e["timedate"]) for e in entries}, times)
                with zipfile.ZipFile(self.out) as z:
                    self.assertEqual({i.filename: i.date_time for i in z.infolist()}, times)

    def test_names_as_the_archive_means_them(self):
        make_tree(os.path.join(self.dir, "wide"), WIDE_FILES)
        for tool in PEERS:       # raw UTF-8 from zip (Unix host), flag bit 11 from the others
            with self.subTest(tool):
                os.path.exists(self.zip) and os.remove(self.zip)
                zip_with(tool, os.path.join(self.dir, "wide"), self.zip)
                entries = self.pack(self.zip)[0]
                self.assertExtractsTo(entries, WIDE_FILES, ())
                self.assertTrue(all(e["flags"] & 0x800 for e in entries if not e["name"].isascii()))
        dos, ntfs, unix = 0x0014, 0x0B14, 0x0314
        upper_half = bytes(range(0x80, 0x100))
        field = unicode_path(b"?bersicht.txt", "Übersicht.txt".encode())
        cases = [   # name bytes, entry fields, host, options: the name written, as UTF-8 unless None
            (b"\x9abersicht.txt", {}, dos, (), "Übersicht.txt"),
            (upper_half, {}, ntfs, (), upper_half.decode("cp437")),
            ("naïve.txt".encode(), {}, unix, (), "naïve.txt"),
            (b"?bersicht.txt", {"extra": field}, unix, (), "Übersicht.txt"),
            (b"stale.txt", {"extra": unicode_path(b"other.txt", b"x")}, unix, (), "stale.txt"),
            ("Grüße.txt".encode(), {"flags": 0x800}, dos, ("--name-encoding", "ansi"), "Grüße.txt"),
            (("é" * 256 + "\U0001F600").encode(), {"flags": 0x800}, dos, (), "é" * 256 + "\U0001F600"),
            (b"\x9a.txt", {}, unix, ("--name-encoding", "cp437"), "Ü.txt"),
            ("ü.txt".encode(), {}, dos, ("--name-encoding", "utf8"), "ü.txt"),
            (b"caf\xe9.txt", {}, unix, (), None),
            (b"\x9abersicht.txt", {}, dos, ("--name-encoding", "ansi"), None),
        ]
        for name, fields, host, options, written in cases:
            with self.subTest(name[:20], options=options):
                write_stored_zip(self.zip, {name: {"data": b"1", **fields}}, made_by=host)
                result = mksfx("--stub", STUB, *options, "-o", self.out, self.zip)
                self.assertEqual(result.returncode, 0, result.stderr)
                entry = walk(self.out)[0][0]
                expected = (name, 0) if written is None else (written.encode(), 0 if written.isascii() else 0x800)
                self.assertEqual((entry["raw"], entry["flags"] & 0x800), expected)
                self.assertNotIn(b"up", entry["extra"])
                self.assertEqual("warning" in result.stderr, written is None and not options, result.stderr)

    def test_folder_entries_with_data_come_out_without_it(self):
        # jar writes META-INF/ with the 2-byte empty deflate stream behind a
        # descriptor; Python's zipfile deflates a folder's nothing the same
        # way; a stored folder with an encryption header of its own.
        jar_shape = {b"META-INF/": {"data": b"\x03\x00", "method": 8, "size": 0, "crc": 0,
                                    "extra": b"\xfe\xca\x00\x00"}, b"META-INF/MANIFEST.MF": b"Manifest-Version: 1.0\r\n"}
        shapes = {"jar": lambda: write_stored_zip(self.zip, {**jar_shape, b"a/b.txt": b"b"}),
                  "zipfile": lambda: self.zipfile_with_deflated_folder()}
        for label, make in shapes.items():
            with self.subTest(label):
                os.path.exists(self.zip) and os.remove(self.zip)
                make()
                with zipfile.ZipFile(self.zip) as z:
                    expected = {i.filename: z.read(i) for i in z.infolist() if not i.is_dir()}
                entries, end = self.pack(self.zip)
                self.assertEqual(end, CENTRAL)
                self.assertExtractsTo(entries, expected)
                for e in entries:
                    if e["name"].endswith("/"):
                        self.assertEqual((e["method"], e["data"], e["flags"] & 9), (0, b"", 0), e["name"])
                self.assertEqual(mksfx("--info", self.out).returncode, 0)

    def zipfile_with_deflated_folder(self):
        with zipfile.ZipFile(self.zip, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr(zipfile.ZipInfo("docs/"), b"", compress_type=zipfile.ZIP_DEFLATED)
            z.writestr("docs/a.txt", b"a" * 100)
        with zipfile.ZipFile(self.zip) as z:
            assert z.getinfo("docs/").compress_size == 2, "zipfile no longer deflates a folder's nothing"

    def test_folders_by_their_attributes_become_folder_entries(self):
        for host, attributes in ((0, 0x10), (3, 0o40755 << 16)):     # old MS-DOS writers; a Unix mode
            with self.subTest(host=host):
                write_stored_zip(self.zip, {b"DEF": {"data": b"", "external": attributes}, b"DEF/FOO.TXT": b"foo"},
                                 made_by=host << 8 | 20)
                self.assertExtractsTo(self.pack(self.zip)[0], {"DEF/FOO.TXT": b"foo"}, ())

    def test_zip64_fields_of_small_entries_are_dropped(self):
        # Python's zipfile puts all ones and ZIP64 sizes in the local
        # header; zip -fz puts ZIP64 blocks in both headers and a ZIP64 end
        # record.
        text = SAMPLE_FILES["readme.txt"]
        for writer in ("zipfile", "zip -fz"):
            with self.subTest(writer):
                os.path.exists(self.zip) and os.remove(self.zip)
                if writer == "zipfile":
                    with zipfile.ZipFile(self.zip, "w", zipfile.ZIP_DEFLATED) as z, \
                            z.open("big.txt", "w", force_zip64=True) as f:
                        f.write(text)
                else:
                    make_tree(self.dir, {"big.txt": text})
                    subprocess.run(["zip", "-q", "-fz", self.zip, "big.txt"], cwd=self.dir, check=True)
                entries, end = self.pack(self.zip)
                self.assertEqual(end, CENTRAL)
                self.assertExtractsTo(entries, {"big.txt": text})
                self.assertNotIn(1, extra_blocks(entries[0]["extra"]))
                with zipfile.ZipFile(self.out) as z:
                    self.assertEqual(z.infolist()[0].extract_version, 20)
                    self.assertNotIn(1, extra_blocks(z.infolist()[0].extra))
                self.assertNotIn(b"PK\6\6", read(self.out)[-200:])
                self.assertNotIn("ZIP64", mksfx("--info", self.out).stdout)

    def test_zip64_records_go_exactly_where_a_value_needs_them(self):
        def entries(count):
            write_stored_zip(self.zip, {b"%02d/%05d" % (i // 1000, i): b"%d" % i for i in range(count)})
            return self.zip

        def four_gib():     # deflated: the e2e tests pack such an entry from a folder
            zeros = {"data": deflated_zeros(1 << 32), "method": 8, "size": 1 << 32, "crc": zeros_crc(1 << 32)}
            write_stored_zip(self.zip, {b"small.txt": b"small", b"zeros.bin": zeros})
            return self.zip

        # The input, and what uses ZIP64: the entries whose local header
        # has a ZIP64 block (both sizes), those whose central record has
        # one (the uncompressed size alone here), the end record, and
        # what --info says of it.
        cases = {
            "65,535 entries": (lambda: entries(0xFFFF), set(), set(), False, None),
            "65,536 entries": (lambda: entries(0x10000), set(), set(), True, "ZIP64: used by the end record"),
            "an entry of 4 GiB": (four_gib, {"zeros.bin"}, {"zeros.bin"}, False,
                                  "ZIP64: used by 1 local header and 1 central record"),
        }
        for label, (make, local, central, end_record, info) in cases.items():
            with self.subTest(label):
                found, end = self.pack("--level", "1", make())
                self.assertEqual(end, CENTRAL)
                self.assertEqual({e["name"] for e in found if e["zip64"]}, local)
                with zipfile.ZipFile(self.out) as z:
                    infos = z.infolist()
                    self.assertEqual(len(infos), len(found))
                    self.assertEqual({i.filename for i in infos if 1 in extra_blocks(i.extra)}, central)
                    self.assertEqual({i.filename for i in infos if i.extract_version == 45}, local | central)
                    for e in found:
                        if e["zip64"]:
                            record = z.getinfo(e["name"])
                            self.assertEqual(extra_blocks(e["extra"])[1],
                                             struct.pack("<QQ", record.file_size, record.compress_size))
                            self.assertEqual(extra_blocks(record.extra)[1], struct.pack("<Q", record.file_size))
                    if local:
                        self.assertEqual(z.getinfo("zeros.bin").file_size, 1 << 32)
                        self.assertEqual(z.read("small.txt"), b"small")
                self.assertEqual(b"PK\6\6" in read(self.out)[-200:], end_record)
                shown = mksfx("--info", self.out)
                self.assertEqual(shown.returncode, 0, shown.stdout)
                self.assertIn("the extractor gets through every entry", shown.stdout)
                if info:
                    self.assertIn(info, shown.stdout)
                else:
                    self.assertNotIn("ZIP64", shown.stdout)
                if not local:
                    self.assertEqual(subprocess.run(["unzip", "-tqq", self.out]).returncode, 0)

    def test_encrypted_entries_keep_what_their_password_check_needs(self):
        # zip -P to a pipe sets bit 3 (check against the time) and puts no
        # CRC in the local header; 7-Zip keeps bit 3 clear (check the CRC).
        for tool, command in (("zip-pipe", f"zip -q -r -P secret - . | cat > {self.zip}"),
                              ("zip", f"zip -q -r -P secret {self.zip} ."),
                              ("7z", f"7z a -tzip -mem=ZipCrypto -psecret -bd {self.zip} . >/dev/null")):
            with self.subTest(tool):
                os.path.exists(self.zip) and os.remove(self.zip)
                subprocess.run(command, shell=True, cwd=self.src, check=True)
                with zipfile.ZipFile(self.zip) as z:
                    bit3 = {i.filename: i.flag_bits & 8 for i in z.infolist()}
                entries, end = self.pack(self.zip)
                self.assertEqual(end, CENTRAL)
                self.assertEqual({e["name"]: e["flags"] & 8 for e in entries}, bit3)
                self.assertExtractsTo(entries, SAMPLE_FILES, SAMPLE_FOLDERS, password=b"secret")

    def test_password_and_recompress(self):
        # Stored entries, and one that another password encrypts already.
        subprocess.run(["zip", "-q", "-0", "-r", self.zip, "readme.txt", "docs", "empty"], cwd=self.src, check=True)
        subprocess.run(["zip", "-q", "-P", "other", self.zip, "deep/a/b/c.txt", "bin/noise.bin"], cwd=self.src,
                       check=True)
        other = {"deep/a/b/c.txt", "bin/noise.bin"}
        for args in ([], ["--recompress"], ["--password", "new"], ["--recompress", "--password", "new"]):
            with self.subTest(args=args):
                entries, end = self.pack(*args, self.zip)
                self.assertEqual(end, CENTRAL)
                for e in entries:
                    if e["name"].endswith("/"):
                        self.assertEqual(e["flags"] & 1, 0, e["name"])
                        continue
                    self.assertEqual(e["flags"] & 1, int(e["name"] in other or "--password" in args), e["name"])
                    self.assertEqual(extract(e, b"other" if e["name"] in other else b"new"),
                                     SAMPLE_FILES[e["name"]])
                    if e["name"] not in other:
                        compressed = e["name"] != "docs/empty.txt" and "--recompress" in args
                        self.assertEqual(e["method"], 8 if compressed else 0, e["name"])
                with zipfile.ZipFile(self.out) as z:
                    self.assertEqual(sorted(z.namelist()), sorted(e["name"] for e in entries))

    def test_refusals(self):
        peers = {
            "bzip2": ("zip -q -Z bzip2 {} readme.txt", ["readme.txt", "bzip2"]),
            "aes": ("7z a -tzip -mem=AES256 -psecret -bd {} readme.txt >/dev/null", ["readme.txt", "AES"]),
        }
        for label, (command, fragments) in peers.items():
            with self.subTest(label):
                os.path.exists(self.zip) and os.remove(self.zip)
                subprocess.run(command.format(self.zip), shell=True, cwd=self.src, check=True)
                self.assertRefused(self.zip, *fragments)
        names = {b"../up.txt": "outside", b"/root.txt": "outside", b"c:/x.txt": "outside", b"a/NUL": "device",
                 b"a/ ./b": "outside", b"x" * 259: "259 UTF-16 units", b"": "empty name", b"a\0b": "NUL",
                 b"a/.": "names the folder", "é".encode() * 259: "259 UTF-16 units",
                 "\U0001F600".encode() * 130: "260 UTF-16 units",
                 b"\xf0\x9f\x98.txt": '"\\xF0\\x9F\\x98.txt" has a name that is not valid UTF-8'}
        for name, why in names.items():     # with bit 11 beyond ASCII
            with self.subTest(name[:20]):
                flags = 0 if name.isascii() else 0x800
                write_stored_zip(self.zip, {b"fine.txt": b"1", name: {"data": b"2", "flags": flags}})
                label = name.decode(errors="replace").replace("\0", "\\x00")
                shown = ['"%s"' % label] if "\ufffd" not in label else []     # not UTF-8: in why, as \xHH
                self.assertRefused(self.zip, why, *shown)
        archives = {   # entries, host: what the refusal says
            "same-file": ({b"Doc.txt": b"1", b"doc.TXT": b"2"}, 0, ['"Doc.txt"', '"doc.TXT"', "same file"]),
            "same-file-decoded": ({b"\x9aber.txt": b"1", "über.TXT".encode(): {"data": b"2", "flags": 0x800}}, 0,
                                  ['"Über.txt"', '"über.TXT"', "same file"]),
            "link": ({b"link": {"data": b"target", "external": 0o120777 << 16}}, 3, ['"link"', "symbolic link"]),
            "folder-with-data": ({b"dir": {"data": b"x", "external": 0o40755 << 16}}, 3,
                                 ['"dir"', "folder by its attributes"]),
            "file-and-folder": ({b"a": b"1", b"A/b": b"2"}, 0, ['"a"', '"A/b"', "needs a folder"]),
            "folder-and-file": ({b"x/y/z": b"1", b"X/Y": b"2"}, 0, ['"X/Y"', '"x/y/z"', "needs a folder"]),
        }
        for label, (entries, host, fragments) in archives.items():
            with self.subTest(label):
                write_stored_zip(self.zip, entries, made_by=host << 8 | 20)
                self.assertRefused(self.zip, *fragments)
        with open(self.zip, "wb") as f:      # cut short: a local header, no end record
            f.write(b"PK\3\4" + bytes(40))
        self.assertRefused(self.zip, "not one", "cut short")

    def test_a_damaged_entry_stops_midway_and_leaves_nothing(self):
        with zipfile.ZipFile(self.zip, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("good.txt", b"good " * 1000)
            z.writestr("bad.txt", b"".join(b"%d is bad\n" % i for i in range(5000)))
        data = bytearray(read(self.zip))
        data[data.index(b"bad.txt") + 7 + 500] ^= 0xFF     # inside bad.txt's deflate data
        with open(self.zip, "wb") as f:
            f.write(data)
        for args in ((), ("--recompress",), ("--password", "pw")):
            with self.subTest(args=args):
                self.assertRefused(self.zip, '"bad.txt"', "damaged", args=args)


class SettingsAndInfo(PackerTest):
    def setUp(self):
        super().setUp()
        make_tree(self.src, {"setup.exe": b"MZ program"})

    def block(self, *args):
        self.pack(*args, self.src)
        data = read(self.out)
        return data[stub_length(data):stub_length(data) + BLOCK_SIZE]

    def test_options_become_flags_and_texts(self):
        cases = [([], None), (["--no-settings"], None), (["--title", "T"], 0x03), (["--hide-run"], 0x02),
                 (["--all-files"], 0x01), (["--hide-overwrite"], 0x07), (["--overwrite", "always"], 0x0B),
                 (["--overwrite", "never"], 0x13), (["--overwrite=never"], 0x13), (["--automatic"], 0x43),
                 (["--flags", "0x18"], 0x18), (["--flags", "0", "--all-files"], 0x00),
                 (["--title", "Müller"], 0x23), (["--run", "><Übersicht.exe"], 0x23),
                 (["--folder", "C:\\Łódź", "--hide-run"], 0x22), (["--flags", "0x03", "--title", "Müller"], 0x03)]
        for args, flags in cases:
            with self.subTest(args):
                block = self.block(*args)
                if flags is None:
                    self.assertEqual(block[:4], b"PK\3\4")
                else:
                    self.assertEqual((block[:3], block[3]), (b"MPU", flags))
        block = self.block("--title", "Demo", "--temp-folder", "--run", "><setup.exe", "--hide-run")
        self.assertEqual(block[:7], b"MPU\x02\x04\x02\x0b")
        self.assertEqual(block[7:], b"Demo><><setup.exe".ljust(BLOCK_SIZE - 7, b"\0"))
        # Lengths count bytes of UTF-8.
        block = self.block("--title", "Grüße 鬼", "--folder", "C:\\Müller")
        self.assertEqual(block[:7], b"MPU\x23\x0b\x0a\x00")
        self.assertEqual(block[7:28], "Grüße 鬼C:\\Müller".encode())
        self.assertEqual([e["name"] for e in walk(self.out)[0]], ["setup.exe"])

    def test_text_limits(self):
        self.block("--title", "t" * 249)
        self.block("--title", "t" * 200, "--folder", "f" * 40, "--run", "r" * 9)
        self.assertRefused(self.src, "256 bytes", "255", args=("--title", "t" * 256))
        self.assertRefused(self.src, "250 bytes", "249", args=("--title", "t" * 250))
        self.assertRefused(self.src, "250 bytes", "249", args=("--title", "t" * 200, "--run", "r" * 50))
        self.block("--title", "é" * 124 + "t")
        self.assertRefused(self.src, "250 bytes", "249", args=("--title", "é" * 125))
        self.assertRefused(self.src, "--folder is not UTF-8", args=("--folder", os.fsdecode(b"C:\\Caf\xe9")))

    def test_info_shows_settings_and_entries(self):
        self.block("--title", "Demo 1.0", "--temp-folder", "--run", "><setup.exe", "--overwrite", "never")
        info = mksfx("--info", self.out)
        self.assertEqual(info.returncode, 0, info.stdout)
        for text in ('"Demo 1.0"', "temporary folder", '"><setup.exe"', "overwrite: never",
                     "user selects files", '"setup.exe"', "1 entry;", "gets through"):
            self.assertIn(text, info.stdout)
        self.assertIn("settings: none", mksfx("--info", STUB).stdout)
        # Each text as the extractor reads it: UTF-8 under flag bit 5, else
        # bytes of the ANSI code page, also when bit 5 is set but the text
        # is not UTF-8.
        cases = [(["--title", "Grüße"], ['title   "Grüße"  utf8', 'folder  ""  ascii', "texts in UTF-8"]),
                 (["--flags", "0x03", "--title", "Grüße"], ['title   "Gr\\xC3\\xBC\\xC3\\x9Fe"  ansi bytes']),
                 (["--flags", "0x23", "--title", os.fsdecode(b"Caf\xe9"), "--run", "ok.exe"],
                  ['title   "Caf\\xE9"  ansi bytes', 'run     "ok.exe"  ascii'])]
        for args, texts in cases:
            with self.subTest(args=args):
                self.block(*args)
                shown = mksfx("--info", self.out).stdout
                for text in texts:
                    self.assertIn(text, shown)

    def test_info_shows_how_each_name_is_read(self):
        archive = os.path.join(self.dir, "names.zip")
        write_stored_zip(archive, {"Grüße.txt".encode(): {"data": b"1", "flags": 0x800}, b"caf\x82.txt": b"2",
                                   b"?bersicht.txt": {"data": b"3", "extra": unicode_path(b"?bersicht.txt",
                                                                                         "Übersicht.txt".encode())},
                                   b"plain.txt": b"4", b"bad\xff.txt": {"data": b"5", "flags": 0x800}})
        self.pack("--raw-zip", archive)
        info = mksfx("--info", self.out)
        self.assertEqual(info.returncode, 1)
        for text in ('"Grüße.txt"  utf8 (flag)', '"caf\\x82.txt"  ansi bytes', '"plain.txt"  ascii',
                     '"Übersicht.txt"  utf8 (unicode path field)', '"bad\\xFF.txt" at offset',
                     "refuses it: it has a name that is not valid UTF-8"):
            self.assertIn(text, info.stdout)

    def test_info_decodes_every_entry(self):
        text = b"".join(b"line %d of a text that deflates\n" % i for i in range(3000))
        make_tree(self.src, {"text.txt": text, "noise.bin": os.urandom(5000)})
        for options in ([], ["--password", "pw"]):
            self.pack(*options, self.src)
            packed = read(self.out)
            # The middle of each entry's data, past an encryption header.
            skip = 12 if options else 0
            data = {e["name"]: packed.index(e["data"]) + skip + (len(e["data"]) - skip) // 2 for e in walk(self.out)[0]}
            password = ["--password", "pw"] if options else []
            # As written, and with one byte flipped inside each entry's data.
            cases = [(None, password, 0, "3 of 3 entries decode")]
            cases += [(name, password, 1, f'"{name}" at offset') for name in data]
            if options:
                cases += [(None, [], 0, "data: 3 encrypted entries not checked"),
                          (None, ["--password", "wrong"], 1, "the password does not open it")]
            for flipped, given, status, shown in cases:
                with self.subTest(options=options, flipped=flipped, given=given):
                    damaged = bytearray(packed)
                    if flipped:
                        damaged[data[flipped]] ^= 0x20
                    path = os.path.join(self.dir, "damaged.exe")
                    with open(path, "wb") as f:
                        f.write(damaged)
                    info = mksfx("--info", path, *given)
                    self.assertEqual(info.returncode, status, info.stdout)
                    self.assertIn(shown, info.stdout)
                    if flipped:
                        self.assertRegex(info.stdout, r"does not (match its CRC-32|decode)|decodes to \d+ bytes|"
                                                      r"deflate data (ends before|is cut short)")

    def test_info_tells_when_the_extractor_would_not_get_through(self):
        zip_with("bsdtar-pipe", self.src, os.path.join(self.dir, "stream.zip"))
        self.pack("--raw-zip", os.path.join(self.dir, "stream.zip"))
        info = mksfx("--info", self.out)
        self.assertEqual(info.returncode, 1)
        self.assertIn("left to a data descriptor", info.stdout)
        self.assertIn("would not get through", info.stdout)
        self.assertEqual(mksfx("--info", os.path.join(self.dir, "stream.zip")).returncode, 1)

    def test_default_stub_is_found_beside_the_program(self):
        bin_dir = os.path.join(self.dir, "bin")
        os.mkdir(bin_dir)
        shutil.copy(MKSFX, bin_dir)
        stub = b"MZ" + bytes(STUB_SIZE_MIN - 2)
        with open(os.path.join(bin_dir, "sfx-x86.exe"), "wb") as f:
            f.write(stub)
        run = lambda: subprocess.run([os.path.join(bin_dir, "mksfx"), "-o", self.out, self.src],
                                     cwd=self.dir, capture_output=True, text=True)
        self.assertEqual(run().returncode, 0)
        self.assertEqual(read(self.out)[:STUB_SIZE_MIN], stub)
        os.remove(os.path.join(bin_dir, "sfx-x86.exe"))
        self.assertIn("cannot find the extractor", run().stderr)


class CommandLine(PackerTest):
    def test_habits_of_other_packers(self):
        make_tree(self.src, {"a.txt": b"a" * 1000, "docs/b.txt": b"b" * 1000})
        subprocess.run(["zip", "-q", "-r", "-P", "pw", os.path.join(self.dir, "locked.zip"), "."], cwd=self.src,
                       check=True)
        subprocess.run(["zip", "-q", "-r", os.path.join(self.dir, "plain.zip"), "."], cwd=self.src, check=True)
        a, docs = os.path.join(self.src, "a.txt"), os.path.join(self.src, "docs")
        locked, plain = os.path.join(self.dir, "locked.zip"), os.path.join(self.dir, "plain.zip")
        names = lambda: [e["name"] for e in walk(self.out)[0]]
        reference = lambda *args: (mksfx("--stub", STUB, *args, "-o", self.out, self.src), read(self.out))[1]
        # Arguments (OUT and --stub added), the exit status, and a check of
        # what came out: stdout, stderr and the output file.
        cases = {
            "--version": (["--version"], 0, lambda out, err: self.assertRegex(out, r"^mksfx \d+\.\d+\.\d+\n$")),
            "--threads=2": (["--threads=2", self.src], 0,
                            lambda out, err: self.assertEqual(read(self.out), reference("--threads", "2"))),
            "-q": (["-q", self.src], 0, lambda out, err: self.assertEqual(err, "")),
            "--level 0": (["--level", "0", self.src], 0,
                          lambda out, err: self.assertEqual({e["method"] for e in walk(self.out)[0]}, {0})),
            "several inputs": ([a, docs], 0, lambda out, err: self.assertEqual(names(), ["a.txt", "docs/", "docs/b.txt"])),
            "one file": ([a], 0, lambda out, err: self.assertEqual(names(), ["a.txt"])),
            "-o twice": (["-o", self.out, self.src], 2, lambda out, err: self.assertIn("-o is given twice", err)),
            "a value for a switch": (["--quiet=yes", self.src], 2,
                                     lambda out, err: self.assertIn("--quiet takes no value", err)),
            "--hide-run alone": (["--hide-run", self.src], 0,
                                 lambda out, err: self.assertIn("warning: --hide-run has no effect", err)),
            "--level on a ZIP": (["--level", "3", plain], 0,
                                 lambda out, err: self.assertIn("warning: --level has no effect", err)),
            "--password on encrypted entries": (["--password", "new", locked], 0,
                                                lambda out, err: self.assertIn("warning: --password has no effect", err)),
        }
        for label, (args, status, check) in cases.items():
            with self.subTest(label):
                os.path.exists(self.out) and os.remove(self.out)
                result = mksfx(*(args if label == "--version" else ["--stub", STUB, "-o", self.out, *args]))
                self.assertEqual(result.returncode, status, result.stderr)
                check(result.stdout, result.stderr)
        # Messages name OUT, not the temporary file beside it.
        missing = os.path.join(self.dir, "missing", "out.exe")
        result = mksfx("--stub", STUB, "-o", missing, self.src)
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot write " + missing + ":", result.stderr)
        self.assertNotIn(".part", result.stderr)
        # The help tells the true bound of the settings texts.
        shown = mksfx("--help").stdout
        self.assertIn("249 bytes together", shown)
        self.assertNotIn("255 bytes", shown)


def resources(pe):
    """{(type, name, language): data} of a PE file; names are ids or strings."""
    found = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                key = (t.id if t.name is None else str(t.name), n.id if n.name is None else str(n.name), lang.id)
                found[key] = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
    return found


def group_entries(data):
    """An icon group's entries: (width, height, bits, size, image id)."""
    count = struct.unpack_from("<H", data, 4)[0]
    return [struct.unpack_from("<BB2xxxHIH", data, 6 + 14 * i) for i in range(count)]


def version_texts(pe):
    texts = {}
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            texts.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return texts


class Branding(PackerTest):
    """--icon and --file-version: the packager's icon and version information in
    the extractor's resources; everything else as without them."""

    def setUp(self):
        super().setUp()
        make_tree(self.src, {"setup.exe": b"MZ program"})
        self.icon = os.path.join(self.dir, "brand.ico")

    def brand(self, *args, stub=STUB):
        result = mksfx("--stub", stub, *args, "-o", self.out, self.src)
        self.assertEqual(result.returncode, 0, result.stderr)
        pe = pefile.PE(self.out)
        self.assertEqual(pe.get_warnings(), [])
        self.assertTrue(pe.verify_checksum())
        return pe

    def test_icon_and_version_in_both_stubs(self):
        images = [(32, 32, bitmap_image(32)), (16, 32, bitmap_image(16)), (48, 32, png_image(48))]
        write_icon(self.icon, images)
        for arch, stub in STUBS.items():
            with self.subTest(arch):
                plain_file = os.path.join(self.dir, "plain.exe")
                self.assertEqual(mksfx("--stub", stub, "-o", plain_file, self.src).returncode, 0)
                pe, plain = self.brand("--icon", self.icon, *VERSION_OPTIONS, stub=stub), pefile.PE(stub)
                got, had = resources(pe), resources(plain)
                # The first group holds the icon file's images byte for byte,
                # under the numbers its old images had, then new ones.
                group = group_entries(got[(RT_GROUP_ICON, "MNICON", 0)])
                self.assertEqual([(w, h, bits) for w, h, bits, _, _ in group],
                                 [(32, 32, 32), (16, 16, 32), (48, 48, 32)])
                self.assertEqual([got[(RT_ICON, i, 0)] for *_, i in group], [data for _, _, data in images])
                self.assertEqual([i for *_, i in group], [1, 2, 6])
                # Everything else is the stub's: templates, the other icons, the manifest.
                changed = {(RT_GROUP_ICON, "MNICON", 0), (RT_ICON, 1, 0), (RT_ICON, 2, 0), (RT_ICON, 6, 0),
                           (RT_VERSION, 1, 0)}
                self.assertEqual({k: v for k, v in got.items() if k not in changed},
                                 {k: v for k, v in had.items() if k not in changed})
                # Version information as Properties -> Details shows it.
                self.assertEqual(version_texts(pe), {**VERSION_TEXTS, "FileVersion": VERSION,
                                                     "ProductVersion": VERSION, "OriginalFilename": "out.exe"})
                fixed = pe.VS_FIXEDFILEINFO[0]
                self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS,
                                  fixed.ProductVersionLS), (0x10002, 0x30004, 0x10002, 0x30004))
                self.assertEqual(pe.FileInfo[0][1].Var[0].entry, {b"Translation": "0x0000 0x04b0"})
                # The archive follows unchanged.
                # (The central directory's offsets count from the file's
                # start, so they move with a longer stub.)
                self.assertEqual(walk(self.out), walk(plain_file))
                info = mksfx("--info", self.out)
                self.assertEqual(info.returncode, 0, info.stdout)
                for text in ["icon MNICON: 32x32 32-bit, 16x16 32-bit, 48x48 32-bit PNG", "version: file 1.2.3.4",
                             *(f'"{v}"' for v in VERSION_TEXTS.values()), '"out.exe"', "code page 1200"]:
                    self.assertIn(text, info.stdout)

    def test_version_alone_and_icon_alone(self):
        pe = self.brand("--file-version", "02.0.0.65535")
        self.assertEqual(version_texts(pe), {"FileVersion": "2.0.0.65535", "ProductVersion": "2.0.0.65535",
                                             "OriginalFilename": "out.exe"})
        self.assertEqual({k: v for k, v in resources(pe).items() if k[0] != RT_VERSION},
                         resources(pefile.PE(STUB)))
        pe = self.brand("--icon", write_icon(self.icon))
        self.assertNotIn(RT_VERSION, {k[0] for k in resources(pe)})
        self.assertIn("version: none", mksfx("--info", self.out).stdout)

    def test_refusals(self):
        def entry(size, data, offset, bits=32):
            return struct.pack("<HHHBBBBHHII", 0, 1, 1, size, size, 0, 0, 1, bits, len(data), offset) + data
        bitmap = bitmap_image(32)
        icons = {
            "text": (b"just text\n", "no icon directory"),
            "cursor": (struct.pack("<HHH", 0, 2, 1) + icon_file([(32, 32, bitmap)])[6:], "cursors"),
            "no-image": (struct.pack("<HHH", 0, 1, 0), "holds no image"),
            "cut-directory": (struct.pack("<HHH", 0, 1, 2) + bytes(16), "cut short"),
            "outside": (entry(32, bitmap, 5000), "outside the file"),
            "png-size": (icon_file([(32, 32, png_image(48))]), "PNG image of 48x48 where the directory says 32x32"),
            "bitmap-height": (entry(32, bitmap[:8] + struct.pack("<i", 32) + bitmap[12:], 22), "bitmap of 32x16"),
            "bitmap-cut": (entry(32, bitmap[:-200], 22), "where its header asks for"),
        }
        for label, (data, fragment) in icons.items():
            with self.subTest(label):
                with open(self.icon, "wb") as f:
                    f.write(data)
                self.assertRefused(self.src, fragment, args=("--icon", self.icon))
        self.assertRefused(self.src, "cannot open", args=("--icon", os.path.join(self.dir, "missing.ico")))
        fake_stub = os.path.join(self.dir, "fake.exe")
        with open(fake_stub, "wb") as f:
            f.write(b"MZ" + bytes(STUB_SIZE_MIN - 2))
        self.assertRefused(self.src, "not a PE image", args=("--file-version", VERSION), stub=fake_stub)
        self.assertRefused(self.src, "more than the 65535 bytes",
                           args=("--file-version", VERSION, "--description", "x" * 40000))
        self.assertRefused(self.src, "--company is not UTF-8",
                           args=("--file-version", VERSION, "--company", os.fsdecode(b"Caf\xe9")))
        for version in ("1.2.3", "1.2.3.4.5", "1.2.x.4", "65536.0.0.0", "1..3.4", "", " 1.2.3.4"):
            with self.subTest(version=version):
                self.assertRefused(self.src, "--file-version takes four numbers", args=("--file-version", version), status=2)
        self.assertRefused(self.src, "need --file-version", args=("--product", "P"), status=2)

    def test_large_icons_grow_the_extractor(self):
        # Seven images take some 100 KB: the resources, and with them the
        # extractor, grow past its least length; the settings block and the
        # archive follow where its image ends. Branded again with a small
        # icon, it shrinks back to what the small icon takes.
        large, small = write_large_icon(os.path.join(self.dir, "large.ico")), write_icon(self.icon)
        for arch, stub in STUBS.items():
            with self.subTest(arch):
                pe = self.brand("--icon", large, "--title", "Grown", stub=stub)
                group = group_entries(resources(pe)[(RT_GROUP_ICON, "MNICON", 0)])
                self.assertEqual([(w or 256, h or 256) for w, h, *_ in group], [(s, s) for s in ICON_SIZES])
                data = read(self.out)
                end = max(s.PointerToRawData + s.SizeOfRawData for s in pe.sections)
                self.assertEqual((stub_length(data), end % 512), (end, 0))
                self.assertGreater(end, STUB_SIZE_MIN)
                self.assertEqual(data[end:end + 3], b"MPU")
                self.assertEqual([e["name"] for e in walk(self.out)[0]], ["setup.exe"])
                info = mksfx("--info", self.out).stdout
                for text in (f"extractor: {end} bytes", f"settings at offset {end}:", f"archive at offset {end + 256}:",
                             "icon MNICON: 16x16 32-bit, 24x24 32-bit, 32x32 32-bit, 48x48 32-bit, 64x64 32-bit, "
                             "128x128 32-bit, 256x256 32-bit PNG (the file's icon)", "icon ZLOCK: 32x32"):
                    self.assertIn(text, info)
                grown, empty = os.path.join(self.dir, "grown.exe"), os.path.join(self.dir, "empty.zip")
                open(empty, "wb").close()
                self.assertEqual(mksfx("--stub", stub, "--icon", large, "--raw-zip", "--no-settings", "-o", grown,
                                       empty).returncode, 0)
                self.brand("--icon", small, stub=stub)
                small_length = stub_length(read(self.out))
                self.brand("--icon", small, stub=grown)
                self.assertEqual(stub_length(read(self.out)), small_length)
                self.assertLess(small_length, end)
                self.assertEqual([e["name"] for e in walk(self.out)[0]], ["setup.exe"])


class Signing(PackerTest):
    def test_a_signature_behind_the_archive_keeps_it_readable(self):
        make_tree(self.src, SAMPLE_FILES)
        icon = write_icon(os.path.join(self.dir, "brand.ico"))
        unsigned = self.pack("--title", "Signed", "--icon", icon, *VERSION_OPTIONS, self.src)
        signed = os.path.join(self.dir, "signed.exe")
        key, cert = os.path.join(self.dir, "key.pem"), os.path.join(self.dir, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=mksfx test"], check=True, capture_output=True)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", self.out, "-out", signed],
                       check=True, capture_output=True)
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                                capture_output=True, text=True)
        self.assertIn("Signature verification: ok", verify.stdout)
        self.assertGreater(os.path.getsize(signed), os.path.getsize(self.out))
        self.assertEqual(walk(signed), unsigned)
        self.assertTrue(pefile.PE(signed).verify_checksum())
        self.assertEqual(mksfx("--info", signed).returncode, 0)
        self.assertEqual(subprocess.run(["unzip", "-tqq", signed]).returncode, 0)


if __name__ == "__main__":
    unittest.main()
