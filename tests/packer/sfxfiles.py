"""Reading self-extracting files the way the extractor does, for the
packer's tests: the local headers alone, from the archive's start."""
import os
import struct
import subprocess
import time
import zipfile
import zlib

STUB_SIZE_MIN = 43008
BLOCK_SIZE = 256
LOCAL, DESCRIPTOR, CENTRAL = 0x04034B50, 0x08074B50, 0x02014B50


def stub_length(data):
    """The extractor's length in a file that begins with it, where it looks
    for its settings block: the furthest end of a section's data in its
    section table, at least STUB_SIZE_MIN."""
    end = 0
    if data[:2] == b"MZ":
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] == b"PE\0\0":
            count, optional = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
            for i in range(count):
                raw_size, raw_offset = struct.unpack_from("<II", data, pe + 24 + optional + 40 * i + 16)
                end = max(end, raw_offset + raw_size if raw_size else 0)
    return max(STUB_SIZE_MIN, end)


def archive_base(data):
    stub = stub_length(data)
    return stub + (BLOCK_SIZE if data[stub:stub + 3] == b"MPU" else 0)


def walk(path):
    """The entries that the extractor's walk finds, and the signature it
    stops at: header + name + extra + compressed size, over descriptors.
    Names are read as UTF-8 with flag bit 11, else byte for byte. Sizes
    that read all ones come from the ZIP64 block (zip64 is then True), and
    such an entry's descriptor has 8-byte sizes."""
    with open(path, "rb") as f:
        data = f.read()
    pos, entries, zip64 = archive_base(data), [], False
    while True:
        sig = struct.unpack_from("<I", data, pos)[0] if pos + 4 <= len(data) else 0
        if sig == DESCRIPTOR:
            pos += 24 if zip64 else 16
            continue
        if sig not in (LOCAL, 0x50000000):
            return entries, sig
        flags, method, timedate, crc, csize, size, n, e = struct.unpack_from("<HHIIIIHH", data, pos + 6)
        start = pos + 30 + n + e
        extra = data[start - e:start]
        wide = extra_blocks(extra).get(1)
        zip64 = wide is not None
        if zip64:
            values = iter(struct.unpack_from(f"<{len(wide) // 8}Q", wide))
            size = next(values) if size == 0xFFFFFFFF else size
            csize = next(values) if csize == 0xFFFFFFFF else csize
        raw = data[start - e - n:start - e]
        pos = start + csize
        entries.append(dict(name=raw.decode("utf-8", "replace") if flags & 0x800 else raw.decode("latin-1"), raw=raw,
                            extra=extra, flags=flags, method=method, timedate=timedate, crc=crc, size=size,
                            zip64=zip64, data=data[start:pos],
                            descriptor=data[pos:pos + 4] == struct.pack("<I", DESCRIPTOR)))


def extra_blocks(extra):
    """An extra field's blocks, {header id: data}."""
    blocks, at = {}, 0
    while at + 4 <= len(extra):
        block_id, size = struct.unpack_from("<HH", extra, at)
        blocks[block_id] = extra[at + 4:at + 4 + size]
        at += 4 + size
    return blocks


def _crypt_keys(password):
    keys = [0x12345678, 0x23456789, 0x34567890]

    def update(byte):
        keys[0] = zlib.crc32(bytes([byte]), keys[0] ^ 0xFFFFFFFF) ^ 0xFFFFFFFF
        keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = zlib.crc32(bytes([keys[1] >> 24]), keys[2] ^ 0xFFFFFFFF) ^ 0xFFFFFFFF
    for b in password:
        update(b)
    return keys, update


def decrypt(data, password):
    keys, update = _crypt_keys(password)
    out = bytearray()
    for b in data:
        t = (keys[2] | 2) & 0xFFFF
        out.append(b ^ ((t * (t ^ 1)) >> 8) & 0xFF)
        update(out[-1])
    return bytes(out)


def extract(entry, password=None):
    """An entry's content decoded from what its local header says, with the
    extractor's password check: flag bit 3 compares the DOS time's high
    byte, otherwise the CRC's high byte."""
    data = entry["data"]
    if entry["flags"] & 1:
        plain = decrypt(data, password)
        check = entry["timedate"] >> 8 if entry["flags"] & 8 else entry["crc"] >> 24
        if plain[11] != check & 0xFF:
            raise ValueError("password check fails for " + entry["name"])
        data = plain[12:]
    if entry["method"] == 8:
        d = zlib.decompressobj(-15)
        content = d.decompress(data)
        if not d.eof or d.unused_data:
            raise ValueError("deflate data does not end with the entry: " + entry["name"])
    else:
        content = data
    if zlib.crc32(content) != entry["crc"]:
        raise ValueError("CRC-32 differs for " + entry["name"])
    return content


