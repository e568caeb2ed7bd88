"""DLLs planted beside the self-extracting file, named like the ones that the
program and the shell load, are never loaded while a person goes through
the dialogs: the main dialog, "&Browse..." with the folder list drawn with
the shell's icons, "&Network...", an Unzip, and the launch of a program.

Wine prefers its own copy of a system DLL to a file of the same name beside
the program, which would make this test pass whatever the program does.
The planted names are therefore loaded native-first ("name=n,b"), as Windows
does for every DLL outside its protected list. That the test can see a
loaded DLL at all is shown with a build of the stub that searches for DLLs
the default way (SFX_UNHARDENED): on the same steps it loads them.

Under Wine the system's own DLLs bring some of these names in with their
imports when any program starts (Wine's user32 imports version.dll), before
the program's first instruction, where no program can prevent it; Windows
takes those imports from the system folder. A probe with the stub's static
imports finds them; they stay builtin-first for the journey, and the test
prints which they are."""

import os
import shutil
import subprocess
import time

import sfxtest
from sfxtest import FOLDER_EDIT, RUN_CHECK, end_record, local_entry
from folderflow import CANCEL, FOLDER_LIST, NETWORK, SELECT_CAPTION, FolderTestCase

# What the program loads at run time (mpr, comctl32) and what the shell and
# the dialogs pull in behind it on Windows.
PLANTED = ["mpr", "version", "uxtheme", "comctl32", "cryptbase", "dwmapi"]
# Loaded by the program itself by name: mpr for "&Network...", which the
# build without the restriction must be seen to load. comctl32 (its
# ImageList_Draw draws the folder list's icons) is loaded by name in every
# build, and the manifest's dependency on the common controls 6 sends that
# name to the system's side-by-side copy: not even that build loads the
# planted one.
LOADED_BY_NAME = ["mpr"]


def test_programs():
    return os.path.dirname(sfxtest.config().driver)


def overrides_with_native_first(session_overrides, names):
    """The session's overrides plus native-first loading of names."""
    entries = [e for e in session_overrides.split(";") if e]
    if names:
        entries.append(",".join(names) + "=n,b")
    return ";".join(entries)


def plant_into(folder):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(test_programs(), "sfx-planted.dll"), "rb") as f:
        planted = f.read()
    for name in PLANTED:
        with open(os.path.join(folder, name + ".dll"), "wb") as f:
            f.write(planted)


def loaded(folder):
    """The planted DLLs that left a marker: name -> [(when, program)], when
    being "start" (with the program's imports) or "later"."""
    found = {}
    for name in PLANTED:
        marker = os.path.join(folder, name + ".dll.loaded")
        if os.path.exists(marker):
            with open(marker, "rb") as f:
                lines = f.read().decode("latin-1").splitlines()
            found[name] = [tuple(line.split("\t", 1)) for line in lines if line]
    return found


