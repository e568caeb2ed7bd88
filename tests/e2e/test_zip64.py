"""Archives of any size through the real dialog: a stored entry of 5 GiB
and a small one whose local header lies past 4 GiB, which mksfx copies
from a ZIP input, a deflated entry of 5 GiB that mksfx packs from a sparse
file, and 70,000 entries, more than a ZIP without ZIP64 records can count.
Each comes out byte for byte (checked by CRC-32, with no second copy
kept), and the footer shows the share of the 5 GiB entries rising as they
are written. What mksfx writes is read by unzip, 7-Zip, Python's zipfile
and bsdtar as well.

The inputs are sparse files, but the stub writes every byte: these tests
need NEEDED_GIB GiB free below the test folder, and fail saying so when
there is less."""

import os
import re
import shutil
import subprocess
import sys
import time
import zipfile
import zlib

import sfxtest
from sfxtest import FILE_LIST, FOOTER, config
from unzipflow import SUCCESS_CAPTION, UnzipTestCase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "packer"))
from sfxfiles import stub_length, write_stored_zip, zeros_crc  # noqa: E402

GIB = 1 << 30
BIG = 5 * GIB
NEEDED_GIB = 12             # a 5 GiB output and its 5 GiB extraction at a time, with room to spare
TITLE = "Five gigabytes"


def stream_size_and_crc(stream):
    size = crc = 0
    while block := stream.read(1 << 24):
        size += len(block)
        crc = zlib.crc32(block, crc)
    return size, crc


def file_crc(path):
    with open(path, "rb") as f:
        return stream_size_and_crc(f)[1]


