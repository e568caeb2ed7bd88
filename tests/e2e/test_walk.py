"""The walk over hand-made archives: what no tool writes, broken entries,
names the extractor must not follow, and the closing reports."""

import os
import struct
import zlib

import sfxtest
from sfxtest import UNZIP, FILE_LIST, FOOTER, MAIN_CAPTION, end_record, local_entry
from unzipflow import CORRUPTED_TEXT, FAILURE_TEXT, WARNING_CAPTION, UnzipTestCase

DESCRIPTOR = struct.pack("<IIII", 0x08074B50, 0, 0, 0)


def central_directory_end():
    """A central directory header start: the walk stops there."""
    return struct.pack("<I", 0x02014B50) + bytes(42)


def with_signature(entry, signature):
    return struct.pack("<I", signature) + entry[4:]


def unicode_path(stored, name):
    """Info-ZIP's Unicode Path extra field for a name stored as these bytes."""
    data = b"\x01" + struct.pack("<I", zlib.crc32(stored)) + name.encode()
    return struct.pack("<HH", 0x7075, len(data)) + data


def with_crc(entry, crc):
    return entry[:14] + struct.pack("<I", crc) + entry[18:]


class HandMadeArchives(UnzipTestCase):
    def run_archive(self, tail, selected=None, folder="out", whole=True):
        """Starts the stub with these bytes behind it (and an end record,
        if whole) and presses "&Unzip" into a fresh folder. Returns
        program, dialog and the folder."""
        program, dialog = self.open_sfx(self.write_sfx(tail + (end_record() if whole else b"")))
        if selected is not None:
            dialog.select(FILE_LIST, -1, False)
            for index, (name, _) in enumerate(dialog.items(FILE_LIST)):
                if name in selected:
                    dialog.select(FILE_LIST, index, True)
        out = self.path(folder)
        self.unzip_into(dialog, out)
        return program, dialog, out

    def test_data_descriptors_zero_signature_nul_names_and_extra_fields(self):
        # Behind "a": one descriptor; behind "b": two in a row. "c" starts
        # with 00 00 00 50; "d\0junk" is cut at the NUL; "e" carries an
        # extra field of 300 bytes.
        tail = (local_entry("a.txt", b"first", flags=8) + DESCRIPTOR
                + local_entry("b.txt", b"second" * 1000) + DESCRIPTOR + DESCRIPTOR
                + with_signature(local_entry("c.txt", b"third", method=0), 0x50000000)
                + local_entry(b"d.txt\0junk", b"fourth")
                + local_entry("e.txt", b"fifth", extra=bytes(range(256)) + bytes(44))
                + central_directory_end())
        program, dialog, out = self.run_archive(tail)
        self.expect_success(program)
        self.assertEqual(self.tree(out), {"a.txt": b"first", "b.txt": b"second" * 1000,
                                          "c.txt": b"third", "d.txt": b"fourth", "e.txt": b"fifth"})

    def test_names_as_the_archive_means_them(self):
        # UTF-8 by flag bit 11, UTF-8 from a matching Unicode Path field, the
        # ANSI code page otherwise (also behind a field that no longer
        # matches), and a name whose UTF-8 is not valid.
        utf8 = 0x800
        cp437 = b"\x9abersicht.txt"                        # "Übersicht.txt" in CP437
        tail = (local_entry("\u00dcbersicht-\u00e9.txt".encode(), b"flagged", flags=utf8)
                + local_entry("\u65e5\u672c/\u8a9e.txt".encode(), b"east", flags=utf8)
                + local_entry(cp437, b"field", extra=unicode_path(cp437, "\u00dcbersicht.txt"))
                + local_entry(b"caf\xe9.txt", b"ansi", extra=unicode_path(b"other", "wrong.txt"))
                + local_entry(b"bad\xc0\xaf.txt", b"invalid", flags=utf8) + end_record())
        program, dialog = self.open_sfx(self.write_sfx(tail))
        # The list shows every name exactly, whatever the ANSI code page
        # holds; a name that cannot be decoded shows its bytes in that code
        # page.
        self.assertEqual(sorted(name for name, _ in dialog.items(FILE_LIST)),
                         sorted(["\u00dcbersicht-\u00e9.txt", "\u65e5\u672c/\u8a9e.txt", "\u00dcbersicht.txt",
                                 "caf\u00e9.txt", "bad\u00c0\u00af.txt"]))
        out = self.path("out")
        self.unzip_into(dialog, out)
        box = self.box(program, WARNING_CAPTION)
        self.assertEqual(box.text(sfxtest.MESSAGE_TEXT),
                         'The name "bad\u00c0\u00af.txt" is not valid in the encoding that the archive gives for it. '
                         "Files with such names are not extracted.")
        self.close_box(box)
        self.expect_failure(program, dialog)
        self.assertEqual(self.tree(out), {"\u00dcbersicht-\u00e9.txt": b"flagged", "\u65e5\u672c/\u8a9e.txt": b"east",
                                          "\u00dcbersicht.txt": b"field", "caf\u00e9.txt": b"ansi"})
        self.assertEqual([name for name, on in dialog.items(FILE_LIST) if on], ["bad\u00c0\u00af.txt"])

    def test_a_damaged_entry_leaves_nothing_and_fails_again(self):
        # Stored and deflated: nothing of a damaged entry takes its name, so
        # a second run under "Never Overwrite" finds nothing to keep and
        # fails again instead of counting a half-written file as kept.
        for method in (0, 8):
            with self.subTest(method=method):
                good = local_entry("good.txt", b"good data", method=method)
                bad = with_crc(local_entry("bad.txt", b"bad data" * 1000, method=method), 0x12345678)
                program, dialog, out = self.run_archive(bad + good, folder=f"out-{method}")
                self.expect_failure(program, dialog)
                self.assertEqual(os.listdir(out), ["good.txt"])
                self.assertEqual(dialog.items(FILE_LIST), [("bad.txt", True), ("good.txt", False)])
                dialog.click(sfxtest.OVERWRITE_NEVER)
                self.wait_until(lambda: dialog.checked(sfxtest.OVERWRITE_NEVER) == 1)
                dialog.click(UNZIP)
                self.expect_failure(program, dialog)
                self.assertEqual(os.listdir(out), ["good.txt"])
                self.assertEqual(dialog.items(FILE_LIST), [("bad.txt", True), ("good.txt", False)])
                dialog.close()

    def test_nothing_selected_extracts_nothing_and_says_nothing(self):
        program, dialog, out = self.run_archive(local_entry("a.txt", b"a"), selected=[])
        self.assertNoWindow(program, WARNING_CAPTION)
        self.assertEqual(self.tree(out), {})
        self.assertEqual(dialog.caption, MAIN_CAPTION)
        self.assertTrue(program.running())

    def test_repeated_name_behind_another_is_not_reached(self):
        # Archive order b, a, b; list order a, b, b. The second search for b
        # starts after a and finds the first b item again.
        tail = local_entry("b", b"first b") + local_entry("a", b"a") + local_entry("b", b"second b")
        program, dialog, out = self.run_archive(tail)
        self.expect_failure(program, dialog)
        self.assertEqual(self.tree(out), {"a": b"a", "b": b"first b"})
        self.assertEqual(dialog.items(FILE_LIST), [("a", False), ("b", False), ("b", True)])

    def test_unknown_method_aborts_without_touching_the_target(self):
        out = self.path("out")
        os.makedirs(out)
        with open(os.path.join(out, "odd.bin"), "wb") as f:
            f.write(b"keep me")
        odd = local_entry("odd.bin", b"data", method=0)
        odd = odd[:8] + struct.pack("<H", 12) + odd[10:]           # bzip2
        tail = local_entry("first.txt", b"1") + odd + local_entry("last.txt", b"3") + end_record()
        program, dialog = self.open_sfx(self.write_sfx(tail))
        dialog.click(sfxtest.OVERWRITE_ALWAYS)
        self.unzip_into(dialog, out)
        self.close_box(self.box(program, WARNING_CAPTION, "Unknown compression type"))
        # The run ends there, without a closing report.
        self.assertNoWindow(program, WARNING_CAPTION)
        self.assertEqual(self.tree(out), {"first.txt": b"1", "odd.bin": b"keep me"})

    def test_empty_name_stops_the_run(self):
        tail = (local_entry("before.txt", b"before") + local_entry("", b"x") + local_entry("after.txt", b"y")
                + end_record())
        program = self.start(self.write_sfx(tail))
        # Listing stops at the empty name too: the box comes before the dialog.
        self.close_box(self.box(program, WARNING_CAPTION, "Invalid filename."))
        dialog = program.wait_window(MAIN_CAPTION)
        self.assertEqual(dialog.items(FILE_LIST), [("before.txt", True)])
        out = self.path("out")
        self.unzip_into(dialog, out)
        self.close_box(self.box(program, WARNING_CAPTION, "Invalid filename."))
        self.assertNoWindow(program, WARNING_CAPTION)
        self.assertEqual(self.tree(out), {"before.txt": b"before"})
        self.assertEqual(dialog.items(FILE_LIST), [("before.txt", False)])

    def test_a_walk_that_stops_at_damage_fails(self):
        # Bytes that are no header between the second and third entries, or
        # the file's end where the third starts (a cut download): the list
        # holds what came before, those entries are extracted, and the run
        # says that the archive is damaged and fails, whatever it found.
        first, second, third = (local_entry(f"{n}.txt", n.encode() * 50) for n in ("one", "two", "three"))
        cases = (("junk between entries", first + second + b"junk" * 9 + third + end_record()),
                 ("cut at an entry's start", first + second),
                 ("cut behind a descriptor", first + second + DESCRIPTOR))
        for label, tail in cases:
            with self.subTest(label):
                program, dialog, out = self.run_archive(tail, folder=label.replace(" ", "-"), whole=False)
                self.close_box(self.box(program, WARNING_CAPTION, CORRUPTED_TEXT))
                self.expect_failure(program, dialog)
                self.assertEqual(self.tree(out), {"one.txt": b"one" * 50, "two.txt": b"two" * 50})
                self.assertEqual(dialog.items(FILE_LIST), [("one.txt", False), ("two.txt", False)])
                dialog.close()

    def test_an_archive_without_entries_is_reported_at_once(self):
        # An end record and nothing else: nothing to extract, so the file
        # is as good as damaged; the dialog comes up empty, and "&Unzip"
        # then writes nothing and says nothing.
        program = self.start(self.write_sfx(end_record()))
        self.close_box(self.box(program, WARNING_CAPTION, CORRUPTED_TEXT))
        dialog = program.wait_window(MAIN_CAPTION)
        self.assertEqual(dialog.items(FILE_LIST), [])
        out = self.path("out")
        self.unzip_into(dialog, out)
        self.assertNoWindow(program, WARNING_CAPTION)
        self.assertEqual(os.listdir(out), [])
        self.assertTrue(program.running())

    def test_deflated_entry_without_data_fails(self):
        # A streaming writer's entry: sizes and CRC only in a descriptor. Its
        # header claims no data, which no deflate stream can be.
        streamed = local_entry("streamed.txt", b"", flags=8)
        streamed = streamed[:18] + struct.pack("<II", 0, 0) + streamed[26:]
        streamed = streamed[:30 + len("streamed.txt")]
        program, dialog, out = self.run_archive(streamed + central_directory_end())
        self.expect_failure(program, dialog)
        self.assertEqual(self.tree(out), {})


