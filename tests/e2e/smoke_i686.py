"""The i686 release itself, once: run by the 32-bit Wine loader under
qemu-i386 emulation, it shows its main dialog and ends with code 0 on Close.

The emulated process cannot start Windows processes itself, so the test's
driver (an x86-64 process) is started first and holds the desktop, and the
prefix's syswow64 folder is filled with the 32-bit system DLLs."""

import glob
import os
import shutil
import subprocess
import time

import sfxtest
from sfxtest import (CLOSE, FILE_LIST, FOLDER_EDIT, OVERWRITE_CONFIRM, SfxTestCase)

I386_DLLS = "/usr/lib/i386-linux-gnu/wine/i386-windows"
# Emulation makes the start slow: about 45 s on a fast machine.
START_TIMEOUT = 400
TITLE = "i686 release smoke run"


def fill_syswow64(prefix):
    folder = os.path.join(prefix, "drive_c", "windows", "syswow64")
    os.makedirs(folder, exist_ok=True)
    for dll in glob.glob(os.path.join(I386_DLLS, "*")):
        target = os.path.join(folder, os.path.basename(dll))
        if not os.path.lexists(target):
            os.symlink(dll, target)


class ReleaseSmoke(SfxTestCase):
    def test_main_dialog_and_close(self):
        cfg = sfxtest.config()
        self.assertTrue(shutil.which("qemu-i386"), "qemu-i386 is missing (qemu-user)")
        self.assertTrue(os.path.isdir(I386_DLLS), "the 32-bit Wine is missing (wine32:i386)")
        fill_syswow64(cfg.prefix)
        exe = self.make_sfx(self.make_zip({"readme.txt": b"read me"}), "--title", TITLE, arch="x86")
        self.driver.screen_size()             # the driver is on the desktop now
        with open(self.path("qemu.log"), "wb") as log:
            emulated = subprocess.Popen(
                ["qemu-i386", "-L", "/", cfg.wine32, exe], cwd=self.work,
                env=cfg.environment(WINELOADERNOEXEC="1"),
                stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        self.addCleanup(self.end, emulated)
        started = time.monotonic()
        dialog = self.wait_for_dialog(emulated)
        print(f"\nthe main dialog appeared after {time.monotonic() - started:.0f} s")
        self.assertCentred(dialog)
        self.assertEqual(dialog.text(FOLDER_EDIT), sfxtest.windows_path(self.work))
        self.assertEqual(dialog.checked(OVERWRITE_CONFIRM), 1)
        self.assertEqual(dialog.items(FILE_LIST), [("readme.txt", True)])
        dialog.click(CLOSE)
        self.assertEqual(emulated.wait(START_TIMEOUT), 0)

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