class Zip64(UnzipTestCase):
    def setUp(self):
        super().setUp()
        free = shutil.disk_usage(self.work).free
        if free < NEEDED_GIB * GIB:
            self.fail(f"these tests write files of 5 GiB: they need {NEEDED_GIB} GiB free below {self.work}, "
                      f"and there are {free / GIB:.1f} GiB")

    def output(self, name):
        """A folder for the extracted files, removed at the end (5 GiB)."""
        out = self.path(name)
        self.addCleanup(shutil.rmtree, out, ignore_errors=True)
        return out

    def sparse_sfx(self, entries, name="sfx.exe"):
        """The x86-64 stub, a settings block with the title, and a stored
        archive written by hand whose zeros are holes of a sparse file."""
        with open(config().stub(), "rb") as f:
            stub = f.read()
        self.assertEqual(len(stub), stub_length(stub))
        path = self.path(name)
        write_stored_zip(path, entries, prefix=stub + sfxtest.settings_block(0x03, TITLE))
        return path

    def packed(self, source, name, *options):
        """mksfx's self-extracting file of source, with the title."""
        exe = self.path(name)
        subprocess.run([config().mksfx, "--stub", config().stub(), "--title", TITLE, *options, "-o", exe, source],
                       check=True, stdout=subprocess.DEVNULL)
        return exe

    def assertOtherReadersAccept(self, exe, files):
        """unzip -t and 7z t pass the file; zipfile and bsdtar find these
        files, {name: (size, CRC-32)}, and decode each to its size and CRC."""
        for command in (["unzip", "-tqq", exe], ["7z", "t", "-tzip", "-bd", exe]):
            result = subprocess.run(command, capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, f"{command[0]}: {result.stdout}{result.stderr}")
        with zipfile.ZipFile(exe) as z:
            self.assertEqual({i.filename: (i.file_size, i.CRC) for i in z.infolist() if not i.is_dir()}, files)
            for name in files:
                with z.open(name) as f:
                    self.assertEqual(stream_size_and_crc(f), files[name], f"zipfile: {name}")
        for name in files:
            with subprocess.Popen(["bsdtar", "-xOf", exe, name], stdout=subprocess.PIPE) as tar:
                self.assertEqual(stream_size_and_crc(tar.stdout), files[name], f"bsdtar: {name}")
            self.assertEqual(tar.returncode, 0)

    def unzip_watching_the_footer(self, program, dialog, out):
        """Presses Unzip and reads the footer until the success box shows;
        returns the shares (percent) seen, in order."""
        self.unzip_into(dialog, out)
        shares, deadline = [], time.monotonic() + 600
        while time.monotonic() < deadline:
            if any(w["caption"] == SUCCESS_CAPTION for w in program.windows()):
                break
            seen = re.search(r"\((\d+)%\)$", dialog.text(FOOTER))
            if seen and (not shares or shares[-1] != int(seen.group(1))):
                shares.append(int(seen.group(1)))
            time.sleep(0.2)
        self.expect_success(program)
        return shares

    def assertRising(self, shares):
        self.assertGreaterEqual(len(shares), 2, f"the footer showed the share done only as {shares}")
        self.assertEqual(shares, sorted(shares))

    def assertZeros(self, path, size):
        self.assertEqual(os.path.getsize(path), size)
        self.assertEqual(file_crc(path), zeros_crc(size), path)

    def test_a_stored_entry_of_5_gib_and_a_header_past_4_gib(self):
        small = b"a local header past 4 GiB\r\n" * 10
        archive = write_stored_zip(self.path("input.zip"), {b"zeros.bin": BIG, b"after/small.txt": small})
        exe = self.packed(archive, "stored.exe")
        os.remove(archive)
        info = subprocess.run([config().mksfx, "--info", exe], capture_output=True, text=True)
        self.assertEqual(info.returncode, 0, info.stdout)
        self.assertIn("ZIP64: used by 1 local header, 2 central records and the end record", info.stdout)
        self.assertOtherReadersAccept(exe, {"zeros.bin": (BIG, zeros_crc(BIG)),
                                            "after/small.txt": (len(small), zlib.crc32(small))})
        out = self.output("out")
        program, dialog = self.open_sfx(exe, TITLE)
        self.assertEqual(dialog.items(FILE_LIST), [("after/small.txt", True), ("zeros.bin", True)])
        self.assertRising(self.unzip_watching_the_footer(program, dialog, out))
        with open(os.path.join(out, "after", "small.txt"), "rb") as f:
            self.assertEqual(f.read(), small)
        self.assertZeros(os.path.join(out, "zeros.bin"), BIG)

    def test_a_deflated_entry_of_5_gib(self):
        source = self.path("source")
        os.makedirs(source)
        with open(os.path.join(source, "zeros.bin"), "wb") as f:
            f.truncate(BIG)                  # a hole: nothing on the disk
        exe = self.packed(source, "deflated.exe", "--level", "1")
        self.assertLess(os.path.getsize(exe), BIG // 100)
        self.assertOtherReadersAccept(exe, {"zeros.bin": (BIG, zeros_crc(BIG))})
        out = self.output("out")
        program, dialog = self.open_sfx(exe, TITLE)
        self.assertRising(self.unzip_watching_the_footer(program, dialog, out))
        self.assertZeros(os.path.join(out, "zeros.bin"), BIG)

    def test_70000_entries(self):
        # In folders of 1,000: a file system that tells case apart makes
        # Wine read a folder to find a name, so a folder of 70,000 files
        # would cost what no user's archive does.
        entries = {f"f{i // 1000:02d}/{i:05d}.txt".encode(): b"%d\r\n" % i for i in range(70000)}
        exe = self.sparse_sfx(entries)
        out = self.output("out")
        program, dialog = self.open_sfx(exe, TITLE)
        self.assertEqual(dialog.list_counts(FILE_LIST), (70000, 70000))
        names = sorted(name.decode() for name in entries)
        for first in (0, 34999, 69990):
            self.assertEqual(dialog.items(FILE_LIST, first, 10), [(n, True) for n in names[first:first + 10]])
        self.unzip_into(dialog, out)
        program.wait_window(SUCCESS_CAPTION, timeout=600)
        self.expect_success(program)
        self.assertEqual(self.tree(out), {name.decode(): data for name, data in entries.items()})


if __name__ == "__main__":
    sfxtest.main()
