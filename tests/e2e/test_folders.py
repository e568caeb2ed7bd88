"""The folder selection and new folder dialogs behind the main dialog's
"&Browse..." button: what the folder list holds and shows on the screen,
entering folders and drives, handing the folder back to the main dialog,
creating folders, and extracting into a folder chosen that way."""

import os

import sfxtest
from sfxtest import FOLDER_EDIT, UNZIP, windows_path
from folderflow import (CANCEL, CURRENT_LINE, ERROR_IN_DIRECTORY, FOLDER_LIST, LBN_DBLCLK, LBN_KILLFOCUS,
                        LBN_SETFOCUS, NETWORK, NEW_CAPTION, NEW_CURRENT, NEW_NAME, OK, PARENT_ITEM,
                        SELECT_CAPTION, FolderTestCase, drive_item, is_drive_item, short_path)
from unzipflow import SUCCESS_CAPTION, WARNING_CAPTION


class FolderCase(FolderTestCase):
    def folders(self, base, *names):
        """Creates base/name for every name ("/" between the levels of a
        name); returns base."""
        root = self.path(base)
        os.makedirs(root, exist_ok=True)
        for name in names:
            os.makedirs(os.path.join(root, name), exist_ok=True)
        return root

    def browse_again(self, program, main, folder_text):
        main.set_text(FOLDER_EDIT, folder_text)
        main.click(sfxtest.BROWSE)
        return program.wait_window(SELECT_CAPTION)

    def cancel(self, select):
        select.click(CANCEL)
        select.wait_gone()

    def sub_folder_items(self, select):
        return sorted(i for i in self.items(select) if i != PARENT_ITEM and not is_drive_item(i))


