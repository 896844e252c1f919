#!/usr/bin/python3
"""Writes the conformance files that no Debian tool makes, and the text formats, byte by byte
(run through make_fixtures.sh, which passes the output directory and a scratch directory).

Each writer lays out the structure that the format's real writers produce, small but complete
where the format has a structure (headers, records, trailers), so that the engine is judged on
what it meets in the field.
"""
import binascii
import bz2
import os
import struct
import sys
import zlib

OUT = sys.argv[1]
WORK = sys.argv[2]


def put(name, data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def crc32(b):
    return binascii.crc32(b) & 0xFFFFFFFF


def read(path):
    with open(path, "rb") as f:
        return f.read()


# ---- RAR 4 and RAR 5 (stored member) ----

def rar4(volume=False):
    def block(htype, flags, body, add=b""):
        head = struct.pack("<BHH", htype, flags, 7 + len(body)) + body
        return struct.pack("<H", crc32(head) & 0xFFFF) + head + add

    data = b"conformance rar member\n"
    # Main header: volume (0x0001) and first volume (0x0100) for a multi-volume set.
    main = block(0x73, 0x0101 if volume else 0x0000, b"\x00\x00" + b"\x00\x00\x00\x00")
    name = b"member.txt"
    fbody = struct.pack("<IIBIIBBHI", len(data), len(data), 2, crc32(data), 0x58210000, 20, 0x30,
                        len(name), 0x20) + name
    # 0x8000: ADD_SIZE present; a member continued in the next volume also sets 0x0002.
    fileh = block(0x74, 0x8000 | (0x0002 if volume else 0), fbody, data)
    end = block(0x7B, 0x4000 | (0x0001 if volume else 0), b"")
    return b"Rar!\x1a\x07\x00" + main + fileh + end


def vint(n):
    out = bytearray()
    while True:
        b = n & 0x7F
        n >>= 7
        out.append(b | (0x80 if n else 0))
        if not n:
            return bytes(out)


def rar5(volume=False):
    def header(body):
        size = vint(len(body))
        return struct.pack("<I", crc32(size + body)) + size + body

    data = b"conformance rar5 member\n"
    # Archive flags: 0x0001 volume, 0x0002 volume number field present.
    main = header(vint(1) + vint(0) + (vint(0x0003) + vint(0) if volume else vint(0)))
    name = b"member.txt"
    # File header: type 2, flags 0x0002 (data area), data size; file flags 0x0004 (CRC32 present).
    fileb = (vint(2) + vint(0x0002) + vint(len(data)) + vint(0x0004) + vint(len(data)) + vint(0x20) +
             struct.pack("<I", crc32(data)) + vint(0) + vint(1) + vint(len(name)) + name)
    end = header(vint(5) + vint(0) + vint(0x0001 if volume else 0))
    return b"Rar!\x1a\x07\x01\x00" + main + header(fileb) + data + end


# ---- Outlook store headers ----

def pst(unicode):
    if unicode:
        h = bytearray(564 + 460)
        struct.pack_into("<4sI2sHHBB", h, 0, b"!BDN", 0, b"SM", 23, 19, 1, 1)
        h[512] = 0x80
        h[513] = 0x01
    else:
        h = bytearray(512 + 512)
        struct.pack_into("<4sI2sHHBB", h, 0, b"!BDN", 0, b"SM", 14, 19, 1, 1)
        h[460] = 0x80
        h[461] = 0x01
    return bytes(h)


# ---- Advanced Systems Format ----

ASF_HEADER = bytes.fromhex("3026B2758E66CF11A6D900AA0062CE6C")
ASF_FILE_PROPS = bytes.fromhex("A1DCAB8C47A9CF118EE400C00C205365")
ASF_CODEC_LIST = bytes.fromhex("4052D1861D31D011A3A400A0C90348F6")
ASF_DATA = bytes.fromhex("3626B2758E66CF11A6D900AA0062CE6C")


def asf(codecs):
    def obj(guid, body):
        return guid + struct.pack("<Q", 24 + len(body)) + body

    children = [obj(ASF_FILE_PROPS, bytes(16) + struct.pack("<QQQQQQIIII", 4096, 0, 1, 0, 0, 0, 2, 3200, 3200,
                                                               128000))]
    if codecs:
        entries = b""
        for kind, name in codecs:
            n = (name + "\0").encode("utf-16-le")
            entries += struct.pack("<HH", kind, len(n) // 2) + n + struct.pack("<H", 1) + b"\0\0" + \
                struct.pack("<H", 2) + b"\x61\x01"
        children.append(obj(ASF_CODEC_LIST, bytes(16) + struct.pack("<I", len(codecs)) + entries))
    body = b"".join(children)
    header = ASF_HEADER + struct.pack("<QIBB", 30 + len(body), len(children), 1, 2) + body
    data = ASF_DATA + struct.pack("<Q", 50 + 64) + bytes(16) + struct.pack("<QBB", 1, 1, 1) + bytes(64)
    return header + data


# ---- Broadcast subtitles ----

def pac():
    head = bytearray(24)
    head[0] = 0x01
    head[23] = 0x60
    body = b"\x00\x0a\x00\x14\x00\x00\x00\x00\x00\x00" + b"SUBTITLE ONE".ljust(32, b"\x00")
    trailer = b"\xff" + b"\x00" * 11 + b"\x11\x00" + b"dummy end of file"
    return bytes(head) + body + trailer


def s890():
    d = bytearray(1024)
    d[0:3] = b"\x00\x00\x00"
    d[176:176 + 16] = b"SUBTITLE TEXT   "
    d[172:176] = b"\x08\x90\x00\x00"
    return bytes(d)


# ---- Atari load file ----

def xex():
    code = bytes([0xA9, 0x00, 0x8D, 0xC6, 0x02, 0x60])
    seg1 = b"\xff\xff" + struct.pack("<HH", 0x2000, 0x2000 + len(code) - 1) + code
    run = struct.pack("<HH", 0x02E0, 0x02E1) + struct.pack("<H", 0x2000)
    return seg1 + run


# ---- SAP archive, PIM ----

def sar():
    name = b"member.txt"
    data = b"conformance sar member\n"
    entry = (b"RG" + struct.pack("<I", 0o100644) + struct.pack("<Q", len(data)) + bytes(8) +
             struct.pack("<QH", 0x65000000, len(name)) + name + b"DA" + struct.pack("<II", len(data), len(data)) +
             data)
    return b"CAR 2.01" + entry + b"ED" + struct.pack("<I", crc32(data))


def pim():
    out = b""
    for name, data in ((b"first.txt", b"first member\n"), (b"second.txt", b"second member data\n")):
        out += b"\x02PIM" + b"\x00\x00" + name + b"\x00" + struct.pack("<II", len(data), len(data)) + data
    return out


# ---- AutoCAD headers ----

def dwg(version):
    d = bytearray(256)
    d[0:6] = version
    d[6:11] = b"\x00" * 5
    d[11] = 0x0F  # maintenance release
    d[12] = 0x01
    struct.pack_into("<I", d, 13, 0x1C0)  # preview address
    d[17] = 0x21
    d[18] = 0x1F
    struct.pack_into("<H", d, 19, 30)  # code page
    return bytes(d)


def dwf():
    return b"(DWF V06.00)" + read(os.path.join(WORK, "dwf-payload.zip"))


def fas():
    body = b"\r\n FAS4-FILE ; Do not change it!\r\n" + b"26\r\n5 $\x14\x01\x01\x00\x00\x00\x00\x00" + bytes(64)
    return body


# ---- TNEF ----

def tnef():
    def attr(level, aid, data):
        return struct.pack("<BII", level, aid, len(data)) + data + struct.pack("<H", sum(data) & 0xFFFF)

    out = struct.pack("<IH", 0x223E9F78, 0x0C52)
    out += attr(1, 0x00089006, struct.pack("<I", 0x00010000))
    out += attr(1, 0x00069007, struct.pack("<II", 1252, 0))
    out += attr(1, 0x00078008, b"IPM.Microsoft Mail.Note\x00")
    return out


# ---- Windows executables ----

def pe(sections, overlay=b"", dll=False):
    """A PE32 image: DOS stub, file header, optional header and the given sections, each a
    (name, data, characteristics) triple laid out at 0x200-byte file alignment."""
    dos = bytearray(0x80)
    dos[0:2] = b"MZ"
    struct.pack_into("<HHHHHHHHHHHHHH", dos, 2, 0x90, 3, 0, 4, 0, 0xFFFF, 0, 0xB8, 0, 0, 0, 0x40, 0, 0)
    struct.pack_into("<I", dos, 60, 0x80)
    stub = b"\x0e\x1f\xba\x0e\x00\xb4\x09\xcd\x21\xb8\x01\x4c\xcd\x21This program cannot be run in DOS mode.\r\r\n$"
    dos[0x40:0x40 + len(stub)] = stub
    nsec = len(sections)
    opt = bytearray(0xE0)
    headers_size = 0x200
    raw = headers_size
    rva = 0x1000
    table = b""
    bodies = b""
    image = 0x1000
    for name, data, chars in sections:
        rawsize = (len(data) + 0x1FF) & ~0x1FF
        vsize = len(data)
        table += struct.pack("<8sIIIIIIHHI", name, vsize, rva, rawsize, raw, 0, 0, 0, 0, chars)
        bodies += data.ljust(rawsize, b"\x00")
        raw += rawsize
        rva += (vsize + 0xFFF) & ~0xFFF
        image = rva
    struct.pack_into("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", opt, 0, 0x10B, 14, 0, 0x200, 0, 0, 0x1000, 0x1000, 0x2000,
                     0x400000, 0x1000, 0x200, 6, 0, 0, 0, 6, 0, 0, image, headers_size, 0, 3, 0x8140,
                     0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    rva = 0x1000
    for name, data, chars in sections:
        if name.rstrip(b"\0") == b".rsrc":
            struct.pack_into("<II", opt, 96 + 2 * 8, rva, len(data))
        rva += (len(data) + 0xFFF) & ~0xFFF
    fh = b"PE\x00\x00" + struct.pack("<HHIIIHH", 0x14C, nsec, 0x65000000, 0, 0, 0xE0, 0x2102 if dll else 0x0102)
    head = bytes(dos) + fh + bytes(opt) + table
    return head.ljust(headers_size, b"\x00") + bodies + overlay


TEXT = (".text\0\0\0".encode(), bytes([0x31, 0xC0, 0xC3]) + bytes(29), 0x60000020)


def rsrc_section(rva, payload):
    """A resource section holding one RCDATA (type 10) resource, id 1, language 0x409."""
    def dir_(n_id):
        return struct.pack("<IIHHHH", 0, 0, 4, 0, 0, n_id)

    root = dir_(1) + struct.pack("<II", 10, 0x80000000 | 0x18)
    name = dir_(1) + struct.pack("<II", 1, 0x80000000 | 0x30)
    lang = dir_(1) + struct.pack("<II", 0x409, 0x48)
    data_off = 0x58
    entry = struct.pack("<IIII", rva + data_off, len(payload), 1252, 0)
    return root + name + lang + entry + payload


def macho_universal():
    """A two-architecture bundle as the platform's linker leaves it: the fat header, then a
    32-bit and a 64-bit Mach-O header at 4 KiB boundaries."""
    thin32 = struct.pack("<IiiIIII", 0xFEEDFACE, 7, 3, 8, 0, 0, 0x85)
    thin64 = struct.pack("<IiiIIIII", 0xFEEDFACF, 0x01000007, 3, 8, 0, 0, 0x85, 0)
    fat = struct.pack(">II", 0xCAFEBABE, 2)
    fat += struct.pack(">iiIII", 7, 3, 4096, len(thin32), 12)
    fat += struct.pack(">iiIII", 0x01000007, 3, 8192, len(thin64), 12)
    return fat.ljust(4096, b"\x00") + thin32.ljust(4096, b"\x00") + thin64


# ---- Disk images and other containers ----

def koly_trailer():
    t = bytearray(512)
    t[0:4] = b"koly"
    struct.pack_into(">III", t, 4, 4, 512, 1)
    return bytes(t)


def dmg():
    payload = bz2.compress(b"conformance disk image payload\n" * 64)
    return payload.ljust(4096, b"\x00") + koly_trailer()


def atr():
    sectors = 16
    body = bytearray(sectors * 128)
    body[0:6] = b"\x00\x03\x00\x07\x40\x15"
    paragraphs = len(body) // 16
    head = struct.pack("<HHHHB", 0x0296, paragraphs & 0xFFFF, 128, paragraphs >> 16, 0) + bytes(7)
    return head + bytes(body)


def vhd():
    footer = bytearray(512)
    footer[0:8] = b"conectix"
    struct.pack_into(">IIQI4sI4s", footer, 8, 2, 0x00010000, 0xFFFFFFFFFFFFFFFF, 0x2D000000, b"kivc", 0x00010000,
                     b"Wi2k")
    struct.pack_into(">QQI", footer, 40, 8192, 8192, 0x00100111)
    struct.pack_into(">I", footer, 60, 2)
    csum = (~sum(footer)) & 0xFFFFFFFF
    struct.pack_into(">I", footer, 64, csum)
    return bytes(8192) + bytes(footer)


def vdi():
    h = bytearray(512)
    text = b"<<< Oracle VM VirtualBox Disk Image >>>\n"
    h[0:len(text)] = text
    struct.pack_into("<IHH", h, 0x40, 0xBEDA107F, 1, 1)
    struct.pack_into("<I", h, 0x48, 400)
    struct.pack_into("<II", h, 0x4C, 1, 0)
    return bytes(h)


def chm():
    h = bytearray(0x60)
    h[0:4] = b"ITSF"
    struct.pack_into("<III", h, 4, 3, 0x60, 1)
    return bytes(h) + bytes(0x60)


def xar():
    toc = zlib.compress(b"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xar><toc></toc></xar>\n")
    return b"xar!" + struct.pack(">HHQQI", 28, 1, len(toc), 4096, 1) + toc


def lzh():
    data = b"conformance lzh member\n"
    name = b"member.txt"
    body = (b"-lh0-" + struct.pack("<IIIBBB", len(data), len(data), 0x58210000, 0x20, 0, len(name)) + name +
            struct.pack("<H", binascii.crc_hqx(data, 0)))
    hdr = bytes([len(body), sum(body) & 0xFF]) + body
    return hdr + data + b"\x00"


def arc():
    data = b"conformance arc member\n"
    name = b"MEMBER.TXT".ljust(13, b"\x00")
    return b"\x1a\x02" + name + struct.pack("<IHHHI", len(data), 0, 0, 0, len(data)) + data + b"\x1a\x00"


def mbr():
    d = bytearray(2048)
    d[0:3] = b"\xeb\x63\x90"
    d[446] = 0x80
    d[446 + 4] = 0x0C
    struct.pack_into("<II", d, 446 + 8, 2048, 20480)
    d[510:512] = b"\x55\xaa"
    return bytes(d)


def hfsplus():
    d = bytearray(4096)
    d[1024:1026] = b"H+"
    struct.pack_into(">HI4s", d, 1026, 4, 0x100, b"10.0")
    return bytes(d)


def cdbin():
    out = b""
    for i in range(2):
        s = bytearray(2352)
        s[0:12] = b"\x00" + b"\xff" * 10 + b"\x00"
        s[12:15] = bytes([0x00, 0x02, i])
        s[15] = 1
        s[16:32] = b"CONFORMANCE DATA"
        out += bytes(s)
    return out


def rpm_lead():
    lead = bytearray(96)
    lead[0:4] = b"\xed\xab\xee\xdb"
    lead[4] = 3
    lead[5] = 0
    struct.pack_into(">HH", lead, 6, 0, 1)
    lead[10:10 + 16] = b"conformance-1.0-1"[:16]
    struct.pack_into(">HH", lead, 76, 1, 5)
    sig = b"\x8e\xad\xe8\x01" + bytes(4) + struct.pack(">II", 0, 0)
    return bytes(lead) + sig + bytes(16)


def cfb_marker():
    d = bytearray(1024)
    d[0:8] = b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"
    d[-14:] = b"!NOT MSG FILE!"
    return bytes(d)


def gzip_marker():
    import gzip
    return gzip.compress(b"conformance marker stream\n" * 40, mtime=0) + bytes(600) + b"!NOT MSG FILE!"


# ---- Media containers that only the generic stage can name ----

def box(kind, body):
    return struct.pack(">I", 8 + len(body)) + kind + body


def isobmff(brand, compat):
    ftyp = box(b"ftyp", brand + struct.pack(">I", 0) + b"".join(compat))
    mvhd = box(b"mvhd", bytes(4) + struct.pack(">IIII", 0, 0, 1000, 0) + struct.pack(">IH", 0x00010000, 0x0100) +
               bytes(10) + struct.pack(">9I", 0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000) + bytes(24) +
               struct.pack(">I", 2))
    return ftyp + box(b"moov", mvhd) + box(b"mdat", bytes(64))


def mpeg_ps():
    pack = b"\x00\x00\x01\xba" + bytes([0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xc3, 0xf8])
    seq = b"\x00\x00\x01\xb3" + bytes([0x14, 0x00, 0xf0, 0x13, 0xff, 0xff, 0xe0, 0x18])
    pes = b"\x00\x00\x01\xe0" + struct.pack(">H", len(seq) + 3) + b"\x81\x00\x00" + seq
    return (pack + pes) * 8 + b"\x00\x00\x01\xb9"


def mpeg_video():
    seq = b"\x00\x00\x01\xb3" + bytes([0x14, 0x00, 0xf0, 0x13, 0xff, 0xff, 0xe0, 0x18])
    gop = b"\x00\x00\x01\xb8" + bytes([0x00, 0x08, 0x00, 0x00])
    pic = b"\x00\x00\x01\x00" + bytes([0x00, 0x0f, 0xff, 0xf8]) + bytes(32)
    return seq + gop + pic * 4 + b"\x00\x00\x01\xb7"


def cdxa():
    fmt = b"fmt " + struct.pack("<I", 16) + bytes(16)
    data = b"data" + struct.pack("<I", 2352) + bytes(2352)
    body = b"CDXA" + fmt + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def png_stereo():
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc32(kind + data))

    rows = b"".join(b"\x00" + bytes(12) for _ in range(2))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 4, 2, 8, 2, 0, 0, 0)) +
            chunk(b"sTER", b"\x00") + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def pdf(extra=b""):
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"]
    if extra:
        objs.append(extra)
    out = b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n"
    offs = []
    for i, o in enumerate(objs, 1):
        offs.append(len(out))
        out += b"%d 0 obj\n" % i + o + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offs)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    return out


