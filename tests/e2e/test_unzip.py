"""Archives written by real tools extract byte for byte, with their times,
through the main dialog's "&Unzip"."""

import os
import random
import subprocess
import zipfile

import sfxtest
from sfxtest import FILE_LIST
from unzipflow import STAMP, UnzipTestCase, unix_time


def sample_files():
    """Text, an empty file, incompressible bytes, and text long enough to
    pass the 32,768-byte window several times; in folders two levels deep."""
    rng = random.Random(1234)
    words = [b"alpha", b"beta", b"gamma", b"delta", b"epsilon", b"zeta", b"eta", b"theta"]
    text = b" ".join(rng.choice(words) for _ in range(60000))
    return {
        "readme.txt": b"Read me first.\r\n" * 40,
        "empty.dat": b"",
        "data/random.bin": bytes(rng.getrandbits(8) for _ in range(70000)),
        "data/words.txt": text,
        "data/deeper/note.txt": b"a note",
    }


class ToolArchives(UnzipTestCase):
    def setUp(self):
        super().setUp()
        self.source = self.write_tree(self.path("source"), sample_files())
        # Each file gets its own time, so a mix-up would show.
        for offset, name in enumerate(sorted(sample_files())):
            seconds = unix_time(*STAMP) + 3600 * offset
            os.utime(os.path.join(self.source, name), (seconds, seconds))

    def extract(self, archive, password=None):
        exe = self.make_sfx(archive)
        program, dialog = self.open_sfx(exe)
        listed = [name for name, _ in dialog.items(FILE_LIST)]
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(sorted(listed), sorted(z.namelist()))
        out = self.path("out")
        self.unzip_into(dialog, out)
        if password is not None:
            self.answer_password(program, password)   # asked once, then remembered
        self.expect_success(program)
        self.assertSameTree(self.source, out)
        return out

    def test_info_zip_stored_fast_and_best(self):
        for options in (["-0"], ["-1"], ["-9"]):
            with self.subTest(options=options):
                archive = self.zip_folder(self.source, "zip", name=f"zip{options[0]}.zip",
                                          options=["-D", *options])
                self.extract(archive)
                self.tearDownPrograms()

    def test_info_zip_with_folder_entries(self):
        archive = self.zip_folder(self.source, "zip", options=["-9"])
        with zipfile.ZipFile(archive) as z:
            self.assertIn("data/deeper/", z.namelist())
        out = self.extract(archive)
        self.assertEqual(self.folders(out), ["data", "data/deeper"])

    def test_info_zip_encrypted(self):
        archive = self.zip_folder(self.source, "zip", options=["-D", "-P", "s3cret"])
        self.extract(archive, password="s3cret")

    def test_7zip_fast_best_and_zipcrypto(self):
        for name, options, password in (("mx1", ["-mx=1"], None), ("mx9", ["-mx=9"], None),
                                        ("crypt", ["-mem=ZipCrypto", "-pz1p"], "z1p")):
            with self.subTest(name):
                archive = self.zip_folder(self.source, "7z", name=f"{name}.zip", options=options)
                self.extract(archive, password=password)
                self.tearDownPrograms()

    def test_python_zipfile_stored_and_deflated(self):
        for compression in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
            with self.subTest(compression=compression):
                archive = self.path(f"py{compression}.zip")
                with zipfile.ZipFile(archive, "w", compression) as z:
                    for name in sorted(sample_files()):
                        z.write(os.path.join(self.source, name), name)
                self.extract(archive)
                self.tearDownPrograms()

    def tearDownPrograms(self):
        """Between sub-tests: a fresh output folder."""
        subprocess.run(["rm", "-rf", self.path("out")], check=True)


if __name__ == "__main__":
    sfxtest.main()
