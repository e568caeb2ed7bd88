"""End-to-end tests of the stub under Wine: fixtures, the dialog driver, paths.

A test case derives from SfxTestCase. Each test gets a fresh folder under the
build folder (self.work) and its own driver process (self.driver), which runs
in the shared Wine session and sees and presses the real dialogs:

    class Startup(SfxTestCase):
        def test_close(self):
            exe = self.make_sfx(self.make_zip({"a.txt": b"text"}), "--title", "Demo")
            program = self.start(exe)
            dialog = program.wait_window("Demo")
            self.assertTrue(dialog.control(301).visible)
            dialog.click(2)
            self.assertEqual(program.exit_code(), 0)

Texts are str, both ways: the driver reads and writes them through the
system's wide calls, so they are the characters the program shows.

The tests run under CTest (tests/e2e/tests.cmake), which passes:
    SFX_WINE_ENV   the session's env file (tests/wine/session start DIR)
    SFX_DIST       the folder with mksfx, sfx-x64.exe and sfx-x86.exe
    SFX_DRIVER     the driver, sfx-driver.exe
    SFX_E2E_WORK   the folder under which every test gets its own folder
To run one by hand, start a session and set the same variables.
"""

import inspect
import io
import json
import os
import selectors
import shlex
import shutil
import struct
import subprocess
import sys
import time
import unittest
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "packer"))
from sfxfiles import stub_length  # noqa: E402

SETTINGS_BLOCK_SIZE = 256
MAIN_CAPTION = "neat-SFX Archive"
DIALOG_CLASS = "#32770"

# How long a window may take to appear, or a program to end. Generous: under
# a loaded CI machine a Wine process start can take seconds.
WINDOW_TIMEOUT = 30.0
EXIT_TIMEOUT = 30.0

# Control identifiers of the main dialog.
UNZIP, CLOSE = 1, 2
FOLDER_EDIT = 101
FILE_LIST, PLAIN_LIST = 301, 302
OVERWRITE_ALWAYS, OVERWRITE_NEVER, OVERWRITE_CONFIRM = 501, 502, 503
OVERWRITE_LABEL = 509
FOOTER = 601
BROWSE = 775
RUN_CHECK = 1007
# The text of a message box is its static control with this identifier.
MESSAGE_TEXT = 0xFFFF


class Config:
    """What CTest passes to the tests, and the Wine session's variables."""

    def __init__(self):
        def required(name):
            value = os.environ.get(name)
            if not value:
                raise RuntimeError(f"{name} is not set (run the tests through ctest)")
            return value

        self.wine_env_file = required("SFX_WINE_ENV")
        self.dist = required("SFX_DIST")
        self.driver = required("SFX_DRIVER")
        self.work = required("SFX_E2E_WORK")
        self.wine_env = read_env_file(self.wine_env_file)
        self.wine = self.wine_env["SFX_WINE"]
        self.wine32 = self.wine_env["SFX_WINE32"]
        self.prefix = self.wine_env["WINEPREFIX"]
        self.display = self.wine_env["DISPLAY"]

    def environment(self, **extra):
        """The environment for a Wine program of the session."""
        env = dict(os.environ)
        env.update(self.wine_env)
        env.update(extra)
        return env

    def stub(self, arch="x64"):
        return os.path.join(self.dist, f"sfx-{arch}.exe")

    @property
    def mksfx(self):
        return os.path.join(self.dist, "mksfx")


def read_env_file(path):
    """Reads the session's lines of the form  export NAME='value'."""
    if not os.path.exists(path):
        raise RuntimeError(f"no Wine session: {path} is missing")
    values = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            words = shlex.split(line)
            if len(words) == 2 and words[0] == "export" and "=" in words[1]:
                name, value = words[1].split("=", 1)
                values[name] = value
    return values


_config = None


def config():
    global _config
    if _config is None:
        _config = Config()
    return _config


# ---- paths -----------------------------------------------------------------