def date_time(timedate):
    """A DOS time-and-date word as zipfile's date_time tuple."""
    d, t = timedate >> 16, timedate & 0xFFFF
    return (1980 + (d >> 9), d >> 5 & 15, d & 31, t >> 11, t >> 5 & 63, (t & 31) * 2)


def dos_time(mtime):
    t = time.localtime(mtime)
    return (t.tm_year - 1980) << 25 | t.tm_mon << 21 | t.tm_mday << 16 | t.tm_hour << 11 \
        | t.tm_min << 5 | t.tm_sec // 2


def make_tree(root, files, folders=(), mtime=1623760496):
    """Files {name: bytes} and empty folders below root, every one with the
    same even-second modification time."""
    os.makedirs(root, exist_ok=True)
    for name, content in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
    for name in folders:
        os.makedirs(os.path.join(root, name), exist_ok=True)
    for here, dirs, names in os.walk(root):
        for n in dirs + names:
            os.utime(os.path.join(here, n), (mtime, mtime))


SAMPLE_FILES = {
    "readme.txt": b"Read me first.\r\n" * 300,
    "docs/guide.txt": b"".join(b"line %d of the guide\n" % i for i in range(2000)),
    "docs/empty.txt": b"",
    "bin/noise.bin": os.urandom(20000),
    "deep/a/b/c.txt": b"deep",
}
SAMPLE_FOLDERS = ("empty",)


def zeros_crc(size, _known={}):
    """The CRC-32 of size zero bytes."""
    if size not in _known:
        block, crc, left = memoryview(bytes(1 << 24)), 0, size
        while left:
            crc = zlib.crc32(block[:min(left, len(block))], crc)
            left -= min(left, len(block))
        _known[size] = crc
    return _known[size]


def deflated_zeros(size):
    """A raw deflate stream of size zero bytes (a multiple of 64 MiB),
    made from one compressed stretch repeated: a full flush ends each
    stretch on a byte with nothing carried over, so 4 GiB take a second."""
    stretch = 64 << 20
    assert size % stretch == 0
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    piece = c.compress(bytes(stretch)) + c.flush(zlib.Z_FULL_FLUSH)
    return piece * (size // stretch) + c.flush(zlib.Z_FINISH)


def write_stored_zip(path, entries, made_by=10, prefix=b""):
    """A ZIP of stored entries, written by hand so that names and sizes can
    be anything: {name: bytes, or a size in bytes for zeros left as a hole
    of a sparse file, or dict(data=bytes, flags=, extra=, external=)}, with
    this "version made by" (host in the high byte). A dict with method=8
    holds deflated data, with the size and crc of what it decodes to. Sizes
    and offsets past 32 bits, and more than 65,535 entries, get ZIP64
    records where the format puts them. prefix (a stub and its settings
    block) comes first; offsets count from the archive's start behind it."""
    marked = 0xFFFFFFFF
    central, pos = b"", 0
    with open(path, "wb") as f:
        f.write(prefix)
        for name, data in entries.items():
            fields = data if isinstance(data, dict) else {"data": data}
            data, flags, extra = fields["data"], fields.get("flags", 0), fields.get("extra", b"")
            method = fields.get("method", 0)
            packed = data if isinstance(data, int) else len(data)
            size = fields.get("size", packed)
            crc = fields.get("crc", zeros_crc(size) if isinstance(data, int) else zlib.crc32(data))
            large = max(size, packed) >= marked
            local_extra = extra + (struct.pack("<HHQQ", 1, 16, size, packed) if large else b"")
            version = 45 if large else 20 if method else 10
            f.write(struct.pack("<IHHHIIIIHH", LOCAL, version, flags, method, 0, crc,
                                marked if large else packed, marked if large else size, len(name), len(local_extra))
                    + name + local_extra)
            if isinstance(data, int):
                f.seek(size, os.SEEK_CUR)
            else:
                f.write(data)
            wide = [v for v in (size, packed, pos) if v >= marked]
            central_extra = extra + (struct.pack("<HH", 1, 8 * len(wide)) + struct.pack(f"<{len(wide)}Q", *wide)
                                     if wide else b"")
            central += struct.pack("<IHHHHIIIIHHHHHII", CENTRAL, made_by, 45 if wide else version, flags, method, 0,
                                   crc, min(packed, marked), min(size, marked), len(name), len(central_extra),
                                   0, 0, 0, fields.get("external", 0), min(pos, marked)) + name + central_extra
            pos = f.tell() - len(prefix)
        count = len(entries)
        if count > 0xFFFF or pos >= marked or len(central) >= marked:
            end = pos + len(central)
            f.write(central + struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, made_by, 45, 0, 0, count, count,
                                          len(central), pos)
                    + struct.pack("<IIQI", 0x07064B50, 0, end, 1)
                    + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, min(count, 0xFFFF), min(count, 0xFFFF),
                                  min(len(central), marked), min(pos, marked), 0))
        else:
            f.write(central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(central), pos, 0))
    return path


