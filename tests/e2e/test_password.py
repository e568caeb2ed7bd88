"""The password prompt: asked for an encrypted entry, remembered for the
next entries and runs, three refusals end the run silently; it opens what
mksfx --password encrypted, from a folder and from a ZIP."""

import subprocess
import zipfile

import sfxtest
from sfxtest import FILE_LIST, local_entry
from unzipflow import PASSWORD_CAPTION, PASSWORD_EDIT, WARNING_CAPTION, UnzipTestCase

FILES = {"a.txt": b"alpha " * 500, "b.txt": b"beta " * 700}
WRONG = ["wrong", "still wrong", "eight"]
# A file of three pieces, which mksfx compresses apart and joins into one
# deflate stream.
LARGE = {"large/lines.txt": b"".join(b"%d: %x packed in pieces\n" % (i, i * i) for i in range(420000))}


def refuses_wrong_passwords(archive):
    """A wrong password passes the one-byte check once in 256 times; the
    tests' wrong passwords must not, so such an archive is made again."""
    with zipfile.ZipFile(archive) as z:
        for name in z.namelist():
            for password in WRONG:
                try:
                    z.open(name, pwd=password.encode()).close()
                    return False
                except RuntimeError:
                    pass
    return True


class Password(UnzipTestCase):
    def encrypted_archive(self, password, broken_tail=False):
        """a.txt and b.txt encrypted by Info-ZIP zip -P. With broken_tail, a
        plain entry with a wrong CRC follows them, so that a run fails and
        the dialog stays open for the next one."""
        source = self.write_tree(self.path("source"), FILES)
        archive = self.zip_folder(source, "zip", options=["-D", "-P", password])
        while not refuses_wrong_passwords(archive):
            archive = self.zip_folder(source, "zip", options=["-D", "-P", password])
        if broken_tail:
            with open(archive, "rb") as f:
                data = f.read()
            entries = data[:data.index(b"PK\x01\x02")]
            broken = local_entry("z-broken.txt", b"z")
            with open(archive, "wb") as f:
                f.write(entries + broken[:14] + b"\x01\x00\x00\x00" + broken[18:] + sfxtest.end_record())
        return archive

    def type_password(self, program, text):
        self.answer_password(program, text)

    def test_wrong_then_right_password(self):
        program, dialog = self.open_sfx(self.make_sfx(self.encrypted_archive("right")))
        out = self.path("out")
        self.unzip_into(dialog, out)
        self.type_password(program, "wrong")
        self.type_password(program, "right")     # the same header, tried afresh
        self.expect_success(program)
        self.assertEqual(self.tree(out), FILES)

    def test_three_refusals_end_the_run_silently(self):
        program, dialog = self.open_sfx(self.make_sfx(self.encrypted_archive("right")))
        out = self.path("out")
        self.unzip_into(dialog, out)
        for attempt in ("", "wrong", "still wrong"):   # an empty text is a try too
            self.type_password(program, attempt)
        self.assertNoWindow(program, PASSWORD_CAPTION, seconds=1)
        self.assertNoWindow(program, WARNING_CAPTION, seconds=0.5)
        self.assertEqual(self.tree(out), {})
        self.assertTrue(all(selected for _, selected in dialog.items(FILE_LIST)))
        # The next run tries the last text typed first, then asks again.
        dialog.click(sfxtest.UNZIP)
        self.type_password(program, "right")
        self.expect_success(program)
        self.assertEqual(self.tree(out), FILES)

    def test_password_is_remembered_across_entries_and_runs(self):
        program, dialog = self.open_sfx(self.make_sfx(self.encrypted_archive("pw", broken_tail=True)))
        out = self.path("out")
        dialog.select(FILE_LIST, 1, False)             # b.txt stays for the next run
        self.unzip_into(dialog, out)
        self.type_password(program, "pw")
        self.expect_failure(program, dialog)           # z-broken.txt
        self.assertEqual(self.tree(out)["a.txt"], FILES["a.txt"])
        self.assertNotIn("b.txt", self.tree(out))
        dialog.select(FILE_LIST, -1, False)
        dialog.select(FILE_LIST, 1, True)
        dialog.click(sfxtest.UNZIP)
        self.assertNoWindow(program, PASSWORD_CAPTION, seconds=1)
        self.expect_success(program)
        self.assertEqual(self.tree(out)["b.txt"], FILES["b.txt"])

    def test_escape_leaves_the_prompt_open(self):
        program, dialog = self.open_sfx(self.make_sfx(self.encrypted_archive("pw")))
        self.unzip_into(dialog, self.path("out"))
        prompt = program.wait_window(PASSWORD_CAPTION)
        prompt.key(PASSWORD_EDIT, "escape")
        prompt.close()
        self.assertEqual(program.wait_window(PASSWORD_CAPTION).hwnd, prompt.hwnd)
        prompt.set_text(PASSWORD_EDIT, "pw")
        prompt.key(PASSWORD_EDIT, "return")            # Enter acts as OK
        prompt.wait_gone()
        self.expect_success(program)

    def test_what_mksfx_encrypted(self):
        # From a folder, every file; from a ZIP of stored entries, with
        # --recompress, each deflated anew and then encrypted.
        source = self.write_tree(self.path("source"), {**FILES, **LARGE})
        stored = self.path("stored.zip")
        subprocess.run(["zip", "-q", "-0", "-r", stored, "."], cwd=source, check=True)
        for label, given, options in (("folder", source, []), ("zip", stored, ["--recompress"])):
            with self.subTest(label):
                exe = self.make_sfx(given, "--password", "Packed-7", *options, name=label + ".exe", raw=False)
                program, dialog = self.open_sfx(exe)
                out = self.path("out-" + label)
                self.unzip_into(dialog, out)
                self.type_password(program, "packed-7")     # refused: asked again
                self.type_password(program, "Packed-7")
                self.expect_success(program)
                self.assertEqual(self.tree(out), {**FILES, **LARGE})

    def test_7zip_zipcrypto_checks_against_the_crc(self):
        source = self.write_tree(self.path("source"), FILES)
        archive = self.zip_folder(source, "7z", options=["-mem=ZipCrypto", "-pseven"])
        while not refuses_wrong_passwords(archive):
            archive = self.zip_folder(source, "7z", options=["-mem=ZipCrypto", "-pseven"])
        program, dialog = self.open_sfx(self.make_sfx(archive))
        out = self.path("out")
        self.unzip_into(dialog, out)
        self.type_password(program, "eight")
        self.type_password(program, "seven")
        self.expect_success(program)
        self.assertEqual(self.tree(out), FILES)


if __name__ == "__main__":
    sfxtest.main()