class FolderList(FolderCase):
    def test_items_are_drawn_with_the_shells_icons_and_names(self):
        # "(Archive)" sorts before "[..]", so the parent entry is first only
        # because it is moved there.
        start = self.folders("start", "(Archive)", "alpha", "Beta Folder")
        program, main, select = self.open_browse(windows_path(start))
        items = self.items(select)
        self.assertEqual(items[0], PARENT_ITEM)
        self.assertEqual(self.selected(select), [0])
        self.assertEqual(self.sub_folder_items(select), ["[(Archive)]", "[Beta Folder]", "[alpha]"])
        self.assertIn(drive_item("c"), items)
        self.assertIn(drive_item("z"), items)
        self.assertShows(select, windows_path(start))
        self.assertCentred(select)

        # Before the list is drawn no row can be told; an empty picture must
        # not pass for a drawn one.
        def every_row_drawn(rows):
            shown = items[:rows.rows]
            return rows.rows >= 3 and all(rows.drawn(row, rows.indent_of(item)) for row, item in enumerate(shown))

        rows = self.wait_for_list(select, every_row_drawn)
        # The same folder icon, half an icon further right for a sub-folder.
        self.assertEqual(rows.first_ink(1) - rows.first_ink(0), rows.folder_indent())
        self.assertGreater(rows.folder_indent(), 0)

    def test_roots_have_no_parent_entry(self):
        program, main, select = self.open_browse("C:\\")
        for root in ("C:\\", "Z:\\"):
            with self.subTest(root):
                if root != "C:\\":
                    select = self.browse_again(program, main, root)
                self.assertShows(select, root)
                items = self.items(select)
                self.assertNotIn(PARENT_ITEM, items)
                self.assertEqual(self.selected(select), [0])
                self.assertIn(drive_item(root[0]), items)
                self.cancel(select)

    def test_parent_entry_is_first_and_selected_after_every_refresh(self):
        start = self.folders("start", "(Archive)", "alpha/(inner)/deep")
        alpha = os.path.join(start, "alpha")
        program, main, select = self.open_browse(windows_path(alpha))
        steps = [("[(inner)]", os.path.join(alpha, "(inner)")),
                 (PARENT_ITEM, alpha),
                 (PARENT_ITEM, start)]
        for item, folder in steps:
            with self.subTest(item=item, folder=folder):
                self.double_click(select, item, windows_path(folder))
                self.assertEqual(self.items(select)[0], PARENT_ITEM)
                self.assertEqual(self.selected(select), [0])
        self.assertIn("[(Archive)]", self.items(select))
        self.assertEqual(self.accept(select, main), windows_path(start) + "\\")

    def test_drive_items_enter_the_drive_root(self):
        # The temporary folder is on C:, below its root; a drive entered
        # without its backslash would stay there.
        temp = self.driver.temp_path()
        self.assertGreater(len(temp), 3)
        program, main, select = self.open_browse(temp)
        self.assertShows(select, temp.rstrip("\\"))
        # The list gives drives in lower case, and the root is shown so.
        self.double_click(select, drive_item("c"), "c:\\")
        self.assertNotIn(PARENT_ITEM, self.items(select))
        self.double_click(select, drive_item("z"), "z:\\")
        self.double_click(select, drive_item("c"), "c:\\")
        self.assertEqual(self.accept(select, main).lower(), "c:\\")

    def test_folders_with_long_names_are_drawn(self):
        # A name of 255 characters makes an item of 257; both long names
        # make paths beyond what the shell takes.
        longest, long_ = "L" * 255, "M" * 200
        start = self.folders("start", longest, long_, "plain")
        program, main, select = self.open_browse(windows_path(start))
        items = self.items(select)
        self.assertEqual(items[:4], [PARENT_ITEM, f"[{longest}]", f"[{long_}]", "[plain]"])

        def rows_drawn(rows):
            return all(rows.drawn(row, rows.folder_indent()) for row in (1, 2, 3))

        rows = self.wait_for_list(select, rows_drawn)
        # The shell's folder icon, not that of some other item.
        plain = rows.icon_pixels(3, rows.folder_indent())
        for row in (1, 2):
            self.assertEqual(rows.icon_pixels(row, rows.folder_indent()), plain, f"row {row}")

    def test_focus_moving_in_or_out_of_the_list_redraws_every_item(self):
        # Each item is drawn from the file system: an item whose folder has
        # gone draws empty, but only when it is drawn again.
        start = self.folders("start", "alpha", "beta", "gamma")
        program, main, select = self.open_browse(windows_path(start))
        items = self.items(select)
        self.assertEqual(items[:4], [PARENT_ITEM, "[alpha]", "[beta]", "[gamma]"])
        indent = self.wait_for_list(select, lambda rows: all(rows.drawn(r, rows.folder_indent())
                                                              for r in (1, 2, 3))).folder_indent()
        for code, name, row in ((LBN_SETFOCUS, "beta", 2), (LBN_KILLFOCUS, "gamma", 3)):
            with self.subTest(code=code):
                os.rename(os.path.join(start, name), os.path.join(start, name + "-moved"))
                select.command(FOLDER_LIST, code)
                # The removed item blank and the first one drawn again. The
                # list is erased before its items are drawn, so both are
                # waited for together (a timeout fails the test), not the
                # blank start of the redraw alone.
                self.wait_for_list(select, lambda rows: rows.blank(row) and rows.drawn(1, indent))
        # Drawn again, not listed again.
        self.assertEqual(self.items(select)[:4], items[:4])

    def test_a_folder_removed_meanwhile_leaves_the_dialog_where_it_was(self):
        start = self.folders("start", "alpha", "gone")
        program, main, select = self.open_browse(windows_path(start))
        os.rmdir(os.path.join(start, "gone"))
        select.select(FOLDER_LIST, self.items(select).index("[gone]"))
        select.command(FOLDER_LIST, LBN_DBLCLK)
        self.wait_until(lambda: "[gone]" not in self.items(select))   # listed again
        self.assertShows(select, windows_path(start))
        self.assertEqual(self.accept(select, main), windows_path(start) + "\\")