def hwp3():
    """HWP 3.0: the 30-byte signature, the document information block (128 bytes) and the
    summary block (1008 bytes), then a paragraph area."""
    sig = b"HWP Document File V3.00 \x1a\x01\x02\x03\x04\x05"
    info = bytearray(128)
    struct.pack_into("<HH", info, 0, 0, 0)      # cursor line and column
    struct.pack_into("<H", info, 124, 0)         # no compression
    summary = "Conformance".encode("utf-16-le").ljust(112, b"\0").ljust(1008, b"\0")
    return sig + bytes(info) + summary + bytes(64)


def ne_exe():
    """A 16-bit Windows program: MZ stub with the new-header offset, then an NE header for
    Windows 3.10 (linker 5.10, target OS 2, fast-load flag)."""
    stub = bytearray(0x40)
    stub[0:2] = b"MZ"
    struct.pack_into("<HHHHHHHHHHHH", stub, 2, 0x90, 3, 0, 4, 0, 0xFFFF, 0, 0xB8, 0, 0, 0, 0x40)
    struct.pack_into("<I", stub, 0x3C, 0x80)
    code = b"\x0e\x1f\xba\x0e\x00\xb4\x09\xcd\x21\xb8\x01\x4c\xcd\x21This program requires Microsoft Windows.\r\n$"
    stub = (bytes(stub) + code).ljust(0x80, b"\0")
    ne = bytearray(0x40)
    ne[0:4] = b"NE\x05\x0a"
    struct.pack_into("<H", ne, 0x0C, 0x0302)
    ne[0x36] = 2
    ne[0x37] = 0x08
    struct.pack_into("<H", ne, 0x3E, 0x030A)
    return stub + bytes(ne) + bytes(256)


