"""Archives that make a walk over local headers alone take an entry for
what it is not: entries whose sizes only a data descriptor behind the data
knows, as writers that stream their output make them. Such a header claims
no data and a CRC of 0, which an empty output matches. None may be reported
as extracted; a truly empty entry of a streaming writer still is."""

import struct
import zipfile

import sfxtest
from sfxtest import FILE_LIST, streamed_zip
from unzipflow import CORRUPTED_TEXT, WARNING_CAPTION, UnzipTestCase


def local_header_fields(archive):
    """(name, flags, compressed size) of each local header, walked as the
    program walks them."""
    found, p = [], 0
    while archive[p:p + 4] == b"PK\x03\x04":
        flags, size, name_length, extra_length = (struct.unpack_from("<H", archive, p + 6)[0],
                                                  *struct.unpack_from("<I", archive, p + 18),
                                                  *struct.unpack_from("<HH", archive, p + 26))
        found.append((archive[p + 30:p + 30 + name_length].decode("latin-1"), flags, size))
        p += 30 + name_length + extra_length + size
        if archive[p:p + 4] == b"PK\x07\x08":
            p += 16
    return found


class StreamedEntries(UnzipTestCase):
    def run_tail(self, tail):
        program, dialog = self.open_sfx(self.write_sfx(tail))
        out = self.path("out")
        self.unzip_into(dialog, out)
        return program, dialog, out

    def test_stored_entry_with_its_sizes_only_in_a_descriptor_fails(self):
        archive = streamed_zip({"empty.txt": b"", "data.txt": b"hello world\n" * 10}, zipfile.ZIP_STORED)
        # What the program sees: two stored entries that claim no data.
        self.assertEqual(local_header_fields(archive), [("empty.txt", 8, 0), ("data.txt", 8, 0)])
        program, dialog, out = self.run_tail(archive)
        # The walk then looks for the next header inside the entry's data,
        # which it takes for damage.
        self.close_box(self.box(program, WARNING_CAPTION, CORRUPTED_TEXT))
        self.expect_failure(program, dialog)
        # The truly empty one is extracted; the other leaves the target
        # untouched and stays selected.
        self.assertEqual(self.tree(out), {"empty.txt": b""})
        self.assertEqual(dialog.items(FILE_LIST), [("data.txt", True), ("empty.txt", False)])

    def test_empty_entries_and_folders_of_a_streaming_writer_are_extracted(self):
        archive = streamed_zip({"folder/": b"", "folder/empty.txt": b"", "blank.txt": b""}, zipfile.ZIP_STORED)
        self.assertTrue(all(flags & 8 and size == 0 for _, flags, size in local_header_fields(archive)))
        program, _, out = self.run_tail(archive + b"PK\x01\x02")
        self.expect_success(program)
        self.assertEqual(self.tree(out), {"folder/empty.txt": b"", "blank.txt": b""})

    def test_encrypted_stored_entry_with_its_sizes_only_in_a_descriptor_fails(self):
        # zip writes the sizes into the local header and a descriptor; a
        # streaming writer leaves the header's CRC and sizes 0. The password
        # still fits (flag bit 3: checked against the time), after which the
        # entry claims less than its own 12-byte encryption header.
        folder = self.make_files({"data.txt": b"secret content\n" * 4})
        with open(self.zip_folder(folder, options=("-P", "secret", "-0")), "rb") as f:
            archive = f.read()
        (name, flags, size), = local_header_fields(archive)
        self.assertEqual((name, flags & 9, size), ("data.txt", 9, 12 + 60))
        streamed = archive[:14] + bytes(12) + archive[26:]
        program, dialog, out = self.run_tail(streamed)
        self.answer_password(program, "secret")
        self.close_box(self.box(program, WARNING_CAPTION, CORRUPTED_TEXT))
        self.expect_failure(program, dialog)
        self.assertEqual(self.tree(out), {})

if __name__ == "__main__":
    sfxtest.main()