def windows_path(unix_path):
    """The Windows name of a Unix path: Wine's drive Z: is the Unix root."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def unix_path(path):
    """The Unix file behind a Windows path of the session's prefix.

    The drive comes from the prefix's dosdevices; each further component is
    matched without regard to case, as Windows would."""
    path = path.replace("/", "\\")
    if len(path) < 2 or path[1] != ":":
        raise ValueError(f"not an absolute Windows path: {path}")
    drive = os.path.join(config().prefix, "dosdevices", path[0].lower() + ":")
    current = os.path.realpath(drive)
    for part in [p for p in path[2:].split("\\") if p]:
        exact = os.path.join(current, part)
        if not os.path.exists(exact) and os.path.isdir(current):
            matches = [n for n in os.listdir(current) if n.lower() == part.lower()]
            if matches:
                exact = os.path.join(current, matches[0])
        current = exact
    return current


# ---- archives and self-extracting files --------------------------------------

def dos_time(year, month, day, hour, minute, second):
    """A ZIP time-and-date word: low 16 bits DOS time, high 16 bits DOS date."""
    date = (year - 1980) << 9 | month << 5 | day
    time_ = hour << 11 | minute << 5 | second // 2
    return date << 16 | time_


def local_entry(name, data, method=8, time_date=None, version=20, flags=0, extra=b""):
    """One ZIP local entry (header, name, extra field, data), built by hand
    for archives that the usual tools will not write. Method 8 deflates, 0
    stores; data is the uncompressed content."""
    if isinstance(name, str):
        name = name.encode("latin-1")
    if time_date is None:
        time_date = dos_time(2001, 2, 3, 4, 5, 6)
    if method == 8:
        packer = zlib.compressobj(9, zlib.DEFLATED, -15)
        packed = packer.compress(data) + packer.flush()
    else:
        packed = data
    header = struct.pack("<IHHHIIIIHH", 0x04034B50, version, flags, method, time_date,
                         zlib.crc32(data), len(packed), len(data), len(name), len(extra))
    return header + name + extra + packed


def end_record():
    """An end of central directory record (of no entries): the walk over
    local entries ends there cleanly, as it does at a central directory."""
    return struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0, 0, 0, 0, 0)


class _Unseekable(io.RawIOBase):
    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def streamed_zip(entries, method=zipfile.ZIP_DEFLATED):
    """The archive that Python's zipfile writes to an output it cannot seek
    back in, as any streaming writer does: flag bit 3, CRC and sizes 0 in
    the local headers, the true values in a data descriptor behind each
    entry's data. entries maps names to contents."""
    out = _Unseekable()
    with zipfile.ZipFile(out, "w", method) as z:
        for name, data in entries.items():
            with z.open(name, "w") as entry:
                entry.write(data)
    return bytes(out.data)


def settings_block(flags=0x03, title=b"", folder=b"", command=b"", signature=b"MPU"):
    """A 256-byte settings block, as the packer writes it but without its
    checks: strings may run past the block (the bytes returned are longer)."""
    def raw(text):
        return text.encode("latin-1") if isinstance(text, str) else text

    title, folder, command = raw(title), raw(folder), raw(command)
    block = (signature + bytes([flags, len(title), len(folder), len(command)])
             + title + folder + command)
    return block.ljust(SETTINGS_BLOCK_SIZE, b"\0")


_raw_option = None


def _mksfx_raw_option():
    """mksfx rebuilds a ZIP's headers unless --raw-zip asks it to append the
    archive as it is; a packer without that option always appends it as is."""
    global _raw_option
    if _raw_option is None:
        usage = subprocess.run([config().mksfx, "--help"], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT).stdout
        _raw_option = ["--raw-zip"] if b"--raw-zip" in usage else []
    return _raw_option


# ---- the driver ---------------------------------------------------------------

class DriverError(Exception):
    """The driver answered a command with an error."""


class Timeout(DriverError):
    """A wait of the driver ran out of time."""


def _quote(argument):
    if isinstance(argument, int):
        return str(argument)
    data = argument.encode("utf-8")
    plain = data and all(0x21 <= b <= 0x7E and b not in b'"' for b in data)
    if plain:
        return argument
    out = []
    for b in data:
        if b in b'"\\':
            out.append("\\" + chr(b))
        elif 0x20 <= b <= 0x7E:
            out.append(chr(b))
        else:
            out.append(f"\\x{b:02x}")
    return '"' + "".join(out) + '"'