class PlantedDlls(FolderTestCase):
    def setUp(self):
        super().setUp()
        self.loaded_by_wine = self.loaded_by_any_program()
        # A name that the program loads itself must not be among them, or
        # the test would prove nothing.
        self.assertFalse(set(LOADED_BY_NAME) & set(self.loaded_by_wine), self.loaded_by_wine)
        self.native_first = [n for n in PLANTED if n not in self.loaded_by_wine]
        print(f"\nloaded by Wine itself at any program's start: {sorted(self.loaded_by_wine)}; "
              f"native-first: {self.native_first}")

    def loaded_by_any_program(self):
        """The planted names that a program with the stub's static imports
        loads, native-first for all, when it does nothing at all."""
        folder = self.path("probe")
        plant_into(folder)
        probe = os.path.join(folder, "probe.exe")
        shutil.copy(os.path.join(test_programs(), "sfx-plant-probe.exe"), probe)
        cfg = sfxtest.config()
        env = cfg.environment(WINEDLLOVERRIDES=overrides_with_native_first(
            cfg.wine_env["WINEDLLOVERRIDES"], PLANTED))
        subprocess.run([cfg.wine, probe], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        found = loaded(folder)
        for name, loads in found.items():
            self.assertEqual({when for when, _ in loads}, {"start"}, name)
        return found

    def use_driver_with_native_first(self, names):
        """Every program of the test starts through the driver and inherits
        its environment: a new driver, started with the overrides."""
        cfg = sfxtest.config()
        saved = cfg.wine_env["WINEDLLOVERRIDES"]
        cfg.wine_env["WINEDLLOVERRIDES"] = overrides_with_native_first(saved, names)
        try:
            self._end_programs()
            self.programs = []
            self.driver = sfxtest.Driver(self.work, self.path("driver.log"))
        finally:
            cfg.wine_env["WINEDLLOVERRIDES"] = saved

    def plant(self, stub, folder_name="downloads"):
        """A downloads folder holding the planted DLLs and a self-extracting
        file (from stub) with a program to launch."""
        folder = self.path(folder_name)
        plant_into(folder)
        with open(os.path.join(test_programs(), "sfx-recorder.exe"), "rb") as f:
            recorder = f.read()
        archive = self.path("archive.bin")
        with open(archive, "wb") as f:
            f.write(local_entry("recorder.exe", recorder) + local_entry("readme.txt", b"read me") + end_record())
        exe = self.make_sfx(archive, "--stub", stub, "--run", "><recorder.exe",
                            name=os.path.join(folder_name, "setup.exe"))
        return folder, exe

    def open_browse(self, program, main, folder):
        main.set_text(FOLDER_EDIT, sfxtest.windows_path(folder))
        main.click(sfxtest.BROWSE)
        return program.wait_window(SELECT_CAPTION)

    def wait_for_marker(self, folder, name, seconds=20.0):
        deadline = time.monotonic() + seconds
        while name not in loaded(folder):
            if time.monotonic() > deadline:
                self.fail(f"{name}.dll was not loaded")
            time.sleep(0.1)
        return loaded(folder)[name]

    def test_no_planted_dll_is_loaded_on_the_whole_journey(self):
        self.use_driver_with_native_first(self.native_first)
        folder, exe = self.plant(sfxtest.config().stub("x64"))
        program, main = self.open_sfx(exe, cwd=folder)
        self.assertEqual(main.checked(RUN_CHECK), 1)
        select = self.open_browse(program, main, folder)
        # The shell's icons drawn through comctl32's ImageList_Draw.
        self.wait_for_list(select, lambda rows: rows.rows >= 2 and rows.drawn(0, 0))
        select.click(NETWORK)
        # Posted after it: once Cancel has closed the dialog, the network
        # command has been dealt with.
        select.click(CANCEL)
        select.wait_gone()
        out = self.path("out")
        self.unzip_into(main, out)
        self.expect_success(program)
        record = os.path.join(out, "launched.txt")
        self.wait_until(lambda: os.path.exists(record) and os.path.getsize(record) > 0, seconds=20)
        self.assertEqual(self.tree(out)["readme.txt"], b"read me")
        time.sleep(1.0)                      # a late load would come now
        self.assertEqual(loaded(folder), {})

    def test_a_build_searching_the_default_way_loads_them(self):
        # The proof that the test can fail. One name at a time: a planted
        # DLL, once loaded, breaks what the program wanted from it.
        stub = os.path.join(test_programs(), "sfx-x64-unhardened.exe")
        for name in LOADED_BY_NAME:
            with self.subTest(name=name):
                self.use_driver_with_native_first([name])
                folder, exe = self.plant(stub, folder_name="downloads-" + name)
                program, main = self.open_sfx(exe, cwd=folder)
                select = self.open_browse(program, main, folder)
                if name == "mpr":
                    self.wait_until(lambda: len(select.items(FOLDER_LIST)) > 0)
                    select.click(NETWORK)
                loads = self.wait_for_marker(folder, name)
                self.assertIn("later", {when for when, _ in loads})
                self.assertTrue(any(p.lower().endswith("\\setup.exe") for _, p in loads), loads)
                program.kill()


if __name__ == "__main__":
    sfxtest.main()
