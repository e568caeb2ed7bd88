"""scripts/pad-stub on the linked x86-64 stub and on copies of it: an image
that ends before 43008 bytes is padded with zeros to that length; one whose
resources end later is copied as it is, and says so; a file with bytes
behind its last section is refused, since the stub finds its length in its
section table.

    pad_stub_test.py PAD-STUB LINKED-STUB WORKDIR"""
import os
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "packer"))
from sfxfiles import STUB_SIZE_MIN, stub_length  # noqa: E402

PAD, LINKED, WORK = sys.argv[1:4]
del sys.argv[1:4]


def last_section(data):
    """File offset of the last section header."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional = struct.unpack_from("<HH", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    return pe + 24 + optional + 40 * (count - 1)


class PadStub(unittest.TestCase):
    def pad(self, data):
        source, out = os.path.join(WORK, "in.exe"), os.path.join(WORK, "out.exe")
        with open(source, "wb") as f:
            f.write(data)
        run = subprocess.run([PAD, source, out, str(STUB_SIZE_MIN)], capture_output=True, text=True)
        padded = open(out, "rb").read() if run.returncode == 0 else None
        os.path.exists(out) and os.remove(out)
        return run, padded

    def test_lengths(self):
        with open(LINKED, "rb") as f:
            linked = f.read()
        # The resources (the last section) grown to 8 KB past the least length.
        header = last_section(linked)
        raw_offset = struct.unpack_from("<I", linked, header + 20)[0]
        end = max(len(linked), STUB_SIZE_MIN) + 8192
        grown = bytearray(linked + bytes(end - len(linked)))
        struct.pack_into("<I", grown, header + 16, end - raw_offset)
        short = len(linked) <= STUB_SIZE_MIN
        cases = [
            ("as linked", linked, max(len(linked), STUB_SIZE_MIN), "padded to 43008" if short else "not padded"),
            ("long: as it is", bytes(grown), end, "past 43008: not padded"),
            ("bytes behind the image", bytes(grown) + b"x", None, "nothing may lie behind its last section"),
        ]
        for label, data, length, said in cases:
            with self.subTest(label):
                run, padded = self.pad(data)
                self.assertIn(said, run.stdout + run.stderr)
                if length is None:
                    self.assertNotEqual(run.returncode, 0)
                    continue
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual((len(padded), stub_length(padded)), (length, length))
                self.assertEqual(padded[:len(data)], data)
                self.assertFalse(any(padded[len(data):]), "the padding is zeros")


if __name__ == "__main__":
    os.makedirs(WORK, exist_ok=True)
    unittest.main()