def _ms(seconds):
    return str(int(seconds * 1000))


class Control:
    """One child control as the driver lists it."""

    def __init__(self, info):
        self.hwnd = info["hwnd"]
        self.id = info["id"]
        self.cls = info["class"]
        self.text = info["text"]
        self.style = info["style"]
        self.visible = info["visible"]
        self.enabled = info["enabled"]
        self.checked = info["checked"]

    def __repr__(self):
        return (f"<{self.cls} {self.id} {self.text!r} "
                f"{'visible' if self.visible else 'hidden'} checked={self.checked}>")


class Window:
    """A top-level window, usually a dialog; controls are named by id."""

    def __init__(self, driver, hwnd):
        self.driver = driver
        self.hwnd = hwnd

    def ref(self, control_id=None):
        return str(self.hwnd) if control_id is None else f"{self.hwnd}/{control_id}"

    @property
    def caption(self):
        return self.driver.call("text", self.ref())

    def rect(self):
        """(left, top, right, bottom) on the screen."""
        r = self.driver.call("rect", self.ref())
        return r["left"], r["top"], r["right"], r["bottom"]

    def controls(self):
        """Every direct child, in creation order."""
        return [Control(c) for c in self.driver.call("children", self.ref())]

    def control(self, control_id):
        """The first child with this id, or None when there is none (for
        instance after the program destroyed it)."""
        for c in self.controls():
            if c.id == control_id:
                return c
        return None

    def text(self, control_id):
        return self.driver.call("text", self.ref(control_id))

    def checked(self, control_id):
        return self.driver.call("checked", self.ref(control_id))

    def set_check(self, control_id, state):
        """BM_SETCHECK: the dialog is not told (use click for that)."""
        self.driver.call("check", self.ref(control_id), int(state))

    def set_text(self, control_id, text):
        self.driver.call("set-text", self.ref(control_id), text)

    def items(self, control_id, first=None, count=None):
        """A list box's items as (text, selected) pairs: all, or count of
        them from first (a list of thousands takes a while)."""
        span = [] if first is None else [first, count]
        return [(i["text"], i["selected"]) for i in self.driver.call("items", self.ref(control_id), *span)]

    def list_counts(self, control_id):
        """A list box's number of items and of selected items."""
        counts = self.driver.call("list-counts", self.ref(control_id))
        return counts["items"], counts["selected"]

    def select(self, control_id, index, state=True):
        """Selects (or deselects) an item; index -1 for all of a
        multiple-selection list. The dialog is not told."""
        self.driver.call("select", self.ref(control_id), index, int(state))

    # Posted: they return at once; wait for their effect.
    def click(self, control_id):
        self.driver.call("click", self.ref(control_id))

    def command(self, control_id, code=0):
        self.driver.call("command", self.ref(), control_id, code)

    def type(self, control_id, text):
        self.driver.call("type", self.ref(control_id), text)

    def key(self, control_id, key):
        """key: a virtual-key number or a name such as "return", "escape"."""
        self.driver.call("key", self.ref(control_id), key)

    def close(self):
        """WM_CLOSE, as the close box sends it."""
        self.driver.call("close", self.ref())

    def wait_gone(self, timeout=WINDOW_TIMEOUT):
        self.driver.call("wait-gone", self.ref(), _ms(timeout), timeout=timeout)

    def __repr__(self):
        return f"<Window {self.hwnd:#x}>"


