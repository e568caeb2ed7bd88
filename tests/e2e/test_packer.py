"""Self-extracting files that mksfx makes: from a folder and from the
archives of every peer (streamed ones included) they extract byte for byte
with their times; encrypted ones take their password; names beyond ASCII
from every kind of writer land exactly; a branded, signed one shows its icon
and version information and still works; and mksfx.exe under Wine writes
what the host's mksfx writes, branded, encrypted and recompressed ones,
names and settings texts beyond ASCII (taken in UTF-16 from the command
line) and files of several pieces included, whatever the thread counts,
and removes its temporary file when it is interrupted."""

import os
import signal
import subprocess
import sys
import time
import zipfile

import pefile

import sfxtest
from sfxtest import config, windows_path
from unzipflow import UnzipTestCase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "packer"))
from sfxfiles import (ICON_SIZES, PEERS, SAMPLE_FILES, SAMPLE_FOLDERS, VERSION, VERSION_OPTIONS,  # noqa: E402
                      VERSION_TEXTS, make_tree, quarter_colour, stub_length, write_icon, write_large_icon,
                      write_stored_zip, zip_with)

TITLE = "Packed by mksfx"


class Packed(UnzipTestCase):
    def setUp(self):
        super().setUp()
        self.source = self.path("source")
        make_tree(self.source, SAMPLE_FILES, SAMPLE_FOLDERS)

    def extract(self, exe, password=None, icon=None):
        """Unzips into a new folder through the dialog, which shows the test
        icon when icon is given; returns the folder."""
        out = self.path("out-" + os.path.basename(exe))
        program, dialog = self.open_sfx(exe, TITLE)
        if icon:
            self.assertShowsIcon(dialog, quarter_colour)
        self.unzip_into(dialog, out)
        if password:
            self.answer_password(program, password)
        self.expect_success(program)
        return out

    def assertExtracted(self, out, archive=None):
        """out holds the source's files and folders; every file has the time
        that the archive gives it, or the source's time."""
        self.assertEqual(self.tree(out), self.tree(self.source))
        self.assertEqual(self.folders(out), self.folders(self.source))
        times = {name: os.stat(os.path.join(self.source, name)).st_mtime for name in SAMPLE_FILES}
        if archive:
            with zipfile.ZipFile(archive) as z:
                stamps = {i.filename.removeprefix("./"): i.date_time for i in z.infolist()}
            times = {name: time.mktime(stamps[name] + (0, 0, -1)) for name in SAMPLE_FILES}
        self.assertEqual({name: os.stat(os.path.join(out, name)).st_mtime for name in SAMPLE_FILES}, times)

    def test_folder(self):
        exe = self.make_sfx(self.source, "--title", TITLE)
        self.assertExtracted(self.extract(exe))

    def test_archives_of_every_peer(self):
        for tool in PEERS:
            with self.subTest(tool):
                archive = zip_with(tool, self.source, self.path(tool + ".zip"))
                exe = self.make_sfx(archive, "--title", TITLE, name=tool + ".exe", raw=False)
                self.assertExtracted(self.extract(exe), archive)

    def test_encrypted_archives(self):
        for tool, command in (("zip-pipe", "zip -q -r -P secret - . | cat > {}"),
                              ("7z", "7z a -tzip -mem=ZipCrypto -psecret -bd -bso0 {} .")):
            with self.subTest(tool):
                archive = self.path(tool + ".zip")
                subprocess.run(command.format(archive), shell=True, cwd=self.source, check=True)
                exe = self.make_sfx(archive, "--title", TITLE, name=tool + ".exe", raw=False)
                self.assertExtracted(self.extract(exe, password="secret"), archive)

    def test_names_beyond_ascii_from_windows_and_unix_writers(self):
        # A Windows writer's CP437 names with an old writer's folder marked
        # only by its attribute; Info-ZIP zip's raw UTF-8 on Linux; a folder.
        utf8 = {"\u00dcbersicht.txt": b"one", "d\u00e4/\u00e9t\u00e9.txt": b"two"}
        source = self.make_files(utf8, "utf8-source")
        dos = write_stored_zip(self.path("dos.zip"), {b"\x9abersicht.txt": b"one", b"d\x84": {"data": b"", "external": 0x10},
                                                      b"d\x84/\x82t\x82.txt": b"two"}, made_by=0 << 8 | 20)
        infozip = self.path("infozip.zip")
        subprocess.run(["zip", "-q", "-r", infozip, "."], cwd=source, check=True)
        for label, given in (("cp437", dos), ("info-zip", infozip), ("folder", source)):
            with self.subTest(label):
                exe = self.make_sfx(given, "--title", TITLE, name=label + ".exe", raw=False)
                out = self.extract(exe)
                self.assertEqual(self.tree(out), utf8)

    def test_branded_and_signed(self):
        # Seven images up to 256x256: the extractor grows past its least
        # length, and finds its settings block (the title) and archive
        # where its image ends.
        icon = write_large_icon(self.path("brand.ico"))
        exe = self.make_sfx(self.source, "--title", TITLE, "--icon", icon, *VERSION_OPTIONS, name="setup.exe")
        pe = pefile.PE(exe)
        group = next(lang for t in pe.DIRECTORY_ENTRY_RESOURCE.entries if t.id == 14 for n in t.directory.entries
                     for lang in n.directory.entries)
        data = pe.get_data(group.data.struct.OffsetToData, group.data.struct.Size)
        self.assertEqual([data[6 + 14 * i] or 256 for i in range(data[4])], list(ICON_SIZES))
        with open(exe, "rb") as f:
            length = stub_length(f.read())
        self.assertEqual(length, max(s.PointerToRawData + s.SizeOfRawData for s in pe.sections))
        info = subprocess.run([config().mksfx, "--info", exe], capture_output=True, text=True).stdout
        for text in (f"extractor: {length} bytes", f"settings at offset {length}:", f"archive at offset {length + 256}:"):
            self.assertIn(text, info)
        key, cert, signed = self.path("key.pem"), self.path("cert.pem"), self.path("signed.exe")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=mksfx test"], check=True, capture_output=True)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", exe, "-out", signed],
                       check=True, capture_output=True)
        info = self.driver.version_info(signed)
        self.assertEqual((info["file"], info["product"], info["translation"]), (VERSION, VERSION, "000004B0"))
        self.assertEqual(info["texts"], {**VERSION_TEXTS, "FileVersion": VERSION, "ProductVersion": VERSION,
                                         "OriginalFilename": "setup.exe"})
        width, height, pixels = self.driver.file_icon(signed)
        self.assertEqual((width, height), (32, 32))
        self.assertEqual(pixels, [quarter_colour(32, x, y) for y in range(32) for x in range(32)])
        self.assertExtracted(self.extract(signed, icon=True))