# ---- Text formats ----

EML = """Return-Path: <alice@example.org>
Received: from mail.example.org (mail.example.org [192.0.2.10])
\tby mx.example.net with ESMTP id 4F2A1; Tue, 2 Jan 2024 10:00:00 +0000
Message-ID: <20240102100000.4F2A1@example.org>
Date: Tue, 2 Jan 2024 10:00:00 +0000
From: Alice Example <alice@example.org>
To: Bob Example <bob@example.net>
Subject: Conformance message
MIME-Version: 1.0
Content-Type: text/plain; charset="utf-8"
Content-Transfer-Encoding: 7bit

Hello Bob,

this is a plain mail message.

Alice
"""

EML_MULTIPART = """From: Alice Example <alice@example.org>
To: Bob Example <bob@example.net>
Subject: Report attached
Date: Tue, 2 Jan 2024 11:00:00 +0000
Message-ID: <20240102110000.77@example.org>
MIME-Version: 1.0
Content-Type: multipart/mixed;
\tboundary="----=_Part_0_1234"

This is a multi-part message in MIME format.

------=_Part_0_1234
Content-Type: text/plain; charset=us-ascii
Content-Transfer-Encoding: 7bit

See the attachment.

------=_Part_0_1234
Content-Type: application/octet-stream; name="data.bin"
Content-Transfer-Encoding: base64
Content-Disposition: attachment; filename="data.bin"

AAECAwQFBgcICQoLDA0ODw==

------=_Part_0_1234--
"""

