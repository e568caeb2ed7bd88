"""Extraction onto a disk that fills up: a size-limited tmpfs of 1 MiB
mounted below the test's folder; and onto one mounted below the
destination, another volume than the destination's. The entries that do not fit fail, stored
and deflated alike, the run reports failure and never success, the files
that did fit are intact, and of the one that did not nothing is left: no
file under its name (an existing one stays byte for byte as it was) and no
temporary file.

Mounting needs root and a system that allows it. Where the mount is
refused the tests are skipped with the reason, and the script exits with
77, which CTest reports as skipped, not passed."""

import os
import random
import subprocess
import sys
import time
import unittest
import zipfile

import sfxtest
from sfxtest import FILE_LIST
from unzipflow import SUCCESS_CAPTION, UnzipTestCase

DISK_SIZE = "1m"
SKIPPED = 77                     # CTest's SKIP_RETURN_CODE for this test

FITTING = {
    "fits/small.txt": b"small and stored\r\n" * 300,
    "fits/text.txt": b"deflated text that fits " * 2000,
}


def incompressible(size, seed):
    generator = random.Random(seed)
    return bytes(generator.getrandbits(8) for _ in range(size))


class FullDisk(UnzipTestCase):
    def small_disk(self, name):
        """A fresh 1 MiB tmpfs below the test's folder, unmounted at the end."""
        folder = self.path(name)
        os.makedirs(folder)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={DISK_SIZE}", "tmpfs", folder],
                                 capture_output=True, text=True)
        if mounted.returncode != 0:
            self.skipTest(f"cannot mount a size-limited tmpfs at {folder} "
                          f"({(mounted.stderr or mounted.stdout).strip()})")
        self.addCleanup(self.unmount, folder)
        return folder

    def unmount(self, folder):
        # The program may still hold a file on the disk: it is ended first.
        for program in self.programs:
            try:
                if program.running():
                    program.kill()
                    program.exit_code()
            except sfxtest.DriverError:
                pass
        for _ in range(50):
            if subprocess.run(["umount", folder], capture_output=True).returncode == 0:
                return
            time.sleep(0.1)
        subprocess.run(["umount", "-l", folder], check=True)

    def extract_onto_full_disk(self, big_name, big_data, compression, existing):
        """Extracts the fitting files and one big entry (the last) onto the
        small disk, over a file of the big one's name when existing holds
        its contents; returns program, dialog and the destination folder."""
        path = self.path("archive.zip")
        with zipfile.ZipFile(path, "w") as z:
            z.writestr("fits/small.txt", FITTING["fits/small.txt"], zipfile.ZIP_STORED)
            z.writestr("fits/text.txt", FITTING["fits/text.txt"], zipfile.ZIP_DEFLATED)
            z.writestr(big_name, big_data, compression)
        out = os.path.join(self.small_disk("disk-over" if existing else "disk-new"), "out")
        if existing:
            os.makedirs(out)
            with open(os.path.join(out, big_name), "wb") as f:
                f.write(existing)
        program, dialog = self.open_sfx(self.make_sfx(path, "--overwrite", "always"))
        self.unzip_into(dialog, out)
        return program, dialog, out

    def assertFailedOnlyOn(self, program, dialog, out, big_name, existing):
        self.expect_failure(program, dialog)
        self.assertNoWindow(program, SUCCESS_CAPTION, seconds=1.0)
        self.assertEqual(dialog.items(FILE_LIST), [(big_name, True), ("fits/small.txt", False),
                                                   ("fits/text.txt", False)])
        # The files that fit, the existing one as it was, nothing else.
        self.assertEqual(self.tree(out), {**FITTING, **({big_name: existing} if existing else {})})
        self.assertEqual(self.folders(out), ["fits"])

    def fails_on_full_disk(self, big_name, big, compression):
        for existing in (None, b"the good old file\r\n" * 100):
            with self.subTest(existing=bool(existing)):
                program, dialog, out = self.extract_onto_full_disk(big_name, big, compression, existing)
                self.assertFailedOnlyOn(program, dialog, out, big_name, existing)
                dialog.close()
                self.assertEqual(program.exit_code(), 0)

    def test_entries_on_another_volume_below_the_destination_are_extracted(self):
        # A disk mounted below the destination: no rename from the walk's
        # temporary folder reaches it, so each such file is moved over into
        # a temporary folder on that disk, in which the next files for the
        # same folder are written at once. Nothing else is left anywhere.
        out = self.path("out")
        disk = self.small_disk(os.path.join("out", "mounted"))
        files = {"top.txt": b"top", "mounted/a.txt": b"a" * 1000, "mounted/b.txt": b"b" * 2000,
                 "mounted/sub/c.txt": b"c" * 10, "mounted/d.txt": b"d", "after.txt": b"after"}
        path = self.path("archive.zip")
        with zipfile.ZipFile(path, "w") as z:
            for name, data in files.items():
                z.writestr(name, data, zipfile.ZIP_DEFLATED)
        program, dialog = self.open_sfx(self.make_sfx(path, "--overwrite", "always"))
        self.unzip_into(dialog, out)
        self.expect_success(program)
        self.assertEqual(self.tree(out), files)
        self.assertEqual(sorted(os.listdir(disk)), ["a.txt", "b.txt", "d.txt", "sub"])
        self.assertEqual(sorted(os.listdir(out)), ["after.txt", "mounted", "top.txt"])

    def test_stored_entry_that_does_not_fit_fails(self):
        self.fails_on_full_disk("big-stored.bin", incompressible(1536 * 1024, 1), zipfile.ZIP_STORED)

    def test_deflated_entry_that_does_not_fit_fails(self):
        # Compresses to a few kilobytes; the window writes are what fail.
        big = b"a line of text that deflates very well\r\n" * 60000
        self.fails_on_full_disk("big-deflated.txt", big, zipfile.ZIP_DEFLATED)
        with open(self.path("archive.zip"), "rb") as f:
            self.assertLess(len(f.read()), 100 * 1024)


def main():
    program = unittest.main(exit=False, verbosity=2)
    result = program.result
    if not result.wasSuccessful():
        sys.exit(1)
    if result.testsRun and len(result.skipped) == result.testsRun:
        print("every test skipped: reported to CTest as skipped")
        sys.exit(SKIPPED)
    sys.exit(0)


if __name__ == "__main__":
    main()