class WindowsPacker(UnzipTestCase):
    """The x86-64 mksfx.exe, run under Wine like any console program."""

    def windows_mksfx(self, *args):
        return subprocess.run([config().wine, os.path.join(config().dist, "mksfx.exe"), *args],
                              env=config().environment(), capture_output=True, text=True, errors="replace")

    def test_writes_what_the_host_packer_writes(self):
        # Names beyond ASCII and the ANSI code page: the folder walk through
        # the wide-character calls gives the same UTF-8 names. Title and
        # command beyond the code page arrive through the wide command line.
        source = self.path("source")
        lines = b"".join(b"%d: %x in pieces\n" % (i, i * i) for i in range(600000))
        make_tree(source, {**SAMPLE_FILES, "Übersicht Łódź \U0001F600.txt": b"wide", "large.txt": lines},
                  SAMPLE_FOLDERS)
        archive = zip_with("bsdtar-pipe", source, self.path("in.zip"))
        icon = write_icon(self.path("brand.ico"))
        settings = ["--title", TITLE + " Łódź 鬼", "--temp-folder", "--run", "><Übersicht Łódź \U0001F600.txt",
                    "--overwrite", "never", *VERSION_OPTIONS[:4]]
        for label, given, options in (("folder", source, ["--level", "9", "--password", "Pieces-9"]),
                                      ("zip", archive, []), ("zip-recompressed", archive, ["--recompress"])):
            with self.subTest(label):
                # Both name their output alike: OriginalFilename is the same.
                os.makedirs(self.path("host"), exist_ok=True)
                host = self.make_sfx(given, *settings, *options, "--threads", "3", "--icon", icon,
                                     name="host/setup.exe", raw=False)
                windows = self.path("setup.exe")
                run = self.windows_mksfx("--stub", windows_path(config().stub()), *settings, *options,
                                         "--threads", "1", "--icon", windows_path(icon),
                                         "-o", windows_path(windows), windows_path(given))
                self.assertEqual(run.returncode, 0, run.stderr)
                with open(host, "rb") as h, open(windows, "rb") as w:
                    self.assertTrue(h.read() == w.read(), "the two packers wrote different files")

    def test_refuses_and_leaves_no_file(self):
        source = self.path("source")
        make_tree(source, {"ok.txt": b"fine", "sub/aux.txt": b"a device name on Windows"})
        out = self.path("out.exe")
        run = self.windows_mksfx("--stub", windows_path(config().stub()), "-o", windows_path(out),
                                 windows_path(source))
        self.assertEqual(run.returncode, 1)
        self.assertIn('"sub/aux.txt"', run.stderr)
        self.assertEqual([n for n in os.listdir(self.work) if n.startswith("out")], [])

    def test_an_interrupt_removes_the_temporary_file(self):
        # Wine hands a SIGINT to the program as the console's Ctrl+C. The
        # hole of 1 TiB is far from read when it arrives.
        source = self.path("source")
        make_tree(source, {"small.txt": b"small"})
        with open(os.path.join(source, "huge.bin"), "wb") as f:
            f.truncate(1 << 40)
        out = self.path("out.exe")
        program = subprocess.Popen([config().wine, os.path.join(config().dist, "mksfx.exe"), "--stub",
                                    windows_path(config().stub()), "--level", "1", "-o", windows_path(out),
                                    windows_path(source)],
                                   env=config().environment(), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                   text=True, errors="replace")

        def temporary_size():
            parts = [n for n in os.listdir(self.work) if n.startswith("out.exe.") and n.endswith(".part")]
            return os.path.getsize(os.path.join(self.work, parts[0])) if parts else 0

        deadline = time.monotonic() + 60
        while temporary_size() < 1 << 20:
            self.assertLess(time.monotonic(), deadline, "mksfx.exe wrote nothing")
            self.assertIsNone(program.poll(), "mksfx.exe ended by itself")
            time.sleep(0.05)
        program.send_signal(signal.SIGINT)
        _, errors = program.communicate(timeout=60)
        self.assertEqual(program.returncode, 1, errors)
        self.assertTrue(errors.endswith("mksfx: interrupted\n"), errors)
        self.assertEqual([n for n in os.listdir(self.work) if n.startswith("out")], [])


if __name__ == "__main__":
    sfxtest.main()
