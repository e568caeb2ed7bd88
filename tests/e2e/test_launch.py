"""The program started after a successful extraction: the run check box,
the "><" token, the "|" split, and when nothing is started."""

import os
import time

import sfxtest
from sfxtest import FOLDER_EDIT, RUN_CHECK, end_record, local_entry
from unzipflow import UnzipTestCase

RUN_LEAD = "After Extraction, E&xecute "


def recorder_bytes():
    recorder = os.path.join(os.path.dirname(sfxtest.config().driver), "sfx-recorder.exe")
    with open(recorder, "rb") as f:
        return f.read()


class Launch(UnzipTestCase):
    def sfx(self, *options):
        archive = self.path("archive.bin")
        with open(archive, "wb") as f:
            f.write(local_entry("tools/recorder.exe", recorder_bytes())
                    + local_entry("notes.txt", b"notes") + end_record())
        return self.make_sfx(archive, *options)

    def launched_bytes(self, out, seconds=20.0):
        """The recorder's record as it wrote it, once it has."""
        record = os.path.join(out, "tools", "launched.txt")
        deadline = time.monotonic() + seconds
        while not os.path.exists(record) or os.path.getsize(record) == 0:
            if time.monotonic() > deadline:
                self.fail("the program was not started")
            time.sleep(0.1)
        time.sleep(0.2)
        with open(record, "rb") as f:
            return f.read()

    def launched(self, out, seconds=20.0):
        """The recorder's record: (its path, the parameters, its folder)."""
        return self.launched_bytes(out, seconds).decode("utf-8").split("\n")[:3]

    def test_token_and_bar_give_program_and_parameters(self):
        exe = self.sfx("--run", "><tools\\recorder.exe|--in ><notes.txt x|y")
        program, dialog = self.open_sfx(exe)
        run_box = dialog.control(RUN_CHECK)
        self.assertTrue(run_box.visible)
        self.assertEqual(run_box.checked, 1)
        self.assertEqual(run_box.text, RUN_LEAD + "recorder.exe notes.txt x|y")
        # Building the command gave the folder box its trailing backslash.
        self.assertTrue(dialog.text(FOLDER_EDIT).endswith("\\"))
        out = self.path("out")
        self.unzip_into(dialog, out)
        self.expect_success(program)
        started, parameters, folder = self.launched(out)
        self.assertTrue(os.path.samefile(sfxtest.unix_path(started), os.path.join(out, "tools", "recorder.exe")))
        self.assertEqual(parameters, "--in " + sfxtest.windows_path(out) + "\\notes.txt x|y")
        # It starts in the extractor's current folder.
        self.assertTrue(os.path.samefile(sfxtest.unix_path(folder), self.work))

    def test_program_and_folder_named_beyond_the_ansi_code_page(self):
        # The command and the destination hold characters that code page
        # 1252 lacks; the command travels as UTF-8 (flag bit 5), the folder
        # is typed, and "><" is expanded from it as it stands.
        tool = "\u0437\u0430\u043f\u0443\u0441\u043a-\u9b3c.exe"       # запуск-鬼.exe
        archive = self.path("archive.bin")
        with open(archive, "wb") as f:
            f.write(local_entry(("tools/" + tool).encode(), recorder_bytes(), flags=0x800)
                    + local_entry("notes.txt", b"notes") + end_record())
        exe = self.make_sfx(archive, "--run", "><tools\\" + tool + "|--in ><notes.txt")
        program, dialog = self.open_sfx(exe)
        self.assertEqual(dialog.control(RUN_CHECK).text, RUN_LEAD + tool + " notes.txt")
        out = self.path("\u0432\u044b\u0432\u043e\u0434-\u8868")               # вывод-表
        self.unzip_into(dialog, out)
        self.expect_success(program)
        started, parameters, _ = self.launched(out)
        self.assertTrue(os.path.samefile(sfxtest.unix_path(started), os.path.join(out, "tools", tool)), started)
        self.assertEqual(parameters, "--in " + sfxtest.windows_path(out) + "\\notes.txt")

    def test_double_byte_code_page_folder_ending_in_a_backslash_trail_byte(self):
        # Under code page 932 the last character of the folder, 表, is the
        # bytes 95 5C: the second is a backslash's byte. The settings block
        # holds the folder and the command as such ANSI bytes (no flag bit
        # 5), as a packer for a Japanese system writes them.
        driver = self.other_driver("cp932", LANG="ja_JP.UTF-8")
        out = self.path("\u30c7\u30fc\u30bf\u8868")                          # データ表
        folder = sfxtest.windows_path(out).encode("cp932")
        self.assertEqual(folder[-1:], b"\\")
        archive = (local_entry("tools/recorder.exe", recorder_bytes()) + local_entry("notes.txt", b"notes")
                   + end_record())
        block = sfxtest.settings_block(0x03, b"", folder, b"><tools\\recorder.exe|--in ><notes.txt")
        program, dialog = self.open_sfx(self.write_sfx(block + archive), driver=driver)
        self.assertEqual(dialog.text(FOLDER_EDIT), sfxtest.windows_path(out) + "\\")
        dialog.click(sfxtest.UNZIP)
        self.expect_success(program)
        record = self.launched_bytes(out)
        self.assertEqual(self.tree(out), {"tools/recorder.exe": recorder_bytes(), "notes.txt": b"notes",
                                          "tools/launched.txt": record})
        started, parameters, _ = self.launched(out)
        self.assertTrue(os.path.samefile(sfxtest.unix_path(started), os.path.join(out, "tools", "recorder.exe")))
        self.assertEqual(parameters, "--in " + sfxtest.windows_path(out) + "\\notes.txt")

    def test_hidden_check_box_still_launches(self):
        exe = self.sfx("--run", "><tools\\recorder.exe", "--hide-run")
        program, dialog = self.open_sfx(exe)
        run_box = dialog.control(RUN_CHECK)
        self.assertFalse(run_box.visible)
        self.assertEqual(run_box.checked, 1)
        # Without parameters the caption ends in one blank.
        self.assertEqual(run_box.text, RUN_LEAD + "recorder.exe ")
        out = self.path("out")
        self.unzip_into(dialog, out)
        self.expect_success(program)
        self.assertEqual(self.launched(out)[1], "")

    def test_cleared_check_box_starts_nothing(self):
        program, dialog = self.open_sfx(self.sfx("--run", "><tools\\recorder.exe"))
        dialog.click(RUN_CHECK)
        self.wait_until(lambda: dialog.checked(RUN_CHECK) == 0)
        out = self.path("out")
        self.unzip_into(dialog, out)
        self.expect_success(program)
        time.sleep(2)
        self.assertFalse(os.path.exists(os.path.join(out, "tools", "launched.txt")))

    def test_failed_extraction_starts_nothing(self):
        archive = self.path("archive.bin")
        broken = local_entry("broken.txt", b"b")
        with open(archive, "wb") as f:
            f.write(local_entry("tools/recorder.exe", recorder_bytes())
                    + broken[:14] + b"\x01\x00\x00\x00" + broken[18:] + end_record())
        program, dialog = self.open_sfx(self.make_sfx(archive, "--run", "><tools\\recorder.exe"))
        out = self.path("out")
        self.unzip_into(dialog, out)
        self.expect_failure(program, dialog)
        time.sleep(2)
        self.assertFalse(os.path.exists(os.path.join(out, "tools", "launched.txt")))

    def test_program_that_cannot_start_is_silent(self):
        program, dialog = self.open_sfx(self.sfx("--run", "no-such-program.exe|b|c"))
        self.assertEqual(dialog.control(RUN_CHECK).text, RUN_LEAD + "no-such-program.exe b|c")
        self.unzip_into(dialog, self.path("out"))
        self.expect_success(program)


if __name__ == "__main__":
    sfxtest.main()
