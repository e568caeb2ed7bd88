"""Start-up and settings as the user sees them: the main dialog that a file
with or without a settings block opens with, and the box shown when the
program cannot open its own file."""

import os

import sfxtest
from sfxtest import (CLOSE, FILE_LIST, FOLDER_EDIT, MAIN_CAPTION, MESSAGE_TEXT,
                     OVERWRITE_ALWAYS, OVERWRITE_CONFIRM, OVERWRITE_LABEL, OVERWRITE_NEVER,
                     PLAIN_LIST, RUN_CHECK, SfxTestCase)

WARNING_CAPTION = "neat-Sfx - WARNiNG"
CORRUPTED_TEXT = ("There was an error reading the Archive.\r\n\r\n"
                  "Probably the Archive was corrupted. If you downloaded this file from the Web, "
                  "please try download it again.")
FILES = {"readme.txt": b"read me\r\n", "bin/tool.exe": b"MZ" + bytes(100)}


class StartupTestCase(SfxTestCase):
    def archive(self):
        return self.make_zip(FILES)

    def open_main_dialog(self, *mksfx_options, caption=MAIN_CAPTION, environment=None):
        """Packs the two-file archive with these options, starts it (with
        these Windows variables set) and returns (program, main dialog)."""
        program = self.start(self.make_sfx(self.archive(), *mksfx_options), environment=environment)
        return program, program.wait_window(caption)

    def assertClosesWithCode0(self, program, dialog):
        dialog.click(CLOSE)
        self.assertEqual(program.exit_code(), 0)

    def visible(self, dialog):
        """id -> visible for every control of the dialog."""
        return {c.id: c.visible for c in dialog.controls()}


class WithoutSettingsBlock(StartupTestCase):
    def test_main_dialog_opens_with_the_defaults(self):
        program, dialog = self.open_main_dialog("--no-settings")
        self.assertEqual(dialog.caption, MAIN_CAPTION)
        self.assertCentred(dialog)
        # The current folder as GetCurrentDirectoryA gives it: no backslash.
        self.assertEqual(dialog.text(FOLDER_EDIT), sfxtest.windows_path(self.work))
        self.assertEqual([dialog.checked(i) for i in (OVERWRITE_CONFIRM, OVERWRITE_ALWAYS, OVERWRITE_NEVER)],
                         [1, 0, 0])
        run_box = dialog.control(RUN_CHECK)
        self.assertFalse(run_box.visible)
        self.assertEqual(run_box.checked, 0)
        visible = self.visible(dialog)
        self.assertTrue(visible[FILE_LIST])
        self.assertFalse(visible[PLAIN_LIST])
        for option in (OVERWRITE_CONFIRM, OVERWRITE_ALWAYS, OVERWRITE_NEVER, OVERWRITE_LABEL):
            self.assertTrue(visible[option], option)
        # The archive right behind the executable is listed, every file selected.
        self.assertEqual(sorted(dialog.items(FILE_LIST)), [(name, True) for name in sorted(FILES)])
        self.assertClosesWithCode0(program, dialog)

    def test_every_way_of_closing_ends_with_exit_code_0(self):
        exe = self.make_sfx(self.archive(), "--no-settings")
        ways = {
            "Close button": lambda d: d.click(CLOSE),
            "close box": lambda d: d.close(),
            "Esc": lambda d: d.key(FOLDER_EDIT, "escape"),
        }
        for way, close in ways.items():
            with self.subTest(way):
                program = self.start(exe)
                dialog = program.wait_window(MAIN_CAPTION)
                close(dialog)
                dialog.wait_gone()
                self.assertEqual(program.exit_code(), 0)