def unicode_path(name_bytes, utf8):
    """Info-ZIP's Unicode Path extra field for a header name."""
    return struct.pack("<HHBI", 0x7075, 5 + len(utf8), 1, zlib.crc32(name_bytes)) + utf8


class Unseekable:
    """A stream without seek or tell, so zipfile leaves sizes to descriptors."""
    def __init__(self, f):
        self.f = f

    def write(self, b):
        return self.f.write(b)

    def flush(self):
        self.f.flush()


def zip_with(tool, src, out):
    """A ZIP of src's contents made by one of the peers; the pipes make the
    writers stream, leaving sizes to data descriptors."""
    if tool == "python-stream":
        with open(out, "wb") as f, zipfile.ZipFile(Unseekable(f), "w", zipfile.ZIP_DEFLATED) as z:
            for here, dirs, names in os.walk(src):
                for n in sorted(dirs + names):
                    z.write(os.path.join(here, n), os.path.relpath(os.path.join(here, n), src))
        return out
    commands = {
        "zip": f"zip -q -r -X {out} .",
        "zip-pipe": f"zip -q -r - . | cat > {out}",
        "7z": f"7z a -tzip -bd {out} . > /dev/null",
        "bsdtar-pipe": f"bsdtar --format zip -cf - . | cat > {out}",
    }
    subprocess.run(commands[tool], shell=True, cwd=src, check=True)
    return out


PEERS = ("zip", "zip-pipe", "7z", "bsdtar-pipe", "python-stream")


# ---- branding: icon files and version texts

# Four opaque colours, one per quarter of an icon (0xRRGGBB): top left, top
# right, bottom left, bottom right. Nothing in the extractor's own icons.
QUARTERS = (0xFF00FF, 0x00FFFF, 0xFFFF00, 0x2040FF)


def quarter_colour(size, x, y):
    return QUARTERS[(y >= size // 2) * 2 + (x >= size // 2)]


def bitmap_image(size, pixel=quarter_colour, alpha=False):
    """A 32-bit icon image as .ico files hold it: BITMAPINFOHEADER, the
    colours bottom-up with their alpha, and an empty AND mask. pixel gives
    0xRRGGBB, opaque, or with alpha 0xAARRGGBB."""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    opaque = 0 if alpha else 0xFF000000
    colours = b"".join(struct.pack("<I", opaque | pixel(size, x, y))
                       for y in reversed(range(size)) for x in range(size))
    return header + colours + bytes((size + 31) // 32 * 4 * size)


def png_image(size, pixel=quarter_colour):
    """An RGBA PNG image."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + b"".join(struct.pack(">I", pixel(size, x, y) << 8 | 0xFF) for x in range(size))
                    for y in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def icon_file(images):
    """An .ico file of [(size, bits, image data)]."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def write_icon(path, images=None):
    """The least the extractor must take, 32x32 and 16x16 at 32 bits per
    pixel, unless images are given."""
    images = images or [(32, 32, bitmap_image(32)), (16, 32, bitmap_image(16))]
    with open(path, "wb") as f:
        f.write(icon_file(images))
    return path


# The icon of a packager who follows today's displays: every size Explorer
# asks for up to 256x256, the largest as PNG.
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


def gradient_colour(size, x, y):
    return (x * 255 // size) << 16 | (y * 255 // size) << 8 | 0x40


def write_large_icon(path):
    """The test icon at 32x32 (the size a test reads back from the screen)
    among gradients at every other size."""
    def image(size):
        if size == 256:
            return png_image(size, gradient_colour)
        return bitmap_image(size, quarter_colour if size == 32 else gradient_colour)
    return write_icon(path, [(size, 32, image(size)) for size in ICON_SIZES])


# Version information with every text, and what Properties -> Details shows.
VERSION = "1.2.3.4"
VERSION_TEXTS = {"ProductName": "Demo Product", "CompanyName": "Demo Company Ltd",
                 "FileDescription": "Demo Product installer", "LegalCopyright": "\u00a9 2026 Demo Company Ltd"}
VERSION_OPTIONS = ["--file-version", VERSION, "--product", VERSION_TEXTS["ProductName"],
                   "--company", VERSION_TEXTS["CompanyName"], "--description", VERSION_TEXTS["FileDescription"],
                   "--copyright", VERSION_TEXTS["LegalCopyright"]]