MHT = """From: <Saved by Blink>
Snapshot-Content-Location: https://example.org/page.html
Subject: Conformance page
Date: Tue, 2 Jan 2024 12:00:00 -0000
MIME-Version: 1.0
Content-Type: multipart/related;
\ttype="text/html";
\tboundary="----MultipartBoundary--abc123----"

------MultipartBoundary--abc123----
Content-Type: text/html
Content-ID: <frame-1@mhtml.blink>
Content-Transfer-Encoding: quoted-printable
Content-Location: https://example.org/page.html

<html><head><title>Page</title></head><body><p>Saved page</p></body></html>

------MultipartBoundary--abc123------
"""

ICS = """BEGIN:VCALENDAR\r
VERSION:2.0\r
PRODID:-//Example//Conformance//EN\r
CALSCALE:GREGORIAN\r
BEGIN:VEVENT\r
UID:20240102T100000Z-1@example.org\r
DTSTAMP:20240102T100000Z\r
DTSTART:20240110T090000Z\r
DTEND:20240110T100000Z\r
SUMMARY:Conformance meeting\r
END:VEVENT\r
END:VCALENDAR\r
"""

VCS = """BEGIN:VCALENDAR\r
PRODID:-//Example//Conformance//EN\r
VERSION:1.0\r
BEGIN:VEVENT\r
UID:040000008200E00074C5B7101A82E008000000001\r
DTSTART:20240110T090000Z\r
DTEND:20240110T100000Z\r
SUMMARY:Old style event\r
END:VEVENT\r
END:VCALENDAR\r
"""

