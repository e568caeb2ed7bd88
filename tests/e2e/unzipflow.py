"""What the extraction tests share: opening a self-extracting file, pressing
"&Unzip" into a folder, answering prompts and boxes, comparing trees."""

import os
import signal
import threading
import time

import sfxtest
from sfxtest import (FOLDER_EDIT, FOOTER, MAIN_CAPTION, MESSAGE_TEXT, UNZIP, SfxTestCase,
                     Timeout)

WARNING_CAPTION = "neat-Sfx - WARNiNG"
SUCCESS_CAPTION = "Extraction Completed"
SUCCESS_TEXT = "All Files Have Been Extracted Successfully."
FAILURE_TEXT = "The selected file(s) couldn't be extracted."
# Shown for an archive that cannot be read, and when a walk meets damage.
CORRUPTED_TEXT = ("There was an error reading the Archive.\r\n\r\n"
                  "Probably the Archive was corrupted. If you downloaded this file from the Web, "
                  "please try download it again.")
PASSWORD_CAPTION = "Encryption Encountered"
OVERWRITE_CAPTION = "File Already Exists"
OVERWRITE_QUESTION = "Already Exists in destination Folder. Overwrite?"
# Where the stub writes an entry (TEMP_FILE in this folder inside the
# destination, beside TEMP_MARK, which says what the folder is) before the
# whole, verified file takes the target's name.
TEMP_FOLDER = "~SFXTMP"
TEMP_FILE = "DATA.TMP"
TEMP_MARK = "README.TXT"
PASSWORD_EDIT = 101
OVERWRITE_TEXT, DONT_ASK = 101, 401
YES, NO, OK = 1, 2, 1

# An even number of seconds: DOS times keep two-second steps.
STAMP = (2004, 7, 19, 13, 37, 42)


def unix_time(year, month, day, hour, minute, second):
    """Seconds since the epoch of a local time (the session's time zone is
    the machine's, like Wine's)."""
    return time.mktime((year, month, day, hour, minute, second, 0, 0, -1))


def temp_of(destination):
    """The file that an entry is written to before it takes its name, when
    extracted into destination."""
    return os.path.join(destination, TEMP_FOLDER, TEMP_FILE)


def unix_pid_of(exe):
    """The Linux process that Wine runs a Windows program in."""
    # Wine puts the program's Windows path first on the command line.
    name = sfxtest.windows_path(exe).lower().encode()
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    arguments = f.read().split(b"\0")
            except OSError:
                continue
            if arguments and arguments[0].lower() == name:
                return int(entry)
    raise AssertionError(f"no process for {exe}")


class Throttled:
    """Stops a process for 90 ms of every 100 while the block runs: a slow
    machine, on which one entry takes seconds."""

    def __init__(self, pid):
        self.pid = pid
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.run)

    def run(self):
        try:
            while not self.done.is_set():
                os.kill(self.pid, signal.SIGSTOP)
                time.sleep(0.09)
                os.kill(self.pid, signal.SIGCONT)
                time.sleep(0.01)
        except ProcessLookupError:
            pass                            # the test ended it

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exception):
        self.done.set()
        self.thread.join()
        try:
            os.kill(self.pid, signal.SIGCONT)
        except ProcessLookupError:
            pass


class UnzipTestCase(SfxTestCase):
    """Extraction as a person does it, through the real dialogs."""

    def open_sfx(self, exe, caption=MAIN_CAPTION, cwd=None, **start):
        """Starts the program (start: the environment or another driver,
        as SfxTestCase.start takes them) and waits for its main dialog."""
        program = self.start(exe, cwd, **start)
        return program, program.wait_window(caption)

    def unzip_into(self, dialog, folder):
        """Types the folder into the folder box and presses "&Unzip"."""
        os.makedirs(folder, exist_ok=True)
        dialog.set_text(FOLDER_EDIT, sfxtest.windows_path(folder))
        dialog.click(UNZIP)

    def box(self, program, caption, text=None):
        """Waits for a message box; checks its text when given."""
        box = program.wait_window(caption)
        if text is not None:
            self.assertEqual(box.text(MESSAGE_TEXT), text)
        return box

    def close_box(self, box):
        box.click(OK)
        box.wait_gone()

    def expect_success(self, program):
        """The success box; after OK the dialog ends with exit code 0."""
        self.close_box(self.box(program, SUCCESS_CAPTION, SUCCESS_TEXT))
        self.assertEqual(program.exit_code(), 0)

    def expect_failure(self, program, dialog):
        """The failure box, then the same sentence in the footer line; the
        dialog stays open."""
        self.close_box(self.box(program, WARNING_CAPTION, FAILURE_TEXT))
        self.assertEqual(dialog.text(FOOTER), FAILURE_TEXT)
        self.assertTrue(program.running())

    def assertNoWindow(self, program, caption, seconds=2.0):
        """No window of that caption shows up within a few seconds."""
        with self.assertRaises(Timeout, msg=f"unexpected window {caption!r}"):
            program.wait_window(caption, timeout=seconds)

    def answer_password(self, program, password):
        prompt = program.wait_window(PASSWORD_CAPTION)
        prompt.set_text(PASSWORD_EDIT, password)
        prompt.click(OK)
        prompt.wait_gone()

    def answer_overwrite(self, program, name, answer, dont_ask=False):
        """answer: YES, NO, or "escape" (pressed in the check box)."""
        prompt = program.wait_window(OVERWRITE_CAPTION)
        self.assertEqual(prompt.text(OVERWRITE_TEXT), name + OVERWRITE_QUESTION)
        if dont_ask:
            prompt.click(DONT_ASK)
            self.wait_until(lambda: prompt.checked(DONT_ASK) == 1)
        if answer == "escape":
            prompt.key(DONT_ASK, "escape")
        else:
            prompt.click(answer)
        prompt.wait_gone()

    def wait_until(self, condition, seconds=10.0):
        """Polls a condition that a posted click will make true."""
        deadline = time.monotonic() + seconds
        while not condition():
            if time.monotonic() > deadline:
                self.fail("the expected state did not come about")
            time.sleep(0.05)

    # ---- files ----
    def tree(self, root):
        """relative path -> bytes for every file below root ("/" separators)."""
        files = {}
        for folder, _, names in os.walk(root):
            for name in names:
                path = os.path.join(folder, name)
                with open(path, "rb") as f:
                    files[os.path.relpath(path, root).replace(os.sep, "/")] = f.read()
        return files

    def folders(self, root):
        return sorted(os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
                      for folder, names, _ in os.walk(root) for name in names)

    def assertSameTree(self, expected_root, actual_root, times=True):
        """Same files, same bytes, and (DOS times in two-second steps) the
        same last-write times."""
        expected, actual = self.tree(expected_root), self.tree(actual_root)
        self.assertEqual(sorted(actual), sorted(expected))
        for name, data in expected.items():
            self.assertEqual(actual[name], data, name)
            if times:
                want = os.stat(os.path.join(expected_root, name)).st_mtime
                got = os.stat(os.path.join(actual_root, name)).st_mtime
                self.assertLessEqual(abs(got - want), 2, name)

    def write_tree(self, root, files, stamp=STAMP):
        """Writes files (name -> bytes) with the same even-second time."""
        for name, data in files.items():
            path = os.path.join(root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            seconds = unix_time(*stamp)
            os.utime(path, (seconds, seconds))
        return root
