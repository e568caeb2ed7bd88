"""The i686 release itself, once, branded as a packager would (an icon of
every size up to 256x256, which makes it longer than 43008 bytes): run by the
32-bit Wine loader under qemu-i386 emulation, it shows its main dialog with
the packager's icon, extracts an archive of stored, deflated and encrypted
entries byte for byte, one of them under a UTF-8 name, and ends with code 0.
A ZIP64 entry of 4.5 GiB of zeros (a hole of the sparse file) comes first
and is deselected: the others lie past 4 GiB, where the walk steps over it.

The emulated process cannot start Windows processes itself, so the test's
driver (an x86-64 process) is started first and holds the desktop, and the
prefix's syswow64 folder is filled with the 32-bit system DLLs."""

import glob
import os
import random
import shutil
import struct
import subprocess
import sys
import time
import zipfile

import sfxtest
from sfxtest import FILE_LIST, FOLDER_EDIT, MESSAGE_TEXT, OVERWRITE_CONFIRM, UNZIP, SfxTestCase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "packer"))
from sfxfiles import (VERSION, VERSION_OPTIONS, quarter_colour, stub_length, write_large_icon,  # noqa: E402
                      zeros_crc)

I386_DLLS = "/usr/lib/i386-linux-gnu/wine/i386-windows"
# Emulation makes the start slow: about 45 s on a fast machine.
START_TIMEOUT = 400
TITLE = "i686 release smoke run"
PASSWORD = "smoke"
FILES = {
    "stored.txt": b"kept as it is\r\n" * 100,
    "deflated.txt": b"the same words again and again " * 4000,
    "random.bin": random.Random(686).randbytes(100000),
    "secret.txt": b"for the password holder only\r\n" * 50,
}
# Added by Python's zipfile, which marks a UTF-8 name with flag bit 11.
UTF8_NAME = "\u00dcbersicht-\u00e9-\u65e5\u672c.txt"
UTF8_DATA = b"a name beyond the ANSI code page\r\n" * 30
HOLE_NAME, HOLE_SIZE = "zeros.bin", 9 << 29       # 4.5 GiB


def fill_syswow64(prefix):
    folder = os.path.join(prefix, "drive_c", "windows", "syswow64")
    os.makedirs(folder, exist_ok=True)
    for dll in glob.glob(os.path.join(I386_DLLS, "*")):
        target = os.path.join(folder, os.path.basename(dll))
        if not os.path.lexists(target):
            os.symlink(dll, target)