ICS_TZ = """BEGIN:VCALENDAR\r
PRODID:-//Example Corp.//Calendar 1.0//EN\r
VERSION:2.0\r
METHOD:PUBLISH\r
X-WR-CALNAME:Conformance\r
BEGIN:VTIMEZONE\r
TZID:Europe/Berlin\r
BEGIN:DAYLIGHT\r
TZOFFSETFROM:+0100\r
TZOFFSETTO:+0200\r
DTSTART:19700329T020000\r
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r
END:DAYLIGHT\r
BEGIN:STANDARD\r
TZOFFSETFROM:+0200\r
TZOFFSETTO:+0100\r
DTSTART:19701025T030000\r
RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r
END:STANDARD\r
END:VTIMEZONE\r
BEGIN:VEVENT\r
UID:7f3a1c2e-1111-4c2b-9d3e-000000000001\r
DTSTAMP:20240102T100000Z\r
DTSTART;TZID=Europe/Berlin:20240110T090000\r
DTEND;TZID=Europe/Berlin:20240110T100000\r
SUMMARY:Planning\r
DESCRIPTION:A long description that a calendar program folds onto a second\r
  line as the format asks.\r
BEGIN:VALARM\r
ACTION:DISPLAY\r
TRIGGER:-PT15M\r
END:VALARM\r
END:VEVENT\r
END:VCALENDAR\r
"""

