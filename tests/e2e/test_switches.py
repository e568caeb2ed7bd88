"""Runs with switches, from a script, with nobody at the keyboard: /S maps
no window at all and says how it went by its exit code and its log; /D,
/O, /P, /NORUN and "--" set what a person would set in the dialog; /A and
a file with the automatic flag unzip at once and close on success; bad
switches end the run with code 2 and write nothing."""

import os
import subprocess
import threading
import time

import sfxtest
from sfxtest import FOOTER, MAIN_CAPTION, MESSAGE_TEXT, config, end_record, local_entry, windows_path
from test_launch import recorder_bytes
from unzipflow import FAILURE_TEXT, SUCCESS_CAPTION, UnzipTestCase, WARNING_CAPTION

FILES = {"readme.txt": b"read me\r\n" * 50, "docs/guide.txt": b"the guide\r\n" * 400}
RUN = "><tools\\recorder.exe|--from-archive"
RECORDER = "tools/recorder.exe"
SUCCESS_LINE = "result 0: All Files Have Been Extracted Successfully."


class MapWatch:
    """Every window that the X server maps meanwhile: xev on the root
    window, whose children Wine's top-level windows are."""

    def __enter__(self):
        display = config().display
        self.process = subprocess.Popen(["xev", "-display", display, "-root", "-event", "substructure", "-event",
                                         "property"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.lines = []
        self.reader = threading.Thread(target=lambda: self.lines.extend(self.process.stdout))
        self.reader.start()
        # Watching once it sees a change of the root window's properties.
        deadline = time.monotonic() + 10
        while not any(line.startswith("PropertyNotify") for line in self.lines):
            if time.monotonic() > deadline:
                raise AssertionError("xev does not see the X server's events")
            subprocess.run(["xprop", "-display", display, "-root", "-f", "SFX_WATCH", "8s", "-set", "SFX_WATCH", "1"],
                           check=True)
            time.sleep(0.05)
        return self

    def __exit__(self, *exception):
        self.process.terminate()
        self.reader.join()
        self.process.wait()

    @property
    def maps(self):
        return [line for line in self.lines if line.startswith("MapNotify")]


class Unattended(UnzipTestCase):
    def sfx(self, *options, entries=None, name="setup.exe"):
        """The recorder (the program started afterwards) and FILES, or other
        entries, behind the x86-64 stub."""
        entries = entries or [local_entry(n, d) for n, d in FILES.items()]
        archive = self.path(name + ".zip")
        with open(archive, "wb") as f:
            f.write(local_entry(RECORDER, recorder_bytes()) + b"".join(entries) + end_record())
        run = [] if "--run" in options else ["--run", RUN]
        return self.make_sfx(archive, *run, *options, name=name)

    def run_silently(self, exe, *switches, out=None, folder=None):
        """Runs exe with /S, /D=out (a new folder; /D=folder when given, as
        typed) and /LOG; returns the exit code, the log's lines and the
        folder, and checks that no window was mapped meanwhile."""
        out = out or self.path("out")
        log = self.path("run.log")
        if os.path.exists(log):
            os.remove(log)
        with MapWatch() as watch:
            program = self.start(exe, arguments=["/S", "/D=" + (folder or windows_path(out)), "/LOG=" + windows_path(log),
                                                 *switches])
            code = program.exit_code(60)
        self.assertEqual(watch.maps, [], "a silent run mapped a window")
        lines = []
        if os.path.exists(log):
            with open(log, encoding="utf-8") as f:
                lines = f.read().splitlines()
        return code, lines, out

    def assertExtractedAndStarted(self, out):
        """Every entry is in out, and the recorder was started: returns the
        parameters it was given."""
        record = os.path.join(out, "tools", "launched.txt")
        self.wait_until(lambda: os.path.exists(record) and os.path.getsize(record) > 0, 20)
        with open(record, "rb") as f:
            recorded = f.read()
        self.assertEqual(self.tree(out), {**FILES, RECORDER: recorder_bytes(), "tools/launched.txt": recorded})
        return recorded.decode("utf-8").split("\n")[1]

    def test_silent_run(self):
        code, log, out = self.run_silently(self.sfx(), "--", "/quiet", "/norestart")
        self.assertEqual(code, 0)
        self.assertEqual(self.assertExtractedAndStarted(out), "--from-archive /quiet /norestart")
        self.assertEqual(log, ["extracted " + RECORDER, "extracted readme.txt", "extracted docs/guide.txt",
                               SUCCESS_LINE])

    def test_exit_codes_and_the_log(self):
        damaged = bytearray(local_entry("damaged.txt", b"these bytes will not match\r\n" * 40))
        damaged[14] ^= 0xFF                           # the CRC-32
        # Encrypted by mksfx, whose encryption headers are the same each
        # time: zip -P draws them at random, and one wrong password in 256
        # would then pass the check byte and fail later, as damaged data.
        secret = self.make_files({"secret.txt": b"for the holder\r\n" * 30}, "secret")
        missing = self.sfx("--run", "><nowhere\\missing.exe", name="missing.exe")
        cases = [
            # label, file, switches, exit code, a line of the log, files there, files not there
            ("damaged entry", self.sfx(entries=[local_entry("good.txt", b"good"), bytes(damaged)], name="damaged.exe"),
             [], 1, "failed damaged.txt: the data are damaged or incomplete", ["good.txt"], ["damaged.txt"]),
            ("right password", self.make_sfx(secret, "--password", "right", name="right.exe"), ["/P=right"], 0, "extracted secret.txt",
             ["secret.txt"], []),
            ("wrong password", self.make_sfx(secret, "--password", "right", name="wrong.exe"), ["/P=wrong"], 1,
             "failed secret.txt: no password was accepted", [], ["secret.txt"]),
            ("no password", self.make_sfx(secret, "--password", "right", name="none.exe"), [], 1, "failed secret.txt: no password was accepted",
             [], ["secret.txt"]),
            ("no program started", self.sfx(name="norun.exe"), ["/NORUN"], 0, SUCCESS_LINE, ["readme.txt"],
             ["tools/launched.txt"]),
            ("program not started", missing, [], 4,
             "result 4: the files are extracted, but the program could not be started", ["readme.txt"], []),
            ("unknown switch", self.sfx(name="unknown.exe"), ["/X"], 2, "message Unknown switch: /X ", [],
             ["readme.txt"]),
            ("no archive", self.write_sfx(b"", name="empty.exe"), [], 3, "result 3: Error reading archive.", [], []),
            ("no entries", self.write_sfx(end_record(), name="no-entries.exe"), [], 3, "result 3: Error reading archive.",
             [], []),
            ("walk ends at damage", self.write_sfx(local_entry("good.txt", b"good") + b"junk" * 9, name="junk.exe"), [], 1,
             "message There was an error reading the Archive.", ["good.txt"], []),
        ]
        for label, exe, switches, expected, line, there, absent in cases:
            with self.subTest(label):
                code, log, out = self.run_silently(exe, *switches, out=self.path("out-" + label.replace(" ", "-")))
                self.assertEqual(code, expected, log)
                self.assertTrue(any(entry.startswith(line) for entry in log), log)
                for name in there:
                    self.assertTrue(os.path.isfile(os.path.join(out, name)), name)
                for name in absent:
                    self.assertFalse(os.path.exists(os.path.join(out, name)), name)
        self.assertFalse(os.path.exists(self.path("out-unknown-switch")), "a bad switch wrote something")

    def test_overwrite_answers(self):
        old = b"the user's own\r\n"
        cases = (("never", [], ["/O=N"], True), ("always", [], ["/O=A"], False),
                 ("confirm under /S", ["--overwrite", "confirm"], [], False),
                 ("the switch over the block's policy", ["--overwrite", "always"], ["/O=n"], True))
        for i, (label, options, switches, kept) in enumerate(cases):
            with self.subTest(label):
                out = self.path(f"out-{i}")
                os.makedirs(out)
                with open(os.path.join(out, "readme.txt"), "wb") as f:
                    f.write(old)
                code, log, _ = self.run_silently(self.sfx(*options, name=f"setup-{i}.exe"), "/NORUN", *switches,
                                                 out=out)
                self.assertEqual(code, 0, log)
                with open(os.path.join(out, "readme.txt"), "rb") as f:
                    self.assertEqual(f.read(), old if kept else FILES["readme.txt"])
                self.assertIn(("kept " if kept else "extracted ") + "readme.txt", log)

    def test_destination_beyond_the_ansi_code_page_and_260_characters(self):
        out = os.path.join(self.path("\u0446\u0435\u043b\u044c-\u9b3c"), *(["d" * 60] * 5))   # цель-鬼
        self.assertGreater(len(windows_path(out)), 260)
        code, log, _ = self.run_silently(self.sfx(), "/NORUN", out=out)
        self.assertEqual(code, 0, log)
        self.assertEqual(self.tree(out), {**FILES, RECORDER: recorder_bytes()})
        # A relative folder names one below the current folder.
        code, log, _ = self.run_silently(self.sfx(name="relative.exe"), "/NORUN", folder="rel\\dir")
        self.assertEqual(code, 0, log)
        self.assertEqual(self.tree(self.path("rel", "dir")), {**FILES, RECORDER: recorder_bytes()})

    def test_switch_list(self):
        exe = self.sfx()
        program = self.start(exe, arguments=["/?"])
        box = program.wait_window(MAIN_CAPTION)
        self.assertIn("/S\tsilent", box.text(MESSAGE_TEXT))
        self.assertIn("Exit codes under /S and /A: 0 done", box.text(MESSAGE_TEXT))
        self.close_box(box)
        self.assertEqual(program.exit_code(), 0)
        # Silent, the list shows nowhere, and nothing is extracted.
        code, log, out = self.run_silently(exe, "/?")
        self.assertEqual((code, log, os.path.exists(out)), (0, [], False))
        # A person sees the box that names a bad switch.
        program = self.start(exe, arguments=["/D=x", "--bogus"])
        box = self.box(program, WARNING_CAPTION)
        self.assertIn("Unknown switch: --bogus", box.text(MESSAGE_TEXT))
        self.close_box(box)
        self.assertEqual(program.exit_code(), 2)

    def test_automatic_runs(self):
        # /A, and a file that mksfx --automatic made (flag 0x40): the dialog
        # shows, unzips at once and closes without the success box.
        flagged = self.sfx("--automatic", name="flagged.exe")
        with open(flagged, "rb") as f:
            data = f.read()
        self.assertEqual(data[sfxtest.stub_length(data) + 3], 0x43)
        for label, exe, switches in (("/A", self.sfx(name="auto.exe"), ["/A"]), ("flag", flagged, [])):
            with self.subTest(label):
                out = self.path("out-" + label.strip("/"))
                with MapWatch() as watch:
                    program = self.start(exe, arguments=[*switches, "/D=" + windows_path(out)])
                    self.assertEqual(program.exit_code(60), 0)
                self.assertTrue(watch.maps, "the dialog was never mapped (or the watch sees nothing)")
                self.assertEqual(self.assertExtractedAndStarted(out), "--from-archive")
        # A failure shows the usual boxes and leaves the dialog open.
        damaged = bytearray(local_entry("damaged.txt", b"these bytes will not match\r\n" * 40))
        damaged[14] ^= 0xFF
        exe = self.sfx("--title", "Auto", entries=[bytes(damaged)], name="auto-fails.exe")
        program = self.start(exe, arguments=["/A", "/D=" + windows_path(self.path("out-fails"))])
        dialog = program.wait_window("Auto")
        self.close_box(self.box(program, WARNING_CAPTION, FAILURE_TEXT))
        self.assertEqual(dialog.text(FOOTER), FAILURE_TEXT)
        self.assertTrue(program.running())
        self.assertNoWindow(program, SUCCESS_CAPTION, seconds=1)
        dialog.click(2)
        self.assertEqual(program.exit_code(), 1)


if __name__ == "__main__":
    sfxtest.main()
