"""Files that make a reader do the most work per byte, written at any size:

    for case in CASES: case.write(f, size)      # writes exactly max(size, case.min_size) bytes

Each case is the worst shape known for one walk (a run of empty ZIP headers with no end
record, millions of empty Excel records, a persist directory of zero heads, a CompObj length
that claims the whole stream, a damaged PDF that names an encryption dictionary, a text of
nothing but tags, ...), plus one file per parser family that reads outside input. The cost
benchmark (bench/cost/run_cost.py) writes them at tens of MB; the fuzz seeds
(tests/fuzz/make_seeds.py) write them at the targets' input cap.
"""
import collections
import os
import struct

le16 = lambda v: struct.pack("<H", v & 0xFFFF)
le32 = lambda v: struct.pack("<I", v & 0xFFFFFFFF)

Case = collections.namedtuple("Case", "name family targets min_size write note")

CHUNK = 1 << 20


def _repeat(f, unit, count):
    """Writes unit count times, in chunks of about a MiB."""
    per = max(1, CHUNK // len(unit))
    block = unit * per
    while count >= per:
        f.write(block)
        count -= per
    f.write(unit * count)


def _zeros(f, n):
    while n > 0:
        k = min(n, CHUNK)
        f.write(b"\0" * k)
        n -= k


def _random(f, n, seed=1):
    # Reproducible noise without holding it all: a counter hashed into blocks.
    import hashlib
    block = 0
    while n > 0:
        k = min(n, CHUNK)
        out = bytearray()
        while len(out) < k:
            out += hashlib.sha256(b"%d:%d" % (seed, block)).digest() * 64
            block += 1
        f.write(bytes(out[:k]))
        n -= k


# ---- ZIP ----

def zip_local_headers(f, size):
    # Empty local headers one after another and no end record: the forward walk crosses the
    # whole file (up to its record cap), once per scan.
    count = size // 30
    _repeat(f, b"PK\x03\x04" + b"\0" * 26, count)
    _zeros(f, size - 30 * count)


def zip_directory(f, size):
    # The largest central directory the end record can count (65535 entries), with long
    # names, after one local header so that the package tests walk it too.
    entries = max(1, min(65535, (size - 30 - 22) // 47))
    per = max(47, (size - 30 - 22) // entries)
    name_len = min(per - 46, 0xFFFF)
    cd = 30 + (size - 30 - 22 - entries * (46 + name_len))
    f.write(b"PK\x03\x04" + b"\0" * 26)
    _zeros(f, cd - 30)
    for i in range(entries):
        name = (b"d/%05d" % i).ljust(name_len, b"x")
        f.write(le32(0x02014B50) + b"\0" * 24 + le16(name_len) + b"\0" * 16 + name)
    f.write(le32(0x06054B50) + b"\0" * 4 + le16(entries) + le16(entries) + le32(entries * (46 + name_len)) +
            le32(cd) + le16(0))


# ---- compound files: version 4, 4096-byte sectors, every stream at least a sector ----

SECTOR = 4096
ENDOFCHAIN, FREESECT, FATSECT = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD


def _sectors(n):
    return (n + SECTOR - 1) // SECTOR


def cfb_overhead(stream_count):
    """Bytes a compound file of this many streams needs beyond their sectors (upper bound)."""
    return SECTOR * (2 + _sectors((1 + stream_count) * 128) + 110)


def write_cfb(f, streams, size):
    """streams: list of (name, length, emit); emit(f) writes exactly length bytes (>= 4096).
    The file is padded to size bytes."""
    entries = 1 + len(streams)
    n_dir = _sectors(entries * 128)
    counts = [_sectors(length) for _, length, _ in streams]
    body = n_dir + sum(counts)
    n_fat = 1
    while n_fat * (SECTOR // 4) < n_fat + body:
        n_fat += 1
    assert n_fat <= 109, "too large for a header-only FAT list"
    fat = [FATSECT] * n_fat

    def chain(count):
        first = len(fat)
        fat.extend([first + i + 1 for i in range(count - 1)] + [ENDOFCHAIN])
        return first

    dir_first = chain(n_dir)
    starts = [chain(c) for c in counts]
    fat += [FREESECT] * (n_fat * (SECTOR // 4) - len(fat))

    def entry(name, kind, start, length, child=FREESECT, right=FREESECT):
        units = name.encode("utf-16-le")[:62]
        e = units.ljust(64, b"\0") + le16(len(units) + 2) + bytes([kind, 1])
        e += le32(FREESECT) + le32(right) + le32(child) + b"\0" * 16 + b"\0" * 20
        return e + le32(start) + le32(length) + le32(0)

    directory = entry("Root Entry", 5, ENDOFCHAIN, 0, child=1 if streams else FREESECT)
    for i, ((name, length, _), start) in enumerate(zip(streams, starts), 1):
        directory += entry(name, 2, start, length, right=i + 1 if i < len(streams) else FREESECT)

    header = bytes.fromhex("D0CF11E0A1B11AE1") + b"\0" * 16 + le16(0x3E) + le16(4) + le16(0xFFFE)
    header += le16(12) + le16(6) + b"\0" * 6 + le32(n_dir) + le32(n_fat) + le32(dir_first) + le32(0)
    header += le32(4096) + le32(ENDOFCHAIN) + le32(0) + le32(ENDOFCHAIN) + le32(0)
    header += b"".join(le32(v) for v in list(range(n_fat)) + [FREESECT] * (109 - n_fat))
    written = 0
    for part in (header.ljust(SECTOR, b"\0"), b"".join(le32(v) for v in fat),
                 directory.ljust(n_dir * SECTOR, b"\0")):
        f.write(part)
        written += len(part)
    for (_, length, emit), count in zip(streams, counts):
        emit(f)
        _zeros(f, count * SECTOR - length)
        written += count * SECTOR
    _zeros(f, size - written)


def _stream_room(size, streams=2):
    return (size - cfb_overhead(streams)) // SECTOR * SECTOR


def xls_records(f, size):
    # A workbook-globals BOF, then empty records to the end and no WINDOW1: the FILEPASS
    # search walks every record.
    length = _stream_room(size, 1)
    bof = le16(0x0809) + le16(16) + le16(0x0600) + le16(5) + b"\0" * 12
    count = (length - len(bof)) // 4

    def emit(out):
        out.write(bof)
        _repeat(out, le16(0x0042) + le16(0), count)
        _zeros(out, length - len(bof) - 4 * count)

    write_cfb(f, [("Workbook", length, emit)], size)


def ppt_persist(f, size):
    # A persist directory of zero heads over the whole stream, asked for an id none covers.
    length = _stream_room(size)
    edit = length - 40

    def current(out):
        out.write((b"\0" * 16 + le32(edit)).ljust(SECTOR, b"\0"))

    def document(out):
        out.write(b"\0" * 4 + le32(edit - 8))
        _zeros(out, edit - 8)
        out.write(b"\0" * 20 + le32(0) + b"\0" * 12 + le32(1))

    write_cfb(f, [("Current User", SECTOR, current), ("PowerPoint Document", length, document)], size)


def mpp_compobj(f, size):
    # A CompObj user type whose length field claims almost 2 GiB, over text with no zero byte.
    length = _stream_room(size, 1)

    def emit(out):
        out.write(b"\0" * 28 + le32(0x7FFFFFF0))
        _repeat(out, b"a", length - 32)

    write_cfb(f, [("\x01CompObj", length, emit)], size)


def jtdc_stream(f, size):
    # A compressed-document stream larger than any real one, starting like LZH data.
    length = _stream_room(size, 1)

    def emit(out):
        out.write(b"\x1a\x00-lh5-")
        _zeros(out, length - 7)

    write_cfb(f, [("JSCompDocument", length, emit)], size)


# ---- PDF ----

def pdf_damaged(f, size):
    # No cross-reference data (qpdf fails without repair), the name of an encryption dictionary
    # and more "%%EOF" markers than the repair is allowed, all at the end: every whole-file
    # search runs to the last window.
    tail = b"/Encrypt 5 0 R\n" + b"%%EOF\n" * 1025
    head = b"%PDF-1.4\n"
    f.write(head)
    _random(f, size - len(head) - len(tail))
    f.write(tail)


# ---- text ----

def html_tags(f, size):
    # Nothing but tags: every tag end is searched from its '<'.
    count = size // 3
    _repeat(f, b"<a>", count)
    _repeat(f, b" ", size - 3 * count)


def html_comments(f, size):
    # Comments one after another: every comment end is searched from its opener.
    unit = b"<!-- c -->"
    f.write(b"<html>")
    count = (size - 6) // len(unit)
    _repeat(f, unit, count)
    _repeat(f, b" ", size - 6 - len(unit) * count)


def mail_headers(f, size):
    # One endless header block of continuation lines.
    head = b"From: a@example.org\nTo: b@example.org\nSubject: s\nX-Long: v\n"
    f.write(head)
    count = (size - len(head)) // 4
    _repeat(f, b" vv\n", count)
    _repeat(f, b" ", size - len(head) - 4 * count)


def calendar_lines(f, size):
    # A calendar of many tiny components.
    head = b"BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//x//y//EN\n"
    unit = b"BEGIN:VEVENT\nUID:1\nEND:VEVENT\n"
    tail = b"END:VCALENDAR\n"
    f.write(head)
    count = (size - len(head) - len(tail)) // len(unit)
    _repeat(f, unit, count)
    _repeat(f, b"\n", size - len(head) - len(tail) - len(unit) * count)
    f.write(tail)


# ---- executables and media ----

def pe_resource_names(f, size):
    # A resource directory whose 4096 named entries all point at one name of the largest length.
    entries = 4096
    rsrc_at = 0x400
    table = 16 + 8 * entries
    leaf_at = table
    name_at = leaf_at + 16
    rsrc = bytearray(b"\0" * 12 + le16(entries) + le16(0))
    for _ in range(entries):
        rsrc += le32(0x80000000 | name_at) + le32(leaf_at)
    rsrc += le32(0x1000) + le32(16) + le32(0) + le32(0)
    rsrc += le16(0xFFFF) + b"A\0" * 0xFFFF
    out = bytearray(b"MZ".ljust(0x40, b"\0"))
    out[60:64] = le32(0x40)
    out += b"PE\0\0" + le16(0x14C) + le16(1) + b"\0" * 12 + le16(0xE0) + le16(0x0102) + b"\0" * 0xE0
    out += b".rsrc\0\0\0" + le32(len(rsrc)) + le32(0x1000) + le32(len(rsrc)) + le32(rsrc_at) + b"\0" * 16
    out = out.ljust(rsrc_at, b"\0") + rsrc
    f.write(out)
    _random(f, size - len(out), seed=2)


def mp3_frames(f, size):
    # MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz: 417 bytes) back to back.
    frame = b"\xff\xfb\x90\x64" + bytes((i * 31) % 256 for i in range(413))
    count = size // len(frame)
    _repeat(f, frame, count)
    _zeros(f, size - len(frame) * count)


def random_bytes(f, size):
    _random(f, size, seed=7)


MIB = 1 << 20

CASES = [
    Case("zip-local-headers", "archive", ("zip_directory", "scan"), 0, zip_local_headers,
         "empty local headers, no end record: the forward walk"),
    Case("zip-directory", "archive", ("zip_directory", "scan"), 0, zip_directory,
         "up to 65535 central entries with long names: the name tests"),
    Case("xls-records", "office", ("compound_file", "scan"), MIB, xls_records,
         "empty Excel records without WINDOW1: the FILEPASS search"),
    Case("ppt-persist", "office", ("compound_file", "scan"), MIB, ppt_persist,
         "persist directory of zero heads: the encryption session lookup"),
    Case("mpp-compobj", "office", ("compound_file", "scan"), MIB, mpp_compobj,
         "CompObj length 0x7FFFFFF0, no zero byte: the project test"),
    Case("jtdc-stream", "office", ("compound_file", "scan"), 65 * MIB, jtdc_stream,
         "compressed-document stream over 64 MiB: the LZH test"),
    Case("pdf-damaged", "pdf", ("scan",), MIB, pdf_damaged,
         "damaged PDF naming Encrypt, 1025 %%EOF at the end: the whole-file searches"),
    Case("html-tags", "text", ("html_reader", "scan"), 0, html_tags, "nothing but <a>: the tag walk"),
    Case("html-comments", "text", ("html_reader", "scan"), 0, html_comments, "comments back to back"),
    Case("mail-headers", "text", ("mime_handler", "scan"), 0, mail_headers, "one endless header block"),
    Case("calendar-lines", "text", ("calendar_reader", "scan"), 0, calendar_lines, "many tiny components"),
    Case("pe-resource-names", "executable", ("pe_resources", "scan"), MIB, pe_resource_names,
         "4096 resource entries naming one 64 Ki-unit name"),
    Case("mp3-frames", "media", ("scan",), 0, mp3_frames, "MPEG audio frames back to back"),
]

RANDOM = Case("random", "reference", (), 0, random_bytes, "random bytes: what a file of this size costs")


def write_case(case, path, size):
    """Writes the case to path at max(size, case.min_size) bytes; answers the size."""
    size = max(size, case.min_size)
    with open(path, "wb") as f:
        case.write(f, size)
    actual = os.path.getsize(path)
    assert actual == size, "%s wrote %d bytes, not %d" % (case.name, actual, size)
    return size


def case_bytes(case, size):
    """The case as bytes at exactly size (below min_size it still has the worst shape, only
    not the size that makes it the worst case)."""
    import io
    buf = io.BytesIO()
    case.write(buf, size)
    return buf.getvalue()