HTML = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Conformance page</title>
</head>
<body>
<h1>Heading</h1>
<p>A paragraph with a <a href="https://example.org/">link</a>.</p>
<ul><li>one</li><li>two</li></ul>
</body>
</html>
"""

XHTML = """<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Strict//EN" "http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd">
<html xmlns="http://www.w3.org/1999/xhtml">
<head><title>XHTML page</title></head>
<body><p>Text <b>bold</b></p><div><span>x</span></div></body>
</html>
"""

XML = """<?xml version="1.0" encoding="UTF-8"?>
<inventory>
  <item id="1"><name>Bolt</name><count>12</count></item>
  <item id="2"><name>Nut</name><count>40</count></item>
</inventory>
"""

SVG = """<?xml version="1.0" encoding="UTF-8" standalone="no"?>
<svg xmlns="http://www.w3.org/2000/svg" width="100" height="100" viewBox="0 0 100 100">
  <rect x="10" y="10" width="80" height="80" fill="#36c"/>
  <circle cx="50" cy="50" r="20" fill="#fc3"/>
</svg>
"""

SVG_NODECL = """<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"><g><rect width="5" height="5"/></g></svg>
"""

RSS = """<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0">
<channel>
<title>Conformance feed</title>
<link>https://example.org/</link>
<description>Feed</description>
<item><title>Entry</title><link>https://example.org/1</link></item>
</channel>
</rss>
"""

ATOM = """<?xml version="1.0" encoding="utf-8"?>
<feed xmlns="http://www.w3.org/2005/Atom">
  <title>Conformance feed</title>
  <id>urn:uuid:60a76c80-d399-11d9-b93C-0003939e0af6</id>
  <updated>2024-01-02T10:00:00Z</updated>
  <entry><title>Entry</title><id>urn:uuid:1</id><updated>2024-01-02T10:00:00Z</updated></entry>
</feed>
"""

KML = """<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2">
  <Placemark><name>Point</name><Point><coordinates>13.4,52.5,0</coordinates></Point></Placemark>
</kml>
"""

GPX = """<?xml version="1.0" encoding="UTF-8"?>
<gpx version="1.1" creator="conformance" xmlns="http://www.topografix.com/GPX/1/1">
  <wpt lat="52.5" lon="13.4"><name>Point</name></wpt>
</gpx>
"""

RDF = """<?xml version="1.0"?>
<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#" xmlns:dc="http://purl.org/dc/elements/1.1/">
  <rdf:Description rdf:about="https://example.org/"><dc:title>Example</dc:title></rdf:Description>
</rdf:RDF>
"""

RELS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties" Target="docProps/core.xml"/></Relationships>
"""

AIML = """<?xml version="1.0" encoding="UTF-8"?>
<aiml version="2.0">
  <category><pattern>HELLO</pattern><template>Hi there</template></category>
</aiml>
"""

ZIR = """<?xml version="1.0" encoding="UTF-8"?>
<CaR>
<Construction>
<Objects>
<Point name="A" x="1.0" y="2.0">Point at 1, 2</Point>
</Objects>
</Construction>
</CaR>
"""

DAE = """<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
  <asset><created>2024-01-02T10:00:00</created><modified>2024-01-02T10:00:00</modified></asset>
  <scene/>
</COLLADA>
"""

VDX = """<?xml version="1.0" encoding="utf-8"?>
<VisioDocument xmlns="http://schemas.microsoft.com/visio/2003/core">
<DocumentProperties><Creator>conformance</Creator></DocumentProperties>
<Pages><Page ID="0"><Shapes/></Page></Pages>
</VisioDocument>
"""

VML = """<xml xmlns:v="urn:schemas-microsoft-com:vml" xmlns:o="urn:schemas-microsoft-com:office:office">
 <o:shapelayout v:ext="edit"><o:idmap v:ext="edit" data="1"/></o:shapelayout>
 <v:shapetype id="_x0000_t202" coordsize="21600,21600" o:spt="202" path="m,l,21600r21600,l21600,xe">
  <v:stroke joinstyle="miter"/><v:path gradientshapeok="t" o:connecttype="rect"/>
 </v:shapetype>
 <v:shape id="_x0000_s1025" type="#_x0000_t202" style="position:absolute"><v:fill color2="#ffffe1"/></v:shape>
</xml>
"""

XSD = """<?xml version="1.0" encoding="UTF-8"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="note" type="xs:string"/>
</xs:schema>
"""