class HandingBack(FolderCase):
    def test_folder_box_text_goes_in_and_ok_hands_it_back_with_a_backslash(self):
        start = self.folders("Start Here", "alpha")
        program, main, select = self.open_browse(windows_path(start))
        self.assertShows(select, windows_path(start))
        self.assertEqual(self.accept(select, main), windows_path(start) + "\\")

    def test_ok_takes_the_folder_shown_not_the_highlighted_item(self):
        start = self.folders("start", "alpha", "beta")
        program, main, select = self.open_browse(windows_path(start))
        select.select(FOLDER_LIST, self.items(select).index("[beta]"))
        self.assertEqual(self.accept(select, main), windows_path(start) + "\\")

    def test_cancel_keeps_the_folder_box_and_the_current_folder(self):
        # Browsing moves the current folder; Cancel puts it back, so that a
        # relative folder typed afterwards ("MyApp", in an empty current
        # folder) is resolved where the program started, and "&Unzip"
        # shows it in full.
        start = self.folders("start", "alpha")
        here = self.folders("here")
        program, main, select = self.open_browse(windows_path(start), cwd=here)
        self.double_click(select, "[alpha]", windows_path(os.path.join(start, "alpha")))
        self.cancel(select)
        self.assertEqual(main.text(FOLDER_EDIT), windows_path(start))
        main.set_text(FOLDER_EDIT, "MyApp")
        main.click(UNZIP)
        box = self.box(program, SUCCESS_CAPTION)
        self.assertEqual(main.text(FOLDER_EDIT), windows_path(os.path.join(here, "MyApp")))
        self.close_box(box)
        self.assertEqual(program.exit_code(), 0)
        self.assertEqual(sorted(self.tree(os.path.join(here, "MyApp"))), ["bin/tool.dat", "readme.txt"])
        self.assertEqual(os.listdir(os.path.join(start, "alpha")), [])

    def test_a_start_folder_that_does_not_exist_starts_in_the_current_folder(self):
        here = self.folders("here", "alpha")
        program, main, select = self.open_browse(windows_path(self.path("missing")), cwd=here)
        self.assertShows(select, windows_path(here))
        self.assertEqual(self.accept(select, main), windows_path(here) + "\\")
        # A relative folder text is taken in the current folder.
        select = self.browse_again(program, main, "alpha")
        self.assertEqual(self.accept(select, main), windows_path(os.path.join(here, "alpha")) + "\\")

    def test_short_start_paths_are_shown_and_handed_back_in_long_form(self):
        inner = self.folders("Long Folder Name", "Mixed Case Inner")
        inner = os.path.join(inner, "Mixed Case Inner")
        os.makedirs(os.path.join(inner, "child"))
        program, main = self.open_sfx(self.sfx())
        for long_path in (windows_path(inner), "C:\\Program Files"):
            with self.subTest(long_path):
                short = short_path(long_path, self.work)
                self.assertNotEqual(short.lower(), long_path.lower())
                select = self.browse_again(program, main, short)
                self.assertShows(select, long_path)
                self.assertEqual(self.accept(select, main), long_path + "\\")

    def test_network_button_leaves_the_dialog_as_it_was(self):
        start = self.folders("start", "alpha", "beta")
        program, main, select = self.open_browse(windows_path(start))
        items = self.items(select)
        select.select(FOLDER_LIST, 2)        # a refresh would select item 0
        select.click(NETWORK)
        # Posted after it: once the new folder dialog is up, the network
        # command has been dealt with.
        new = self.open_new_folder(program, select)
        shown = sorted(w["caption"] for w in program.windows())
        self.assertEqual(shown, sorted([sfxtest.MAIN_CAPTION, SELECT_CAPTION, NEW_CAPTION]))
        new.click(CANCEL)
        new.wait_gone()
        self.assertEqual(self.items(select), items)
        self.assertEqual(self.selected(select), [2])
        self.assertEqual(self.accept(select, main), windows_path(start) + "\\")


