"""The overwrite policies, the "File Already Exists" prompt and its
"Don't &Ask Me Again", and policy changes in the middle of a walk."""

import os
import shutil
import struct
import zlib

import sfxtest
from folderflow import short_path
from sfxtest import (FILE_LIST, OVERWRITE_ALWAYS, OVERWRITE_CONFIRM, OVERWRITE_LABEL, OVERWRITE_NEVER,
                     local_entry)
from unzipflow import (NO, OVERWRITE_CAPTION, TEMP_FILE, TEMP_FOLDER, TEMP_MARK, Throttled, temp_of, unix_pid_of,
                       WARNING_CAPTION, YES, UnzipTestCase)

NAMES = ["one.txt", "two.txt", "three.txt"]



class Overwrite(UnzipTestCase):
    def setUp(self):
        super().setUp()
        self.archive = b"".join(local_entry(n, b"new " + n.encode()) for n in NAMES)
        self.out = self.path("out")
        self.old = {n: b"old " + n.encode() for n in NAMES}
        self.write_tree(self.out, self.old)

    def start_with(self, *mksfx_options):
        exe = self.make_sfx(self.write_archive(), *mksfx_options)
        return self.open_sfx(exe)

    def write_archive(self):
        path = self.path("archive.zip")
        with open(path, "wb") as f:
            f.write(self.archive + sfxtest.end_record())
        return path

    def new(self, *names):
        return {n: b"new " + n.encode() for n in names}

    def test_never_and_always_from_the_radio_buttons(self):
        for button, expected in ((OVERWRITE_NEVER, self.old), (OVERWRITE_ALWAYS, self.new(*NAMES))):
            with self.subTest(button=button):
                self.write_tree(self.out, self.old)
                program, dialog = self.start_with()
                dialog.click(button)
                self.unzip_into(dialog, self.out)
                self.assertNoWindow(program, OVERWRITE_CAPTION, seconds=0.5)
                # Kept files count as dealt with.
                self.expect_success(program)
                self.assertEqual(self.tree(self.out), expected)         # the link is not followed

    def test_a_kept_file_is_done_whatever_its_entry_holds(self):
        # Under "Never Overwrite" an existing file is kept before the entry's
        # method or data are looked at. A name with a wildcard is refused,
        # not matched against the folder's files.
        odd = local_entry("one.txt", b"data", method=0)
        odd = odd[:8] + struct.pack("<H", 12) + odd[10:]                # bzip2
        streamed = local_entry("two.txt", b"", flags=8)
        streamed = streamed[:18] + struct.pack("<II", 0, 0) + streamed[26:30 + len("two.txt")]
        for extra, success in ((b"", True), (local_entry("*.txt", b"wild"), False)):
            with self.subTest(wildcard=bool(extra)):
                self.archive = odd + streamed + extra
                program, dialog = self.start_with("--overwrite", "never")
                self.unzip_into(dialog, self.out)
                if success:
                    self.expect_success(program)
                else:
                    box = self.box(program, WARNING_CAPTION)
                    self.assertIn('"*.txt" holds characters that Windows does not allow',
                                  box.text(sfxtest.MESSAGE_TEXT))
                    self.close_box(box)
                    self.expect_failure(program, dialog)
                    self.assertEqual([n for n, on in dialog.items(FILE_LIST) if on], ["*.txt"])
                self.assertEqual(self.tree(self.out), self.old)

    def test_the_question_is_whole_for_the_longest_names(self):
        # Only a drive's root leaves room for a 255-character name.
        drive = os.path.join(sfxtest.config().prefix, "dosdevices", "q:")
        os.symlink(self.out, drive)
        self.addCleanup(os.remove, drive)
        for length in (251, 252, 255):
            with self.subTest(length=length):
                name = "n" * (length - 4) + ".txt"
                self.archive = local_entry(name, b"new")
                self.write_tree(self.out, {name: b"old"})
                program, dialog = self.start_with()
                dialog.set_text(sfxtest.FOLDER_EDIT, "Q:\\")
                dialog.click(sfxtest.UNZIP)
                self.answer_overwrite(program, name, YES)
                self.expect_success(program)
                self.assertEqual(self.tree(self.out)[name], b"new")

    def test_policies_from_the_settings_block(self):
        for mode, expected in (("never", self.old), ("always", self.new(*NAMES))):
            with self.subTest(mode):
                self.write_tree(self.out, self.old)
                program, dialog = self.start_with("--overwrite", mode)
                self.unzip_into(dialog, self.out)
                self.expect_success(program)
                self.assertEqual(self.tree(self.out), expected)

    def test_prompt_yes_and_no_ask_again_for_every_file(self):
        program, dialog = self.start_with()
        self.unzip_into(dialog, self.out)
        self.answer_overwrite(program, "one.txt", YES)
        self.answer_overwrite(program, "two.txt", NO)
        self.answer_overwrite(program, "three.txt", YES)
        self.expect_success(program)
        self.assertEqual(self.tree(self.out), {**self.new("one.txt", "three.txt"), "two.txt": b"old two.txt"})

    def test_dont_ask_again_with_yes_becomes_always(self):
        # A failure keeps the dialog open, so the radio buttons can be read.
        broken = local_entry("zz-broken.txt", b"x")
        self.archive += broken[:14] + b"\x01\x00\x00\x00" + broken[18:]
        program, dialog = self.start_with()
        self.unzip_into(dialog, self.out)
        self.answer_overwrite(program, "one.txt", YES, dont_ask=True)
        self.expect_failure(program, dialog)
        self.assertEqual([dialog.checked(i) for i in (OVERWRITE_CONFIRM, OVERWRITE_ALWAYS, OVERWRITE_NEVER)],
                         [0, 1, 0])
        self.assertEqual({n: self.tree(self.out)[n] for n in NAMES}, self.new(*NAMES))
        # It holds for the next run as well: no prompt.
        dialog.select(FILE_LIST, -1, True)
        dialog.click(sfxtest.UNZIP)
        self.assertNoWindow(program, OVERWRITE_CAPTION, seconds=1)
        self.expect_failure(program, dialog)

    def test_dont_ask_again_with_no_or_escape_becomes_never(self):
        for close in ("no", "escape"):
            with self.subTest(close):
                self.write_tree(self.out, self.old)
                program, dialog = self.start_with()
                self.unzip_into(dialog, self.out)
                self.answer_overwrite(program, "one.txt", NO if close == "no" else "escape", dont_ask=True)
                self.expect_success(program)
                self.assertEqual(self.tree(self.out), self.old)

    def test_radio_click_while_the_prompt_is_open(self):
        # The prompt has no owner: the main dialog stays live. The button
        # pressed answers for this file; the new policy holds for the rest.
        program, dialog = self.start_with()
        self.unzip_into(dialog, self.out)
        prompt = program.wait_window(OVERWRITE_CAPTION)
        dialog.click(OVERWRITE_ALWAYS)
        self.wait_until(lambda: dialog.checked(OVERWRITE_ALWAYS) == 1)
        prompt.click(NO)
        prompt.wait_gone()
        self.assertNoWindow(program, OVERWRITE_CAPTION, seconds=0.5)
        self.expect_success(program)
        self.assertEqual(self.tree(self.out), {"one.txt": b"old one.txt", **self.new("two.txt", "three.txt")})

    def test_a_damaged_entry_never_replaces_the_file_it_would_overwrite(self):
        # Under "Always Overwrite" and under the prompt's Yes, stored and
        # deflated: the damaged copy is found out before it takes the name,
        # so the existing file stays byte for byte, and nothing else is left.
        for policy in ("always", "yes"):
            for method in (0, 8):
                with self.subTest(policy=policy, method=method):
                    self.write_tree(self.out, self.old)
                    damaged = local_entry("two.txt", b"damaged " * 5000, method=method)
                    self.archive = damaged[:14] + struct.pack("<I", 0x12345678) + damaged[18:]
                    program, dialog = self.start_with(*(("--overwrite", "always") if policy == "always" else ()))
                    self.unzip_into(dialog, self.out)
                    if policy == "yes":
                        self.answer_overwrite(program, "two.txt", YES)
                    self.expect_failure(program, dialog)
                    self.assertEqual(self.tree(self.out), self.old)
                    self.assertEqual(sorted(os.listdir(self.out)), sorted(NAMES))
                    dialog.close()

    def test_an_alias_is_not_the_entrys_file_but_a_name_in_another_case_is(self):
        # An entry named like the 8.3 alias of another file neither replaces
        # nor keeps that file, and fails. Names that differ only in case are
        # one file on Windows, which the policy replaces or keeps: an
        # existing README.TXT for an entry Readme.txt, and an archive with
        # both "Dup.txt" and "DUP.TXT".
        original = "longfilename-original.txt"
        for policy, kept in (("always", False), ("never", True)):
            with self.subTest(policy=policy):
                self.write_tree(self.out, {original: b"the original", "README.TXT": b"the user's readme"},
                                stamp=(2001, 2, 3, 4, 5, 6))
                alias = short_path(sfxtest.windows_path(os.path.join(self.out, original)), self.work).split("\\")[-1]
                self.assertNotEqual(alias.lower(), original)
                self.archive = (local_entry(alias, b"an alias's data") + local_entry("Dup.txt", b"first")
                                + local_entry("DUP.TXT", b"second") + local_entry("Readme.txt", b"the new readme"))
                program, dialog = self.start_with("--overwrite", policy)
                self.unzip_into(dialog, self.out)
                box = self.box(program, "Cannot Open File.")
                self.assertTrue(box.text(sfxtest.MESSAGE_TEXT).startswith('Cannot Open File "'))
                self.assertIn(alias, box.text(sfxtest.MESSAGE_TEXT))
                self.close_box(box)
                self.expect_failure(program, dialog)
                found = {n.lower(): d for n, d in self.tree(self.out).items() if n not in self.old}
                self.assertEqual(found, {original: b"the original", "dup.txt": b"first" if kept else b"second",
                                         "readme.txt": b"the user's readme" if kept else b"the new readme"})
                self.assertEqual([n for n, on in dialog.items(FILE_LIST) if on], [alias])
                dialog.close()
                for name in os.listdir(self.out):
                    if name not in self.old:
                        os.remove(os.path.join(self.out, name))
                # Without the alias, the run succeeds.
                self.write_tree(self.out, {"README.TXT": b"the user's readme"})
                self.archive = local_entry("Readme.txt", b"the new readme")
                program, dialog = self.start_with("--overwrite", policy)
                self.unzip_into(dialog, self.out)
                self.expect_success(program)
                found = {n.lower(): d for n, d in self.tree(self.out).items() if n not in self.old}
                self.assertEqual(found, {"readme.txt": b"the user's readme" if kept else b"the new readme"})
                os.remove(os.path.join(self.out, [n for n in os.listdir(self.out) if n.lower() == "readme.txt"][0]))

    def test_a_read_only_target_fails_before_its_entry_is_decoded(self):
        # Under "Always Overwrite": the box comes at once, the file stays as
        # it was, and nothing is left. (Wine would let the rename replace a
        # read-only file; Windows refuses it only after the decoding.)
        target = os.path.join(self.out, "two.txt")
        os.chmod(target, 0o444)
        try:
            self.archive = local_entry("two.txt", bytes(300 << 20)) + local_entry("one.txt", b"new one.txt")
            program, dialog = self.start_with("--overwrite", "always")
            self.unzip_into(dialog, self.out)
            box = self.box(program, "Cannot Open File.")
            self.assertIn("two.txt", box.text(sfxtest.MESSAGE_TEXT))
            self.assertFalse(os.path.exists(temp_of(self.out)), "the entry was being decoded")
            self.close_box(box)
            self.expect_failure(program, dialog)
            self.assertEqual(self.tree(self.out), {**self.old, "one.txt": b"new one.txt"})
            self.assertEqual(sorted(os.listdir(self.out)), sorted(NAMES))
        finally:
            os.chmod(target, 0o644)

    def test_folders_of_the_temporary_folders_names_that_are_not_the_runs_are_left_alone(self):
        # A user's own folder of the temporary folder's name, one named as
        # the temporary folder used to be ("~sfx.", which WSL or Cygwin can
        # make), and a link of the next name to a folder elsewhere, each
        # holding a readme.txt: a run that extracts readme.txt beside them
        # touches none of them, and leaves nothing of its own.
        victim = self.path("elsewhere")
        self.write_tree(victim, {"readme.txt": b"elsewhere's readme"})
        theirs = {TEMP_FOLDER: b"the user's readme", "~sfx.": b"an old folder's readme"}
        for folder, data in theirs.items():
            self.write_tree(os.path.join(self.out, folder), {"readme.txt": data})
        os.symlink(victim, os.path.join(self.out, TEMP_FOLDER + ".1"))
        self.archive = local_entry("readme.txt", b"the archive's readme")
        program, dialog = self.start_with("--overwrite", "always")
        self.unzip_into(dialog, self.out)
        self.expect_success(program)
        expected = {**self.old, "readme.txt": b"the archive's readme"}
        expected.update({f"{folder}/readme.txt": data for folder, data in theirs.items()})
        self.assertEqual(self.tree(self.out), expected)
        self.assertEqual(sorted(os.listdir(self.out)), sorted([*NAMES, "readme.txt", *theirs, TEMP_FOLDER + ".1"]))
        self.assertEqual(self.tree(victim), {"readme.txt": b"elsewhere's readme"})

    def test_a_run_ended_mid_entry_leaves_nothing_the_next_run_keeps(self):
        # Ended by the task manager, a logoff or a power cut in the middle of
        # a large entry: the entry's temporary file is left, in a folder whose
        # name no entry can have. The next run under "Never Overwrite" writes
        # the file, reports success and leaves nothing else.
        big = bytes(800 << 20)
        self.archive = local_entry("big.bin", big)
        exe = self.make_sfx(self.write_archive(), "--overwrite", "never")
        out = self.path("killed")
        os.makedirs(out)
        program, dialog = self.open_sfx(exe)
        temp = temp_of(out)
        with Throttled(unix_pid_of(exe)):       # so that the entry is surely not over
            self.unzip_into(dialog, out)
            self.wait_until(lambda: os.path.exists(temp) and os.path.getsize(temp) >= 32 << 20, seconds=60)
            program.kill()
            program.exit_code()
        self.assertEqual(os.listdir(out), [TEMP_FOLDER])
        leftover = os.path.join(out, TEMP_FOLDER)
        self.assertEqual(sorted(os.listdir(leftover)), [TEMP_FILE, TEMP_MARK])
        self.assertLess(os.path.getsize(temp), len(big))
        # The leftover's name is a plain 8.3 one, its own short name, which
        # the file list shows and Explorer deletes with its plain calls (a
        # copy of it is deleted so; the next run meets the leftover itself).
        shown = sfxtest.windows_path(leftover)
        self.assertEqual(self.driver.short_path(shown).split("\\")[-1], TEMP_FOLDER)
        copy = self.path("copy", TEMP_FOLDER)
        shutil.copytree(leftover, copy)
        self.assertEqual(sorted(self.driver.remove_plain(sfxtest.windows_path(copy))), [TEMP_FILE, TEMP_MARK])
        self.assertEqual(os.listdir(self.path("copy")), [])
        program, dialog = self.open_sfx(exe)
        self.unzip_into(dialog, out)
        self.expect_success(program)
        self.assertEqual(os.listdir(out), ["big.bin"])
        self.assertEqual(os.path.getsize(os.path.join(out, "big.bin")), len(big))
        with open(os.path.join(out, "big.bin"), "rb") as f:
            self.assertEqual(zlib.crc32(f.read()), zlib.crc32(big))

    def test_hidden_options_keep_the_policy_and_the_prompt_still_works(self):
        program, dialog = self.start_with("--hide-overwrite")
        present = {c.id for c in dialog.controls()}
        for option in (OVERWRITE_CONFIRM, OVERWRITE_ALWAYS, OVERWRITE_NEVER, OVERWRITE_LABEL):
            self.assertNotIn(option, present)
        self.unzip_into(dialog, self.out)
        self.answer_overwrite(program, "one.txt", NO, dont_ask=True)
        self.expect_success(program)
        self.assertEqual(self.tree(self.out), self.old)


if __name__ == "__main__":
    sfxtest.main()