TXT = "Plain conformance text.\nSecond line of ordinary ASCII words.\n"
TXT_UTF8 = "Grüße aus Köln — ünïcödé text.\nZweite Zeile.\n"
CSV = "name,count,price\nbolt,12,0.10\nnut,40,0.05\nwasher,100,0.01\n"
JSON = '{"name": "conformance", "items": [1, 2, 3], "nested": {"ok": true}}\n'
INI = "[general]\nname=conformance\nlevel=3\n\n[paths]\ndata=/var/lib/example\n"
SH = "#!/bin/sh\n# conformance script\nset -eu\necho \"hello\"\n"
PY = "#!/usr/bin/env python3\n\"\"\"Conformance script.\"\"\"\n\n\ndef main():\n    print(\"hello\")\n\n\nmain()\n"
PHP = "<?php\n// conformance page\n$name = 'world';\necho \"Hello $name\";\n?>\n"
VBS = "' conformance script\nDim message\nmessage = \"Hello\"\nWScript.Echo message\n"
PS1 = "# conformance script\nparam([string]$Name = 'world')\nWrite-Output \"Hello $Name\"\n"
PS1_COMMENTS = """# Backup.ps1: copies the day's logs to the archive share.
# Usage: .\\Backup.ps1 -Source C:\\Logs
[CmdletBinding()]
param (
    [string]$Source = 'C:\\Logs',
    [string]$Target = '\\\\archive\\logs'
)
Copy-Item -Path $Source -Destination $Target -Recurse
"""
PS1_BLOCK = """<#
    Says hello to the given name.
#>
Param(
    [Parameter(Mandatory = $true)]
    [string]$Name
)
Write-Output "Hello, $Name"
"""
PS1_PARAM = "param (\n    [string]$Name = 'World'\n)\nWrite-Host \"Hello, $Name\"\n"
VBS_OBJECT = ('Set fso = CreateObject("Scripting.FileSystemObject")\r\n'
              'Set log = fso.OpenTextFile("C:\\log.txt", 8, True)\r\nlog.WriteLine Now\r\nlog.Close\r\n')
PHP_CLI = "#!/usr/bin/env php\n<?php\n// conformance command-line script\necho \"Hello\\n\";\n"
GLADE = """<?xml version="1.0" encoding="UTF-8"?>
<!-- Generated with glade 3.40.0 -->
<interface>
  <requires lib="gtk+" version="3.24"/>
  <object class="GtkWindow" id="main_window">
    <property name="can-focus">False</property>
    <property name="title" translatable="yes">Conformance</property>
    <child>
      <object class="GtkButton" id="ok_button">
        <property name="label" translatable="yes">OK</property>
        <property name="visible">True</property>
      </object>
    </child>
  </object>
</interface>
"""
RSS_SELF = """<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0" xmlns:atom="http://www.w3.org/2005/Atom">
<channel>
<title>Conformance feed</title>
<link>https://example.org/</link>
<atom:link href="https://example.org/feed.rss" rel="self" type="application/rss+xml"/>
<description>Feed</description>
<item><title>Entry</title><link>https://example.org/1</link><guid>https://example.org/1</guid></item>
</channel>
</rss>
"""
C_UTF8 = "/* Grüße: conformance source */\n#include <stdio.h>\n\nint main(void)\n{\n    puts(\"Grüße\");\n    return 0;\n}\n"
SLN = ("\ufeff\r\nMicrosoft Visual Studio Solution File, Format Version 12.00\r\n# Visual Studio Version 17\r\n"
       "VisualStudioVersion = 17.0.31903.59\r\nMinimumVisualStudioVersion = 10.0.40219.1\r\nGlobal\r\nEndGlobal\r\n")