class ReleaseSmoke(SfxTestCase):
    def archive(self):
        """Info-ZIP: one stored entry, two deflated, one encrypted."""
        source = self.make_files(FILES)
        archive = self.path("smoke.zip")
        for options, names in ((["-0"], ["stored.txt"]), (["-9"], ["deflated.txt", "random.bin"]),
                               (["-9", "-P", PASSWORD], ["secret.txt"])):
            subprocess.run(["zip", "-q", *options, archive, *names], cwd=source, check=True)
        with zipfile.ZipFile(archive, "a", zipfile.ZIP_DEFLATED) as z:
            z.writestr(UTF8_NAME, UTF8_DATA)
        return archive

    def test_main_dialog_and_extraction(self):
        cfg = sfxtest.config()
        self.assertTrue(shutil.which("qemu-i386"), "qemu-i386 is missing (qemu-user)")
        self.assertTrue(os.path.isdir(I386_DLLS), "the 32-bit Wine is missing (wine32:i386)")
        fill_syswow64(cfg.prefix)
        # Seven images up to 256x256: the stub grows past its least length.
        icon = write_large_icon(self.path("brand.ico"))
        # Run from a folder named beyond the ANSI code page, where an empty
        # folder box extracts.
        home = self.path("\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438-\u9b3c")   # Загрузки-鬼
        os.makedirs(home)
        exe = self.make_sfx(self.archive(), "--title", TITLE, "--icon", icon, *VERSION_OPTIONS, arch="x86",
                            name=os.path.join(home, "setup.exe"))
        self.assertEqual(self.driver.version_info(exe)["file"], VERSION)
        whole = os.path.join(home, "whole.exe")      # for the silent run
        shutil.copy(exe, whole)
        self.put_hole_first(exe)
        self.driver.screen_size()             # the driver is on the desktop now
        with open(self.path("qemu.log"), "wb") as log:
            emulated = subprocess.Popen(
                ["qemu-i386", "-L", "/", cfg.wine32, exe], cwd=home,
                env=cfg.environment(WINELOADERNOEXEC="1"),
                stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        self.addCleanup(self.end, emulated)
        started = time.monotonic()
        dialog = self.wait_for_dialog(emulated)
        print(f"\nthe main dialog appeared after {time.monotonic() - started:.0f} s")
        self.assertCentred(dialog)
        self.assertShowsIcon(dialog, quarter_colour, seconds=START_TIMEOUT)
        self.assertEqual(dialog.text(FOLDER_EDIT), sfxtest.windows_path(home))
        self.assertEqual(dialog.checked(OVERWRITE_CONFIRM), 1)
        items = dialog.items(FILE_LIST)
        self.assertEqual(sorted(items), [(name, True) for name in sorted([*FILES, UTF8_NAME, HOLE_NAME])])
        dialog.select(FILE_LIST, items.index((HOLE_NAME, True)), False)

        out = home
        dialog.set_text(FOLDER_EDIT, "")
        dialog.click(UNZIP)
        prompt = self.driver.wait_window("Encryption Encountered", timeout=START_TIMEOUT)
        prompt.set_text(101, PASSWORD)
        prompt.click(1)
        box = self.driver.wait_window("Extraction Completed", timeout=START_TIMEOUT)
        self.assertEqual(box.text(MESSAGE_TEXT), "All Files Have Been Extracted Successfully.")
        box.click(1)
        self.assertEqual(emulated.wait(START_TIMEOUT), 0)
        for name, data in {**FILES, UTF8_NAME: UTF8_DATA}.items():
            with open(os.path.join(out, name), "rb") as f:
                self.assertEqual(f.read(), data, name)
        self.assertFalse(os.path.exists(os.path.join(out, HOLE_NAME)))

        # Once more, silent, from the file without the hole (a silent run
        # extracts every entry): no window, the password from /P, exit code 0.
        silent = self.path("silent")
        with open(self.path("qemu-silent.log"), "wb") as log:
            emulated = subprocess.Popen(
                ["qemu-i386", "-L", "/", cfg.wine32, whole, "/S", "/D=" + sfxtest.windows_path(silent),
                 "/P=" + PASSWORD, "/O=N", "/LOG=" + sfxtest.windows_path(self.path("silent.log"))],
                cwd=home, env=cfg.environment(WINELOADERNOEXEC="1"), stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        self.addCleanup(self.end, emulated)
        self.assertEqual(emulated.wait(START_TIMEOUT), 0)
        for name, data in {**FILES, UTF8_NAME: UTF8_DATA}.items():
            with open(os.path.join(silent, name), "rb") as f:
                self.assertEqual(f.read(), data, name)

    @staticmethod
    def put_hole_first(exe):
        """Puts a stored ZIP64 entry of HOLE_SIZE zeros in front of the
        archive's entries, as a hole of the sparse file. The central
        directory, which the stub never reads, is left as it was."""
        with open(exe, "rb") as f:
            data = f.read()
        base = stub_length(data) + (256 if data[stub_length(data):stub_length(data) + 3] == b"MPU" else 0)
        name = HOLE_NAME.encode()
        extra = struct.pack("<HHQQ", 1, 16, HOLE_SIZE, HOLE_SIZE)
        header = struct.pack("<IHHHIIIIHH", 0x04034B50, 45, 0, 0, 0, zeros_crc(HOLE_SIZE), 0xFFFFFFFF, 0xFFFFFFFF,
                             len(name), len(extra)) + name + extra
        with open(exe, "wb") as f:
            f.write(data[:base] + header)
            f.seek(HOLE_SIZE, os.SEEK_CUR)
            f.write(data[base:])

    def wait_for_dialog(self, emulated):
        """The main dialog, or a failure as soon as the emulated process ends."""
        deadline = time.monotonic() + START_TIMEOUT
        while True:
            try:
                return self.driver.wait_window(TITLE, timeout=5)
            except sfxtest.Timeout:
                if emulated.poll() is not None:
                    self.fail(f"the program ended with code {emulated.returncode} "
                              f"before its dialog appeared (see qemu.log)")
                if time.monotonic() > deadline:
                    raise

    @staticmethod
    def end(process):
        if process.poll() is None:
            process.kill()
            process.wait()


if __name__ == "__main__":
    sfxtest.main()