class NewFolder(FolderCase):
    def test_dialog_shows_the_current_folder_and_ignores_an_empty_name(self):
        data = self.folders("data", "alpha", "beta")
        program, main, select = self.open_browse(windows_path(data))
        select.select(FOLDER_LIST, 2)        # a refresh would select item 0
        new = self.open_new_folder(program, select)
        self.assertCentred(new)
        self.assertEqual(new.text(NEW_CURRENT), select.text(CURRENT_LINE))
        new.click(OK)
        new.click(CANCEL)
        new.wait_gone()
        self.assertEqual(sorted(w["caption"] for w in program.windows()),
                         sorted([sfxtest.MAIN_CAPTION, SELECT_CAPTION]))
        self.assertEqual(self.selected(select), [2])
        self.assertEqual(sorted(os.listdir(data)), ["alpha", "beta"])
        self.assertEqual(self.accept(select, main), windows_path(data) + "\\")

    def test_nested_name_creates_every_level_and_is_entered(self):
        data = self.folders("data")
        program, main, select = self.open_browse(windows_path(data))
        new = self.create(program, select, "x\\y\\z")
        new.wait_gone()
        target = os.path.join(data, "x", "y", "z")
        self.assertShows(select, windows_path(target))
        self.assertTrue(os.path.isdir(target))
        self.assertEqual(self.sub_folder_items(select), [])
        self.assertEqual(self.items(select)[0], PARENT_ITEM)
        self.assertEqual(self.accept(select, main), windows_path(target) + "\\")

    def test_leading_backslash_creates_below_the_current_folder(self):
        data = self.folders("data")
        name = f"new-{os.getpid()}"          # must not exist in the root either
        program, main, select = self.open_browse(windows_path(data))
        self.create(program, select, "\\" + name).wait_gone()
        self.assertTrue(os.path.isdir(os.path.join(data, name)))
        self.assertFalse(os.path.exists(os.path.join("/", name)))
        self.assertShows(select, windows_path(os.path.join(data, name)))

    def test_refused_names_say_error_in_directory_and_create_nothing(self):
        data = self.folders("data", "alpha")
        with open(os.path.join(data, "file.txt"), "wb") as f:
            f.write(b"data")
        # A name with a drive is refused even when it names a folder.
        elsewhere = windows_path(self.folders("elsewhere"))
        program, main, select = self.open_browse(windows_path(data))
        new = self.open_new_folder(program, select)
        names = {"drive": "d:\\other", "existing folder on a drive": elsewhere, "backslashes only": "\\\\",
                 "existing file": "file.txt", "character folders may not hold": "bad|name",
                 "a trailing blank": "foo ", "a trailing dot": "foo.", "a part ending in a dot": "a.\\b"}
        for case, name in names.items():
            with self.subTest(case):
                new.set_text(NEW_NAME, name)
                new.click(OK)
                box = self.box(program, WARNING_CAPTION, ERROR_IN_DIRECTORY)
                self.close_box(box)
                self.assertEqual(new.text(NEW_NAME), name)
                self.assertEqual(sorted(os.listdir(data)), ["alpha", "file.txt"])
        new.click(CANCEL)
        new.wait_gone()
        self.assertShows(select, windows_path(data))

    def test_existing_folder_is_entered(self):
        data = self.folders("data", "old/inside")
        program, main, select = self.open_browse(windows_path(data))
        self.create(program, select, "old").wait_gone()
        self.assertShows(select, windows_path(os.path.join(data, "old")))
        self.assertEqual(self.sub_folder_items(select), ["[inside]"])


class LongPaths(FolderCase):
    """Folders beyond the 255 characters of the ANSI calls are made,
    entered and handed back whole."""

    def deep_folder(self, length):
        """A new folder whose Windows path has length characters."""
        base = self.path("b")
        while len(windows_path(base)) < length - 40:
            base = os.path.join(base, "d" * 30)
        base = os.path.join(base, "e" * (length - len(windows_path(base)) - 1))
        os.makedirs(base)
        self.assertEqual(len(windows_path(base)), length)
        return base

    def test_long_folders_are_created_and_entered(self):
        base = self.deep_folder(239)
        base_text = windows_path(base) + "\\"
        program, main = self.open_sfx(self.sfx())
        for combined in (254, 255, 320):
            with self.subTest(combined=combined):
                name = f"n{combined}-".ljust(combined - len(base_text), "x")
                select = self.browse_again(program, main, windows_path(base))
                self.create(program, select, name).wait_gone()
                self.assertTrue(os.path.isdir(os.path.join(base, name)))
                self.assertShows(select, base_text + name)
                self.assertEqual(self.accept(select, main), base_text + name + "\\")

    def test_a_folder_deeper_than_255_characters_is_entered(self):
        base = self.deep_folder(239)
        name = "n" * 17                      # 257 characters in all
        os.makedirs(os.path.join(base, name))
        program, main, select = self.open_browse(windows_path(base))
        item = self.items(select).index(f"[{name}]")
        self.assertNotEqual(item, 0)
        select.select(FOLDER_LIST, item)
        select.command(FOLDER_LIST, LBN_DBLCLK)
        self.wait_until(lambda: self.selected(select) == [0])      # refreshed
        self.assertShows(select, os.path.join(windows_path(base), name).replace("/", "\\"))
        self.assertEqual(self.accept(select, main), windows_path(base) + "\\" + name + "\\")