def main():
    os.makedirs(OUT, exist_ok=True)
    put("rar4.rar", rar4())
    put("rar4-first-volume.rar", rar4(volume=True))
    put("rar5.rar", rar5())
    put("rar5-first-volume.rar", rar5(volume=True))
    put("outlook-ansi.pst", pst(False))
    put("outlook-unicode.pst", pst(True))
    put("audio.wma", asf([(2, "Windows Media Audio 9.2")]))
    put("video.wmv", asf([(2, "Windows Media Audio 9.2"), (1, "Windows Media Video 9")]))
    put("stream.asf", asf([]))
    put("subtitle.pac", pac())
    put("subtitle.890", s890())
    put("atari.xex", xex())
    put("archive.sar", sar())
    put("archive.pim", pim())
    put("drawing-2018.dwg", dwg(b"AC1032"))
    put("drawing-2000.dwg", dwg(b"AC1015"))
    put("drawing.dwf", dwf())
    put("lisp.fas", fas())
    put("winmail.dat", tnef())
    put("plain.exe", pe([TEXT]))
    put("library.dll", pe([TEXT], dll=True))
    put("universal.bundle", macho_universal())
    put("sfx-7z.exe", pe([TEXT], read(os.path.join(WORK, "payload.7z"))))
    put("sfx-zip.exe", pe([TEXT], read(os.path.join(WORK, "payload.zip"))))
    put("sfx-rar.exe", pe([TEXT], rar5()))
    put("sfx-cab.exe", pe([TEXT, (b".rsrc\0\0\0", rsrc_section(0x2000, read(os.path.join(WORK, "payload.cab"))),
                                  0x40000040)]))
    put("image.dmg", dmg())
    put("floppy.atr", atr())
    put("disk.vhd", vhd())
    put("disk.vdi", vdi())
    put("help.chm", chm())
    put("archive.xar", xar())
    put("archive.lzh", lzh())
    put("archive.arc", arc())
    put("bootsector.img", mbr())
    put("volume.hfs", hfsplus())
    put("track.bin", cdbin())
    put("package.rpm", rpm_lead())
    put("stream.zlib", zlib.compress(b"conformance zlib stream\n" * 20, 9))
    put("marked-compound.bin", cfb_marker())
    put("marked-stream.gz", gzip_marker())
    put("movie.mp4", isobmff(b"isom", [b"isom", b"iso2", b"avc1", b"mp41"]))
    put("audio.m4a", isobmff(b"M4A ", [b"M4A ", b"mp42", b"isom"]))
    put("book.m4b", isobmff(b"M4B ", [b"M4B ", b"mp42", b"isom"]))
    put("clip.3gp", isobmff(b"3gp5", [b"3gp5", b"isom"]))
    put("clip.3g2", isobmff(b"3g2a", [b"3g2a"]))
    put("movie.mov", isobmff(b"qt  ", [b"qt  "]))
    put("video.m4v", isobmff(b"M4V ", [b"M4V ", b"M4A ", b"mp42", b"isom"]))
    put("program.mpg", mpeg_ps())
    put("video.m2v", mpeg_video())
    put("track.dat", cdxa())
    put("stereo.pns", png_stereo())
    put("illustration.ai", pdf(b"<< /AIMetaData 5 0 R /Creator (conformance) >>"))
    put("bad-version.pdf", b"%PDF-x.y\n" + pdf()[9:])
    put("short-version.pdf", b"%PDF-1.\n" + pdf()[9:])
    put("document.hwp", hwp3())
    put("program16.exe", ne_exe())
    # Text formats.
    put("message.eml", EML.replace("\n", "\r\n"))
    put("multipart.eml", EML_MULTIPART)
    put("page.mht", MHT.replace("\n", "\r\n"))
    put("event.ics", ICS)
    put("event.vcs", VCS)
    put("event-timezone.ics", ICS_TZ)
    put("bom.html", b"\xef\xbb\xbf" + HTML.encode("utf-8"))
    put("readme.md", "# Conformance\n\nA short *markdown* note with a [link](https://example.org/).\n")
    put("page.html", HTML)
    put("page.xhtml", XHTML)
    put("data.xml", XML)
    put("drawing.svg", SVG)
    put("bare.svg", SVG_NODECL)
    put("feed.rss", RSS)
    put("feed.atom", ATOM)
    put("places.kml", KML)
    put("track.gpx", GPX)
    put("meta.rdf", RDF)
    put("package.rels", RELS)
    put("bot.aiml", AIML)
    put("construction.zir", ZIR)
    put("model.dae", DAE)
    put("drawing.vdx", VDX)
    put("shapes.vml", VML)
    put("schema.xsd", XSD)
    put("plain.txt", TXT)
    put("utf8.txt", TXT_UTF8)
    put("utf16.txt", b"\xff\xfe" + TXT.encode("utf-16-le"))
    put("table.csv", CSV)
    put("data.json", JSON)
    put("settings.ini", INI)
    put("script.sh", SH)
    put("script.py", PY)
    put("page.php", PHP)
    put("script.vbs", VBS)
    put("script.ps1", PS1)
    put("solution.sln", SLN.encode("utf-8"))
    put("script-comments.ps1", PS1_COMMENTS)
    put("script-block.ps1", PS1_BLOCK)
    put("script-param.ps1", PS1_PARAM)
    put("script-object.vbs", VBS_OBJECT)
    put("script-cli.php", PHP_CLI)
    put("window.glade", GLADE)
    put("feed-self.rss", RSS_SELF)
    put("source-utf8.c", C_UTF8)
    put("tags.txt", "Tags: ID3\n")
    # Awkward names and contents.
    put("empty", b"")
    put("empty.doc", b"")
    put("truncated.png", b"\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00")
    put("truncated.zip", b"PK\x03\x04\x14\x00")
    put("truncated.pdf", b"%PDF-1")
    put("truncated.gz", b"\x1f\x8b")
    put("html-named.txt", HTML)
    put("text-named.csv", TXT)
    put("mail-named.mht", EML.replace("\n", "\r\n"))
    put("archive-page.eml", MHT.replace("\n", "\r\n"))


main()