class SettingsBlock(StartupTestCase):
    def test_title_replaces_the_caption(self):
        program, dialog = self.open_main_dialog("--title", "Demo Setup 1.0", caption="Demo Setup 1.0")
        self.assertCentred(dialog)
        # The archive behind the block is found and listed.
        self.assertEqual(sorted(dialog.items(FILE_LIST)), [(name, True) for name in sorted(FILES)])
        self.assertClosesWithCode0(program, dialog)

    def test_title_of_255_bytes_is_shown_whole(self):
        # 7 + 255 bytes run 6 bytes past the block into the archive, which
        # starts 256 bytes after the block's start; so the title ends with
        # the first 6 bytes of the archive's first local header.
        entry = sfxtest.local_entry("readme.txt", b"read me", version=0x5A5A)
        title = (b"Title of 255 bytes, " * 13)[:249] + entry[:6]
        block = b"MPU\x03\xff\x00\x00" + title
        self.assertEqual(len(title), 255)
        program = self.start(self.write_sfx(block[:256] + entry + sfxtest.end_record()))
        dialog = program.wait_window(title.decode("latin-1"))
        self.assertEqual(dialog.caption.encode("latin-1"), title)
        self.assertEqual(dialog.items(FILE_LIST), [("readme.txt", True)])
        self.assertClosesWithCode0(program, dialog)

    def test_lower_case_signature_is_no_block(self):
        # Then the archive is looked for right behind the executable, where
        # there is none, and the title is not used.
        block = sfxtest.settings_block(0x07, "Not a title", signature=b"mpu")
        with open(self.archive(), "rb") as f:
            program = self.start(self.write_sfx(block + f.read()))
        box = program.wait_window(WARNING_CAPTION)
        self.assertEqual(box.text(MESSAGE_TEXT), CORRUPTED_TEXT)
        box.click(1)
        dialog = program.wait_window(MAIN_CAPTION)
        self.assertEqual(dialog.items(FILE_LIST), [])
        visible = self.visible(dialog)
        self.assertTrue(visible[OVERWRITE_CONFIRM])      # flag bit 2 did not apply
        self.assertClosesWithCode0(program, dialog)

    def test_default_folder_fills_the_folder_box(self):
        for folder in ("C:\\Program Files\\Demo", "D:\\x><y"):
            with self.subTest(folder):
                program, dialog = self.open_main_dialog("--folder", folder)
                self.assertEqual(dialog.text(FOLDER_EDIT), folder)
                self.assertClosesWithCode0(program, dialog)

    def test_temporary_folder_token(self):
        program, dialog = self.open_main_dialog("--temp-folder")
        temp = self.driver.temp_path()
        self.assertTrue(temp.endswith("\\"), temp)
        self.assertEqual(dialog.text(FOLDER_EDIT), temp)
        self.assertClosesWithCode0(program, dialog)

    def test_temporary_folder_beyond_the_ansi_code_page(self):
        # The system's own best fit would give ...\Temp-Zolw-?\.
        temp = self.path("Temp-\u017b\u00f3\u0142w-\u9b3c")             # Temp-Żółw-鬼
        os.makedirs(temp)
        shown = sfxtest.windows_path(temp) + "\\"
        program, dialog = self.open_main_dialog("--temp-folder", environment={"TMP": shown, "TEMP": shown})
        self.assertEqual(dialog.text(FOLDER_EDIT), shown)
        dialog.click(sfxtest.UNZIP)
        box = program.wait_window("Extraction Completed")
        box.click(1)
        self.assertEqual(program.exit_code(), 0)
        self.assertEqual(sorted(os.listdir(temp)), ["bin", "readme.txt"])

    def test_title_in_utf8(self):
        # Typed in a UTF-8 shell, packed as UTF-8 with flag bit 5, shown as
        # typed (not as Latin-1 bytes, "MÃ¼ller").
        title = "M\u00fcller \u0423\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430 \u9b3c"
        program, dialog = self.open_main_dialog("--title", title, caption=title)
        self.assertEqual(dialog.caption, title)
        self.assertClosesWithCode0(program, dialog)


class PresentationFlags(StartupTestCase):
    def test_hidden_overwrite_options_are_removed(self):
        program, dialog = self.open_main_dialog("--hide-overwrite")
        ids = [c.id for c in dialog.controls()]
        for removed in (OVERWRITE_ALWAYS, OVERWRITE_NEVER, OVERWRITE_CONFIRM, OVERWRITE_LABEL):
            self.assertNotIn(removed, ids)
        self.assertIn(102, ids)                          # the rule beside them stays
        self.assertClosesWithCode0(program, dialog)

    def test_overwrite_flags_check_their_radio_button(self):
        expected = {0x08: OVERWRITE_ALWAYS, 0x10: OVERWRITE_NEVER, 0x18: OVERWRITE_CONFIRM,
                    0x03: OVERWRITE_CONFIRM}
        for flags, radio in expected.items():
            with self.subTest(flags=hex(flags)):
                program, dialog = self.open_main_dialog("--flags", str(flags))
                checked = [i for i in (OVERWRITE_ALWAYS, OVERWRITE_NEVER, OVERWRITE_CONFIRM)
                           if dialog.checked(i) == 1]
                self.assertEqual(checked, [radio])
                self.assertClosesWithCode0(program, dialog)

    def test_flags_0_show_the_plain_list(self):
        program, dialog = self.open_main_dialog("--flags", "0")
        visible = self.visible(dialog)
        self.assertFalse(visible[FILE_LIST])
        self.assertTrue(visible[PLAIN_LIST])
        self.assertEqual(sorted(name for name, _ in dialog.items(PLAIN_LIST)), sorted(FILES))
        self.assertFalse(visible[RUN_CHECK])
        self.assertClosesWithCode0(program, dialog)

    def test_run_check_box_follows_flag_bit_0(self):
        # Shown and checked with bit 0; hidden but still checked without it,
        # so the program is launched without asking.
        for flags, shown in ((0x03, True), (0x02, False)):
            with self.subTest(flags=hex(flags)):
                program, dialog = self.open_main_dialog("--flags", str(flags), "--run", "notepad.exe")
                box = dialog.control(RUN_CHECK)
                self.assertEqual((box.visible, box.checked), (shown, 1))
                self.assertClosesWithCode0(program, dialog)


class OwnFileCannotBeOpened(SfxTestCase):
    def test_path_is_shown_in_an_error_box(self):
        exe = self.make_sfx(self.make_zip(FILES), "--title", "Must not show")
        # A handle with delete access, taken before the start, lets the
        # program start but refuses its open, which does not share deletion.
        self.driver.lock(sfxtest.windows_path(exe), "d", "rwd")
        program = self.start(exe)
        box = program.wait_window("Error reading archive.")
        self.assertEqual(box.text(MESSAGE_TEXT), program.path)
        self.assertEqual([w["caption"] for w in program.windows()], ["Error reading archive."])
        box.click(1)
        self.assertEqual(program.exit_code(), 0)


if __name__ == "__main__":
    sfxtest.main()