class UnzipIntoChosenFolder(FolderCase):
    def test_a_destination_with_a_part_ending_in_a_dot_or_a_blank_is_refused(self):
        # Pasted with a trailing blank, or from a settings block: Windows
        # would make the folder without it, and "\\?\" with it. Nothing is
        # made, and the dialog stays.
        base = self.folders("base")
        program, main = self.open_sfx(self.sfx())
        before = sorted(os.listdir(self.work))
        for typed in (windows_path(base) + "\\foo ", windows_path(base) + "\\foo..",
                      windows_path(base) + "\\foo \\bar", "relative. \\x"):
            with self.subTest(typed):
                main.set_text(FOLDER_EDIT, typed)
                main.click(UNZIP)
                self.close_box(self.box(program, ERROR_IN_DIRECTORY, typed))
                self.assertEqual(os.listdir(base), [])
                self.assertEqual(sorted(os.listdir(self.work)), before)
        self.assertTrue(program.running())


    def test_files_land_in_the_folder_created_while_browsing(self):
        dest = self.folders("dest")
        program, main, select = self.open_browse(windows_path(dest))
        self.create(program, select, "Chosen\\Deeper").wait_gone()
        target = os.path.join(dest, "Chosen", "Deeper")
        self.assertEqual(self.accept(select, main), windows_path(target) + "\\")
        main.click(UNZIP)
        self.expect_success(program)
        self.assertEqual(self.tree(target), {"readme.txt": b"read me\r\n", "bin/tool.dat": b"\x01\x02"})

    def test_a_folder_beyond_the_ansi_code_page_from_every_source(self):
        # Code page 1252 lacks every character but the o-acute: an ANSI
        # path would be the folder Lodz-Zolw-? (best fit), another folder
        # or none.
        name = "\u0141\u00f3d\u017a-\u017b\u00f3\u0142w-\u9b3c"   # Łódź-Żółw-鬼
        files = {"readme.txt": b"read me\r\n", "bin/tool.dat": b"\x01\x02"}
        for source in ("settings block", "typed", "browse", "create"):
            with self.subTest(source):
                base = self.folders(source.replace(" ", "-"))
                target = os.path.join(base, name)
                if source == "settings block":
                    program, main = self.open_sfx(self.sfx("--folder", windows_path(target)))
                    self.assertEqual(main.text(FOLDER_EDIT), windows_path(target))
                elif source == "typed":
                    program, main = self.open_sfx(self.sfx())
                    main.set_text(FOLDER_EDIT, windows_path(target))
                else:
                    if source == "browse":
                        os.makedirs(target)
                    program, main, select = self.open_browse(windows_path(base))
                    if source == "browse":
                        self.assertIn(f"[{name}]", self.items(select))
                        self.double_click(select, f"[{name}]", windows_path(target))
                    else:
                        self.create(program, select, name).wait_gone()
                        self.assertShows(select, windows_path(target))
                    self.assertEqual(self.accept(select, main), windows_path(target) + "\\")
                main.click(UNZIP)
                self.expect_success(program)
                self.assertEqual(os.listdir(base), [name])
                self.assertEqual(self.tree(target), files)


if __name__ == "__main__":
    sfxtest.main()
