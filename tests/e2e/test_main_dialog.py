"""The main dialog around a walk: the plain list when files cannot be
chosen, an empty folder box, and commands that arrive during a walk."""

import os
import re
import statistics
import time

import sfxtest
from sfxtest import CLOSE, FILE_LIST, FOLDER_EDIT, PLAIN_LIST, UNZIP, local_entry
from unzipflow import Throttled, temp_of, unix_pid_of, SUCCESS_CAPTION, WARNING_CAPTION, UnzipTestCase

MANY = {f"file{i:03}.txt": (b"line %d\n" % i) * (50 + i) for i in range(150)}


class MainDialog(UnzipTestCase):
    def sfx(self, files, *options):
        archive = self.path("archive.bin")
        with open(archive, "wb") as f:
            f.write(b"".join(local_entry(name, data) for name, data in files.items()) + sfxtest.end_record())
        return self.make_sfx(archive, *options)

    def visible(self, dialog, control_id):
        return dialog.control(control_id).visible

    def test_all_files_shows_the_plain_list_until_unzip(self):
        files = {"a.txt": b"a", "b/c.txt": b"c"}
        program, dialog = self.open_sfx(self.sfx(files, "--all-files"))
        self.assertTrue(self.visible(dialog, PLAIN_LIST))
        self.assertFalse(self.visible(dialog, FILE_LIST))
        self.assertEqual(sorted(name for name, _ in dialog.items(PLAIN_LIST)), sorted(files))
        # Deselecting in the hidden list changes nothing: every file goes.
        dialog.select(FILE_LIST, -1, False)
        out = self.path("out")
        self.unzip_into(dialog, out)
        self.expect_success(program)
        self.assertEqual(self.tree(out), files)

    def test_empty_folder_box_means_the_current_folder(self):
        here = self.path("here")
        os.makedirs(here)
        program, dialog = self.open_sfx(self.sfx({"x.txt": b"x"}), cwd=here)
        dialog.set_text(FOLDER_EDIT, "")
        dialog.click(UNZIP)
        self.expect_success(program)
        self.assertEqual(self.tree(here), {"x.txt": b"x"})

    def test_runs_from_a_folder_named_beyond_the_ansi_code_page(self):
        # The file opens itself and the current folder is shown and used
        # exactly, with an empty box too, in a folder whose name the ANSI
        # code page (1252 here) cannot hold.
        here = self.path("\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438-\u9b3c")   # Загрузки-鬼
        os.makedirs(here)
        exe = self.sfx({"here.txt": b"x"})
        moved = os.path.join(here, "setup.exe")
        os.rename(exe, moved)
        program, dialog = self.open_sfx(moved, cwd=here)
        self.assertEqual(dialog.text(FOLDER_EDIT), sfxtest.windows_path(here))
        dialog.set_text(FOLDER_EDIT, "")
        dialog.click(UNZIP)
        self.expect_success(program)
        self.assertEqual(self.tree(here), {"here.txt": b"x", "setup.exe": open(moved, "rb").read()})

    def test_answers_other_programs_while_a_long_entry_is_written(self):
        # A long entry (600 MB) that the test slows down by stopping the
        # program for 90 ms of every 100, so that it takes seconds however
        # fast the disk: meanwhile the dialog must answer messages sent to
        # it, and after a second its footer adds the share written, which
        # grows. Its progress also shows in the size of the file it is
        # written to before it takes its name (temp_of).
        big = bytes(600 << 20)
        exe = self.sfx({"first.txt": b"first", "long.bin": big}, "--overwrite", "always")
        program, dialog = self.open_sfx(exe)
        out = self.path("out")
        temp = temp_of(out)
        line = "Uncompressing " + sfxtest.windows_path(out) + "\\long.bin"
        answers, shares = [], []
        with Throttled(unix_pid_of(exe)):
            self.unzip_into(dialog, out)
            self.wait_until(lambda: self.size(temp) > 1 << 20, seconds=60)      # long.bin's, not the first's
            while os.path.exists(temp):
                answers.append(self.driver.call("ping", dialog.hwnd, 5000, timeout=5))
                shown = dialog.text(sfxtest.FOOTER)
                self.assertRegex(shown, "^" + re.escape(line) + r"( \(\d{1,3}%\))?$")
                if shown != line:
                    shares.append(int(shown[len(line) + 2:-2]))
        self.assertLess(statistics.median(answers), 500, f"answers took {answers} ms")
        self.assertGreaterEqual(len(answers), 5, "the entry was over too soon to tell")
        self.assertGreaterEqual(len(set(shares)), 3, f"shares shown: {shares}")
        self.assertEqual(shares, sorted(shares))
        self.assertTrue(0 <= shares[0] and shares[-1] <= 100, shares)
        # At the end, as ever: every item deselected, the footer on the last
        # entry without a share, then the success box.
        box = self.box(program, SUCCESS_CAPTION)
        self.assertEqual(dialog.items(FILE_LIST), [("first.txt", False), ("long.bin", False)])
        self.assertEqual(dialog.text(sfxtest.FOOTER), line)
        self.close_box(box)
        self.assertEqual(program.exit_code(), 0)
        self.assertEqual(sorted(os.listdir(out)), ["first.txt", "long.bin"])
        self.assertEqual(os.path.getsize(os.path.join(out, "long.bin")), len(big))

    def test_deselecting_a_failed_item_during_the_walk_still_fails(self):
        # The damaged entry's item is deselected while the walk is still on
        # a long entry behind it (slowed down as above): the run counts its
        # own failures.
        damaged = sfxtest.local_entry("damaged.txt", b"damaged " * 1000)
        damaged = damaged[:14] + b"\x01\x00\x00\x00" + damaged[18:]
        archive = self.path("archive.bin")
        with open(archive, "wb") as f:
            f.write(damaged + sfxtest.local_entry("long.bin", bytes(600 << 20)) + sfxtest.end_record())
        exe = self.make_sfx(archive)
        program, dialog = self.open_sfx(exe)
        out = self.path("out")
        temp = temp_of(out)
        with Throttled(unix_pid_of(exe)):
            self.unzip_into(dialog, out)
            self.wait_until(lambda: self.size(temp) > 1 << 20, seconds=60)      # long.bin's, not the first's
            dialog.select(FILE_LIST, 0, False)
            self.assertEqual(dialog.items(FILE_LIST)[0], ("damaged.txt", False))
            self.assertTrue(os.path.exists(temp), "the walk was over before the item was deselected")
        self.expect_failure(program, dialog)
        self.assertEqual(os.listdir(out), ["long.bin"])

    @staticmethod
    def size(path):
        try:
            return os.path.getsize(path)
        except OSError:
            return 0

    def test_unzip_during_a_walk_starts_no_second_walk(self):
        program, dialog = self.open_sfx(self.sfx(MANY))
        out = self.path("out")
        os.makedirs(out)
        dialog.set_text(FOLDER_EDIT, sfxtest.windows_path(out))
        dialog.click(UNZIP)
        dialog.click(UNZIP)         # dispatched by the walk between entries
        self.close_box(self.box(program, SUCCESS_CAPTION))
        self.assertEqual(program.exit_code(), 0)
        self.assertEqual(self.tree(out), MANY)

    def test_close_during_a_walk_stops_it_and_ends_the_dialog(self):
        program, dialog = self.open_sfx(self.sfx(MANY))
        out = self.path("out")
        os.makedirs(out)
        dialog.set_text(FOLDER_EDIT, sfxtest.windows_path(out))
        dialog.click(UNZIP)
        dialog.click(CLOSE)
        self.assertEqual(program.exit_code(), 0)
        extracted = self.tree(out)
        self.assertGreaterEqual(len(extracted), 1)
        self.assertLess(len(extracted), len(MANY))
        for name, data in extracted.items():
            self.assertEqual(data, MANY[name])


if __name__ == "__main__":
    sfxtest.main()