class Confinement(UnzipTestCase):
    # The superscript digits are bytes of the ANSI code page (1252 here), in
    # which Windows opens COM\u00b9 as a device; names whose parts end in a
    # dot or a blank would lose them, or be kept where Explorer cannot
    # reach them.
    UNSAFE = ["../escape.txt", "sub/../../escape2.txt", "/rooted.txt", "\\rooted2.txt",
              "C:drive.txt", "stream.txt:hidden", "CON", "sub/nul.txt", ".../dots.txt",
              "COM\u00b9", "sub/lpt\u00b3.txt", "COM\u00b2 .log", "dotted.", "blank ", "part./x.txt", "part /y.txt"]

    def test_names_that_leave_the_folder_are_refused_visibly(self):
        tail = b"".join(local_entry(name, b"evil") for name in self.UNSAFE)
        tail += local_entry("safe/inside.txt", b"fine") + end_record()
        base = self.path("base")
        program, dialog = self.open_sfx(self.write_sfx(tail))
        out = os.path.join(base, "out")
        self.unzip_into(dialog, out)
        # One warning for the run names the first refused entry.
        box = self.box(program, WARNING_CAPTION)
        self.assertIn('"../escape.txt"', box.text(sfxtest.MESSAGE_TEXT))
        self.assertIn("outside the destination folder", box.text(sfxtest.MESSAGE_TEXT))
        self.close_box(box)
        self.expect_failure(program, dialog)
        # Nothing anywhere but the safe file inside the folder.
        self.assertEqual(self.tree(base), {"out/safe/inside.txt": b"fine"})
        self.assertFalse(os.path.exists(self.path("escape.txt")))
        self.assertFalse(os.path.exists("/rooted.txt"))
        self.assertFalse(os.path.exists("/rooted2.txt"))
        selected = {name for name, on in dialog.items(FILE_LIST) if on}
        self.assertEqual(len(selected), len(self.UNSAFE))

    def test_over_long_names_fail_cleanly_and_long_paths_extract(self):
        # A name beyond 258 units fails without a box. Paths beyond 260
        # characters, folders included, extract exactly: below a
        # destination of about 350 characters, the tree's full paths run
        # from there to about 600; then below one of 1,000.
        long_name = "n" * 300 + ".txt"
        tree = {"d" * 120 + "/" + "f" * 120 + ".txt": b"long path", "short.txt": b"ok"}
        folder = ""
        for level in range(2):
            folder += f"{level}-" + "p" * 98 + "/"
            tree[folder + f"file{level}.bin"] = bytes([level + 1]) * (20000 * level + 1)
        tail = local_entry(long_name, b"too long") + local_entry(folder, b"", method=0)
        tail += b"".join(local_entry(name, data) for name, data in tree.items()) + end_record()
        exe = self.write_sfx(tail)
        for out, longest in ((self.path("o" * 40, "p" * 100, "q" * 100), 580),
                             (self.path(*(c * 150 for c in "rstuvw")), 1100)):
            with self.subTest(destination=len(sfxtest.windows_path(out))):
                program, dialog = self.open_sfx(exe)
                names = [name for name, _ in dialog.items(FILE_LIST)]
                self.assertIn("n" * 258, names)                  # listed, cut to the buffer
                self.unzip_into(dialog, out)
                self.expect_failure(program, dialog)
                self.assertEqual([name for name, on in dialog.items(FILE_LIST) if on], ["n" * 258])
                self.assertEqual(self.tree(out), tree)
                self.assertTrue(os.path.isdir(os.path.join(out, folder)))
                self.assertGreater(max(len(sfxtest.windows_path(os.path.join(out, name))) for name in tree),
                                   longest)
                dialog.close()


if __name__ == "__main__":
    sfxtest.main()
