"""What the folder tests share: opening "Select Destination Folder" from the
main dialog, entering folders by double-click, the "Create New Folder"
dialog, short (8.3) paths, and what the owner-drawn folder list shows on the
screen."""

import os
import subprocess

import sfxtest
from sfxtest import BROWSE, FOLDER_EDIT
from unzipflow import UnzipTestCase

SELECT_CAPTION = "Select Destination Folder"
NEW_CAPTION = "Create New Folder"
ERROR_IN_DIRECTORY = "Error in directory"

# Folder selection dialog.
OK, CANCEL = 1, 2
CURRENT_LINE = 2001
NETWORK = 2002
FOLDER_LIST = 2003
CREATE = 2004
# New folder dialog.
NEW_CURRENT = 3001
NEW_NAME = 3002

# List box notifications, as the list sends them in WM_COMMAND.
LBN_DBLCLK = 2
LBN_SETFOCUS = 4
LBN_KILLFOCUS = 5

PARENT_ITEM = "[..]"

# A bordered list in a 3-D dialog has a sunken edge of two pixels.
LIST_EDGE = 2


def drive_item(letter):
    return f"[-{letter.lower()}-]"


def is_drive_item(item):
    return len(item) == 5 and item[:2] == "[-" and item[3:] == "-]"


def short_path(path, scratch):
    """The 8.3 form of an existing Windows path, as GetShortPathNameA gives
    it, asked of the session's command interpreter through a batch file in
    the folder scratch (the driver has no such command). Wine's cmd shortens
    every component of %~s but the last, so it is asked about a child and
    the child is dropped."""
    cfg = sfxtest.config()
    batch = os.path.join(scratch, "short-path.bat")
    with open(batch, "w", encoding="latin-1", newline="\r\n") as f:
        f.write("@echo off\n")
        f.write(f'for %%I in ("{path}\\child") do echo %%~sI\n')
    result = subprocess.run([cfg.wine, "cmd", "/c", sfxtest.windows_path(batch)], env=cfg.environment(),
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    short = result.stdout.decode("latin-1").split("\r\n")[0].strip()
    if result.returncode != 0 or not short.lower().endswith("\\child"):
        raise RuntimeError(f"no short form of {path}: {result.stdout!r} {result.stderr!r}")
    return short[:-len("\\child")]


class Picture:
    """An RGB picture of a window, as the screen shows it."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    @classmethod
    def of(cls, test, rect, name):
        left, top, right, bottom = rect
        shot = test.screenshot(name)
        ppm = subprocess.run(["convert", shot, "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                              "+repage", "-depth", "8", "ppm:-"],
                             check=True, capture_output=True, timeout=30).stdout
        fields = ppm.split(maxsplit=4)          # P6, width, height, 255, pixels
        if fields[0] != b"P6" or fields[3] != b"255":
            raise RuntimeError("unexpected picture format")
        return cls(int(fields[1]), int(fields[2]), fields[4])

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return self.rgb[i:i + 3]

    def ink(self, x0, x1, y0, y1, background):
        """The columns in [x0, x1) that hold a pixel of another colour than
        background within rows [y0, y1)."""
        return [x for x in range(max(x0, 0), min(x1, self.width))
                if any(self.pixel(x, y) != background for y in range(y0, min(y1, self.height)))]


class DrawnRows:
    """The rows of the owner-drawn list as drawn: each item is filled with
    its background and shows, from the left, the shell's small icon and the
    display name. Item 0 must be the selected one, so that its highlight
    band gives the item height (small icon size + 2)."""

    TEXT_SAMPLE = 40     # pixels of the text that are looked at

    def __init__(self, picture):
        self.picture = picture
        e = LIST_EDGE
        band = picture.pixel(e, e)
        height = 0
        while e + height < picture.height and picture.pixel(e, e + height) == band:
            height += 1
        self.item_height = height
        self.icon_size = height - 2
        self.rows = (picture.height - 2 * e) // height if height else 0

    def row_top(self, row):
        return LIST_EDGE + row * self.item_height

    def background(self, row):
        return self.picture.pixel(LIST_EDGE, self.row_top(row))

    def _ink(self, row, x0, x1):
        y0 = self.row_top(row)
        return self.picture.ink(LIST_EDGE + x0, LIST_EDGE + x1, y0, y0 + self.item_height,
                                self.background(row))

    def icon_ink(self, row, indent):
        x = indent + 3
        return self._ink(row, x, x + self.icon_size)

    def text_ink(self, row, indent):
        x = self.icon_size + indent + 8
        return self._ink(row, x, x + self.TEXT_SAMPLE)

    def folder_indent(self):
        return self.icon_size // 2

    def indent_of(self, item):
        """Drives and the parent entry start at the left edge; sub-folders
        are shifted right by half an icon."""
        return 0 if is_drive_item(item) or item == PARENT_ITEM else self.folder_indent()

    def first_ink(self, row):
        """The leftmost column that the item's drawing covers."""
        ink = self._ink(row, 0, self.icon_size + self.folder_indent() + 8)
        return ink[0] if ink else None

    def icon_pixels(self, row, indent):
        """The pixels of the item's icon square."""
        x0 = LIST_EDGE + indent + 3
        y0 = self.row_top(row) + 1
        return [self.picture.pixel(x, y) for y in range(y0, y0 + self.icon_size)
                for x in range(x0, x0 + self.icon_size)]

    def drawn(self, row, indent):
        """An icon and some text where an item with this indent has them."""
        return bool(self.icon_ink(row, indent)) and bool(self.text_ink(row, indent))

    def blank(self, row):
        """Nothing but the item's background."""
        return not self._ink(row, 0, self.icon_size + self.folder_indent() + 8 + self.TEXT_SAMPLE)


class FolderTestCase(UnzipTestCase):
    """Folder selection through the main dialog's "&Browse..." button."""

    def sfx(self, *options):
        return self.make_sfx(self.make_zip({"readme.txt": b"read me\r\n", "bin/tool.dat": b"\x01\x02"}),
                             *(options or ("--no-settings",)))

    def open_browse(self, folder_text, cwd=None):
        """Starts the program, puts folder_text into the folder box and
        presses "&Browse..."; returns (program, main dialog, selection dialog)."""
        program, main = self.open_sfx(self.sfx(), cwd=cwd)
        main.set_text(FOLDER_EDIT, folder_text)
        main.click(BROWSE)
        return program, main, program.wait_window(SELECT_CAPTION)

    def items(self, select):
        return [text for text, _ in select.items(FOLDER_LIST)]

    def selected(self, select):
        return [i for i, (_, chosen) in enumerate(select.items(FOLDER_LIST)) if chosen]

    def assertShows(self, select, folder):
        """Line 2001 shows folder, whole and with its names as stored."""
        self.assertEqual(select.text(CURRENT_LINE), folder)

    def double_click(self, select, item, shows):
        """Double-clicks an item (it is selected first, as a click would) and
        waits until line 2001 shows the folder entered."""
        select.select(FOLDER_LIST, self.items(select).index(item))
        select.command(FOLDER_LIST, LBN_DBLCLK)
        self.wait_until(lambda: select.text(CURRENT_LINE) == shows)

    def accept(self, select, main):
        """OK; returns the folder box's text afterwards."""
        select.click(OK)
        select.wait_gone()
        return main.text(FOLDER_EDIT)

    def open_new_folder(self, program, select):
        select.click(CREATE)
        return program.wait_window(NEW_CAPTION)

    def create(self, program, select, name):
        """Types name into a new folder dialog and presses OK; returns the
        dialog (ended, or still open after a refusal)."""
        new = self.open_new_folder(program, select)
        new.set_text(NEW_NAME, name)
        new.click(OK)
        return new

    def folder_list(self, select, name="list.png"):
        """The list as the screen shows it now."""
        list_box = sfxtest.Window(self.driver, select.control(FOLDER_LIST).hwnd)
        return DrawnRows(Picture.of(self, list_box.rect(), name))

    def wait_for_list(self, select, condition, name="list.png"):
        """Polls the list on the screen until condition(DrawnRows) holds;
        returns those DrawnRows."""
        found = []

        def check():
            found[:] = [self.folder_list(select, name)]
            return condition(found[0])

        self.wait_until(check)
        return found[0]