class Driver:
    """One sfx-driver process in the session, for one test."""

    def __init__(self, cwd, log_path, **environment):
        """environment: Unix variables for the driver and what it starts
        (LANG chooses Wine's ANSI code page)."""
        cfg = config()
        self._log = open(log_path, "ab")
        self._start(cfg, cwd, environment)
        try:
            self.call("temp-path")
        except DriverError as lost:
            # Wine loses a process start now and then on a busy machine (the
            # driver meets it as error 1359 when it starts a program): here
            # the driver ends before it reads its first command, with nothing
            # in its log, and it does nothing of its own before that read.
            # Nothing of the test has run yet, so it is started once more.
            if self.process.poll() is None:
                raise
            print(f"\nWine lost the start of the driver ({lost}); starting it again", file=sys.stderr)
            self._selector.close()
            self.process.stdin.close()
            self.process.stdout.close()
            self._start(cfg, cwd, environment)
            self.call("temp-path")

    def _start(self, cfg, cwd, environment):
        self.process = subprocess.Popen(
            [cfg.wine, cfg.driver], cwd=cwd, env=cfg.environment(**environment),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self._log, bufsize=0)
        self._buffer = b""
        self._unanswered = None             # a command whose answer is still to come
        self._selector = selectors.DefaultSelector()
        self._selector.register(self.process.stdout, selectors.EVENT_READ)

    def call(self, command, *arguments, timeout=0.0):
        """Sends one command and returns the decoded reply value. timeout is
        the time the command itself may wait; the reply may take that long
        and some more."""
        line = " ".join([command] + [_quote(a) for a in arguments])
        if self._unanswered:
            # Its answer would come now and be taken for this one's.
            raise DriverError(f"{line}: the driver has not answered {self._unanswered}")
        try:
            self.process.stdin.write(line.encode("ascii") + b"\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            raise DriverError(f"{line}: {self._ended()}") from None
        try:
            reply = self._read_line(timeout + 60.0)
        except DriverError:
            self._unanswered = line
            raise
        status, _, rest = reply.partition(" ")
        if status == "ok":
            return json.loads(rest)
        if rest == "timeout":
            raise Timeout(f"{line}: timeout")
        raise DriverError(f"{line}: {rest}")

    def _read_line(self, timeout):
        deadline = time.monotonic() + timeout
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not self._selector.select(left):
                raise DriverError("the driver did not answer")
            chunk = os.read(self.process.stdout.fileno(), 65536)
            if not chunk:
                raise DriverError(self._ended())
            self._buffer += chunk
        line, _, self._buffer = self._buffer.partition(b"\n")
        return line.decode("ascii").rstrip("\r")

    def _ended(self):
        try:
            code = self.process.wait(5)
        except subprocess.TimeoutExpired:
            code = None
        return f"the driver ended (exit code {code}); its log: {self._log.name}"

    def close(self):
        if self.process.poll() is None:
            try:
                self.call("quit")
            except (DriverError, OSError):
                pass
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._selector.close()
        self.process.stdin.close()
        self.process.stdout.close()
        self._log.close()

    # ---- queries ----
    def screen_size(self):
        s = self.call("screen")
        return s["width"], s["height"]

    def temp_path(self):
        """The system's temporary folder, e.g. C:\\users\\root\\Temp\\."""
        return self.call("temp-path")

    def windows(self, pid=None):
        """Visible top-level windows (of one process, or all) as dicts with
        hwnd, pid, class, caption."""
        return self.call("windows", "*" if pid is None else pid)

    def wait_window(self, caption, cls=DIALOG_CLASS, pid=None, timeout=WINDOW_TIMEOUT):
        hwnd = self.call("wait-window", "*" if pid is None else pid, cls or "*", caption,
                         _ms(timeout), timeout=timeout)
        return Window(self, hwnd)

    def version_info(self, path):
        """What the system's version functions read from a file (a Unix path)."""
        return self.call("version-info", windows_path(path))

    def file_icon(self, path):
        """The large icon that Explorer shows for a file: (width, height,
        [0xRRGGBB, ...] row by row)."""
        icon = self.call("file-icon", windows_path(path))
        pixels = [int(icon["pixels"][i:i + 6], 16) for i in range(0, len(icon["pixels"]), 6)]
        return icon["width"], icon["height"], pixels

    # ---- files ----
    def lock(self, path, access="r", share="-"):
        """Holds a file open (see the driver's lock command); returns its id."""
        return self.call("lock", path, access, share)

    def unlock(self, lock_id):
        self.call("unlock", lock_id)

    def short_path(self, path):
        return self.call("short-path", path)

    def remove_plain(self, folder):
        """Deletes the folder's files and the folder as Explorer would, with
        plain calls; returns the names of the files."""
        return self.call("remove-plain", folder)


class Program:
    """A Windows program started through the driver."""

    def __init__(self, driver, pid, path):
        self.driver = driver
        self.pid = pid
        self.path = path
        self.code = None

    def wait_window(self, caption, cls=DIALOG_CLASS, timeout=WINDOW_TIMEOUT):
        """A visible top-level window of this program with exactly this caption."""
        return self.driver.wait_window(caption, cls, self.pid, timeout)

    def windows(self):
        return self.driver.windows(self.pid)

    def exit_code(self, timeout=EXIT_TIMEOUT):
        if self.code is None:
            self.code = self.driver.call("wait-exit", self.pid, _ms(timeout), timeout=timeout)
        return self.code

    def running(self):
        try:
            self.driver.call("wait-exit", self.pid, "0")
            return False
        except Timeout:
            return True

    def kill(self):
        self.driver.call("kill", self.pid)


# ---- test cases ---------------------------------------------------------------

class SfxTestCase(unittest.TestCase):
    """A test with its own folder and driver; programs it starts are ended
    at its end, and a failure leaves a screenshot and the window list in the
    test's folder."""

    def setUp(self):
        cfg = config()
        script = os.path.splitext(os.path.basename(inspect.getfile(type(self))))[0]
        name = f"{script}.{type(self).__name__}.{self._testMethodName}"
        self.work = os.path.join(cfg.work, name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.programs = []
        self.other_drivers = []
        self.driver = Driver(self.work, os.path.join(self.work, "driver.log"))
        self.addCleanup(self._end_programs)

    def tearDown(self):
        if self._has_failed():
            self.record_failure()

    def _has_failed(self):
        """Whether this test (or one of its subtests) has failed so far."""
        result = getattr(self._outcome, "result", None)
        if result is None:
            return False
        return any(getattr(test, "test_case", test) is self
                   for test, _ in result.failures + result.errors)

    def _end_programs(self):
        for program in self.programs:
            try:
                if program.running():
                    program.kill()
            except DriverError:
                pass
        for driver in [self.driver, *self.other_drivers]:
            driver.close()

    def other_driver(self, name, **environment):
        """A second driver, for programs that start under other Unix
        variables (LANG=ja_JP.UTF-8: Wine's code page 932)."""
        driver = Driver(self.work, self.path(f"driver-{name}.log"), **environment)
        self.other_drivers.append(driver)
        return driver

    # ---- fixtures ----
    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def make_zip(self, entries, name="archive.zip", compression=zipfile.ZIP_DEFLATED):
        """A ZIP written by Python's zipfile. entries: name -> bytes, or
        name -> (bytes, (year, month, day, hour, minute, second))."""
        path = self.path(name)
        with zipfile.ZipFile(path, "w", compression) as z:
            for entry_name, value in entries.items():
                data, stamp = value if isinstance(value, tuple) else (value, (2001, 2, 3, 4, 5, 6))
                z.writestr(zipfile.ZipInfo(entry_name, stamp), data, compression)
        return path

    def make_files(self, files, folder="content"):
        """Writes files (relative name -> bytes) under a folder of the test;
        returns the folder."""
        root = self.path(folder)
        for relative, data in files.items():
            target = os.path.join(root, relative)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)
        return root

    def zip_folder(self, folder, tool="zip", name="archive.zip", options=()):
        """A ZIP of a folder's contents, written by the zip or 7z program."""
        path = self.path(name)
        if os.path.exists(path):
            os.remove(path)
        if tool == "zip":
            command = ["zip", "-q", "-r", *options, path, "."]
        elif tool == "7z":
            command = ["7z", "a", "-tzip", "-bd", "-bso0", *options, path, "."]
        else:
            raise ValueError(tool)
        subprocess.run(command, cwd=folder, check=True)
        return path

    def make_sfx(self, archive, *options, name="sfx.exe", arch="x64", raw=True):
        """A self-extracting file written by mksfx from the given stub.
        archive is a ZIP file, appended byte for byte as the test made it,
        or with raw=False as mksfx rebuilds it; or a folder, which mksfx
        packs itself."""
        path = self.path(name)
        as_is = _mksfx_raw_option() if raw and not os.path.isdir(archive) else []
        stub = [] if "--stub" in options else ["--stub", config().stub(arch)]
        subprocess.run([config().mksfx, *stub, *as_is, *options, "-o", path, archive], check=True)
        return path

    def write_sfx(self, tail, name="sfx.exe", arch="x64"):
        """The stub followed by arbitrary bytes (a hand-made block, an archive)."""
        path = self.path(name)
        with open(config().stub(arch), "rb") as f:
            stub = f.read()
        assert len(stub) == stub_length(stub), "the stub is not as long as its image says"
        with open(path, "wb") as f:
            f.write(stub + tail)
        return path

    # ---- programs ----
    def start(self, exe, cwd=None, environment=None, driver=None, arguments=None):
        """Starts a Windows program (a Unix path) in cwd (default: the test's
        folder) through the driver (default: the test's), with the Windows
        variables of environment set and arguments on its command line (a
        list, quoted as the C runtime reads it, or the text itself); it is
        ended at the end of the test."""
        driver = driver or self.driver
        given = [windows_path(exe), windows_path(cwd or self.work)]
        if arguments is not None:
            given.append(arguments if isinstance(arguments, str) else subprocess.list2cmdline(arguments))
        given += [f"{name}={value}" for name, value in (environment or {}).items()]
        pid = driver.call("start" if arguments is None else "start-with", *given)["pid"]
        program = Program(driver, pid, windows_path(exe))
        self.programs.append(program)
        return program

    # ---- checks ----
    def assertCentred(self, window):
        """Centred on the primary screen as the program places its dialogs:
        (screen - window) / 2, truncated toward zero."""
        left, top, right, bottom = window.rect()
        width, height = self.driver.screen_size()
        self.assertEqual((left, top), (int((width - (right - left)) / 2),
                                       int((height - (bottom - top)) / 2)))

    def assertShowsIcon(self, dialog, colour_at, seconds=10.0):
        """The dialog's icon control shows a 32x32 icon whose pixel (x, y)
        has colour_at(32, x, y) (0xRRGGBB): looked at in the middle of each
        quarter on the screen. The control paints after the dialog becomes
        visible, so the screen is looked at until it shows them, for a few
        seconds at the most."""
        from folderflow import Picture
        SS_ICON = 3
        icon = next(c for c in dialog.controls() if c.cls.lower() == "static" and c.style & 0x1F == SS_ICON)
        r = self.driver.call("rect", str(icon.hwnd))
        points = [(x, y) for y in (8, 24) for x in (8, 24)]
        expected = [f"{colour_at(32, x, y):06x}" for x, y in points]
        deadline = time.monotonic() + seconds
        while True:
            picture = Picture.of(self, (r["left"], r["top"], r["right"], r["bottom"]), "icon.png")
            shown = [picture.pixel(x, y).hex() for x, y in points]
            if shown == expected or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        self.assertEqual(shown, expected, "the colours of the dialog's icon")

    # ---- diagnostics ----
    def screenshot(self, name="screen.png"):
        path = self.path(name)
        subprocess.run(["import", "-display", config().display, "-window", "root", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return path

    def record_failure(self):
        """Keeps what the screen showed: a screenshot and every visible
        top-level window with its controls."""
        try:
            self.screenshot("failure.png")
        except (OSError, subprocess.SubprocessError):
            pass
        try:
            windows = self.driver.windows()
            for w in windows:
                try:
                    w["controls"] = self.driver.call("children", w["hwnd"])
                except DriverError as e:
                    w["controls"] = str(e)
            with open(self.path("failure-windows.json"), "w", encoding="utf-8") as f:
                json.dump(windows, f, indent=1)
        except (DriverError, OSError):
            pass
        print(f"\nfailure records in {self.work}")


def main():
    unittest.main(verbosity=2)
