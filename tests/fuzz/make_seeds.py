#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target, one directory per target:

    python3 tests/fuzz/make_seeds.py OUTDIR [--qrixdefs PATH] [--tools]

The files mirror the unit tests' fixtures: they are built byte by byte here (compound files,
PE resources, definitions packages, markup, mail, calendars, configuration, archives and
media headers of every family), plus the project's samples (tools/kivscan/generate_samples.py)
and the office fixtures written by a real office suite (tests/formats/office/fixtures/real),
and the costliest shape of each walk at the targets' 1 MiB input cap (hostile_files.py).
--qrixdefs adds the compiled definitions package. --tools also writes files made by the
Debian tools of tools/bootstrap.sh (7za, zip, gcab, genisoimage, convert, lame), skipping any
that is missing; without it the output is the same on every machine, which CTest relies on.

family_files() is shared with the benchmark (bench/make_corpus.py), which asks for many
variants of each family.
"""
import bz2
import gzip
import importlib.util
import io
import lzma
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def _load_samples():
    path = os.path.join(ROOT, "tools", "kivscan", "generate_samples.py")
    spec = importlib.util.spec_from_file_location("kiv_generate_samples", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


SAMPLES = _load_samples()
sys.path.insert(0, HERE)
import hostile_files  # noqa: E402

# The targets' input cap (kMaxInput): the costliest shapes are written at this size.
FUZZ_INPUT_CAP = 1 << 20
le16 = lambda v: struct.pack("<H", v & 0xFFFF)
le32 = lambda v: struct.pack("<I", v & 0xFFFFFFFF)


# ---- compound files (version 3, 512-byte sectors, short streams in the mini stream) ----

ENDOFCHAIN, FREESECT, FATSECT = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD


def cfb(streams, root_clsid=b"\0" * 16):
    """streams: list of (name, bytes); the root's children, chained by right siblings."""
    sector = 512
    mini_streams = [(n, d) for n, d in streams if len(d) < 4096]
    big_streams = [(n, d) for n, d in streams if len(d) >= 4096]

    def sectors(n, size=sector):
        return (n + size - 1) // size

    # Mini stream: 64-byte short sectors, one chain per short stream.
    container = b""
    minifat = []
    mini_start = {}
    for name, data in mini_streams:
        count = max(1, sectors(len(data), 64))
        first = len(minifat)
        mini_start[name] = first
        minifat += [first + i + 1 for i in range(count - 1)] + [ENDOFCHAIN]
        container += data.ljust(count * 64, b"\0")
    entries = 1 + len(streams)
    n_dir = sectors(entries * 128)
    n_minifat = sectors(len(minifat) * 4) if minifat else 0
    n_container = sectors(len(container))
    big_counts = [max(1, sectors(len(d))) for _, d in big_streams]
    body = n_dir + n_minifat + n_container + sum(big_counts)
    n_fat = 1
    while n_fat * 128 < n_fat + body:
        n_fat += 1
    fat = [FATSECT] * n_fat
    chains = {}

    def chain(count):
        first = len(fat)
        fat.extend([first + i + 1 for i in range(count - 1)] + [ENDOFCHAIN])
        return first

    dir_first = chain(n_dir)
    minifat_first = chain(n_minifat) if n_minifat else ENDOFCHAIN
    container_first = chain(n_container) if n_container else ENDOFCHAIN
    for (name, _), count in zip(big_streams, big_counts):
        chains[name] = chain(count)
    fat += [FREESECT] * (n_fat * 128 - len(fat))

    def entry(name, kind, start, size, child=FREESECT, right=FREESECT, clsid=b"\0" * 16):
        units = name.encode("utf-16-le")[:62]
        e = units.ljust(64, b"\0") + le16(len(units) + 2) + bytes([kind, 1])
        e += le32(FREESECT) + le32(right) + le32(child) + clsid + b"\0" * 20
        return e + le32(start) + le32(size) + le32(0)

    directory = entry("Root Entry", 5, container_first, len(container), child=1 if streams else FREESECT,
                      clsid=root_clsid)
    for i, (name, data) in enumerate(streams, 1):
        start = mini_start[name] if len(data) < 4096 else chains[name]
        directory += entry(name, 2, start, len(data), right=i + 1 if i < len(streams) else FREESECT)
    directory = directory.ljust(n_dir * sector, b"\0")

    header = bytes.fromhex("D0CF11E0A1B11AE1") + b"\0" * 16 + le16(0x3E) + le16(3) + le16(0xFFFE)
    header += le16(9) + le16(6) + b"\0" * 6 + le32(0) + le32(n_fat) + le32(dir_first) + le32(0)
    header += le32(4096) + le32(minifat_first) + le32(n_minifat) + le32(ENDOFCHAIN) + le32(0)
    difat = list(range(n_fat)) + [FREESECT] * (109 - n_fat)
    header += b"".join(le32(v) for v in difat)
    out = header + b"".join(le32(v) for v in fat) + directory
    out += b"".join(le32(v) for v in minifat).ljust(n_minifat * sector, b"\xff")
    out += container.ljust(n_container * sector, b"\0")
    for (_, data), count in zip(big_streams, big_counts):
        out += data.ljust(count * sector, b"\0")
    return out


def word_fib(encrypted=False, template=False):
    # FIB: wIdent A5EC, nFib 0xC1, flags at 0x0A (fDot 0x0001, fEncrypted 0x0100).
    flags = (0x0100 if encrypted else 0) | (0x0001 if template else 0)
    return (le16(0xA5EC) + le16(0xC1) + le16(0) + le16(0x0409) + le16(0) + le16(flags)).ljust(4096, b"\0")


def biff_record(kind, data):
    return le16(kind) + le16(len(data)) + data


def workbook(filepass=None):
    # BOF (0x0809) of a workbook globals substream (dt 0x0005), optionally FILEPASS (0x002F), EOF.
    out = biff_record(0x0809, le16(0x0600) + le16(0x0005) + b"\0" * 12)
    if filepass is not None:
        out += biff_record(0x002F, filepass)
    return out + biff_record(0x000A, b"")


def cfb_documents():
    rc4 = le16(1) + le16(1) + le16(1) + bytes(range(16)) + bytes(range(16, 32)) + bytes(range(32, 48))
    return {
        "word.doc": cfb([("WordDocument", word_fib()), ("1Table", b"\0" * 600)]),
        "word-encrypted.doc": cfb([("WordDocument", word_fib(encrypted=True)), ("1Table", b"\0" * 600)]),
        "word-template.dot": cfb([("WordDocument", word_fib(template=True))]),
        "excel.xls": cfb([("Workbook", workbook())]),
        "excel-rc4.xls": cfb([("Workbook", workbook(rc4))]),
        "powerpoint.ppt": cfb([("PowerPoint Document", b"\0" * 5000), ("Current User", b"\0" * 64)]),
        "installer.msi": cfb([("\u4840\u3b3f", b"x" * 100)],
                             root_clsid=bytes.fromhex("8410 0C00 0000 0000 C000 0000 0000 0046".replace(" ", ""))),
        "encrypted-package.docx": cfb([("EncryptionInfo", le16(4) + le16(4) + b"\0" * 200),
                                       ("EncryptedPackage", b"\0" * 5000)]),
        "empty-storage.cfb": cfb([]),
    }


# ---- PE images with a resource section (the layout of the archive tests' makePE) ----

def pe(sections):
    """sections: list of (name, virtual address, raw pointer, body)."""
    out = bytearray(b"MZ".ljust(0x40, b"\0"))
    out[60:64] = le32(0x40)
    out += b"PE\0\0" + le16(0x14C) + le16(len(sections)) + b"\0" * 12 + le16(0xE0) + le16(0x0102)
    out += b"\0" * 0xE0
    for name, va, raw, body in sections:
        out += name.encode()[:8].ljust(8, b"\0") + le32(len(body)) + le32(va) + le32(len(body)) + le32(raw)
        out += b"\0" * 16
    for name, va, raw, body in sections:
        out = out.ljust(raw, b"\0")
        out[raw:raw + len(body)] = body
    return bytes(out)


def rsrc(va, payload, kind=10, named=False):
    s = bytearray(0x100)

    def directory(off, named_count, id_count, entries):
        s[off + 12:off + 16] = le16(named_count) + le16(id_count)
        for i, (name, data) in enumerate(entries):
            s[off + 16 + 8 * i:off + 24 + 8 * i] = le32(name) + le32(data)

    if named:
        directory(0x00, 1, 0, [(0x80000000 | 0xC0, 0x80000000 | 0x18)])
        s[0xC0:0xC0 + 12] = le16(5) + "ICONS".encode("utf-16-le")
    else:
        directory(0x00, 0, 1, [(kind, 0x80000000 | 0x18)])
    directory(0x18, 0, 1, [(1, 0x80000000 | 0x30)])
    directory(0x30, 0, 1, [(0x409, 0x48)])
    s[0x48:0x58] = le32(va + 0x100) + le32(len(payload)) + le32(0) + le32(0)
    return bytes(s) + payload


def pe_images():
    text = (".text", 0x1000, 0x200, b"\x90" * 0x200)
    return {
        "plain.exe": pe([text]),
        "rcdata.exe": pe([text, (".rsrc", 0x2000, 0x400, rsrc(0x2000, b"PK\x03\x04" + b"\0" * 60))]),
        "named.exe": pe([text, (".rsrc", 0x2000, 0x400, rsrc(0x2000, b"hello", named=True))]),
        "sfx.exe": pe([text]) + SAMPLES.zip_of([("a.txt", b"payload\n")]),
    }


# ---- definitions packages (the layout of qrixlib/PackWriter.h) ----

def chunk(cid, data):
    return cid.encode().ljust(4)[:4] + le32(len(data)) + data


def definition(patterns, strings, info):
    patt = le16(len(patterns)) + b"".join(le16(o) + le16(len(b)) + b for o, b in patterns)
    data = chunk("PATT", patt)
    if strings:
        data += chunk("STRN", le16(len(strings)) + b"".join(le32(len(s)) + s for s in strings))
    info_bytes = b"".join(k.encode().ljust(4)[:4] + le16(len(v)) + v for k, v in info)
    return chunk("DEF ", chunk("DATA", data) + chunk("INFO", info_bytes))


def package(defs, declared=None):
    area = b"".join(defs)
    body = b"QRIX" + chunk("HEAD", le32(len(defs) if declared is None else declared)) + chunk("DEFS", area)
    return chunk("RIFF", body)


def packages():
    full_info = [("TYPE", b"Self test"), ("EXT ", b"QXD"), ("MIME", b"application/x-qrix"), ("NAME", b"n"),
                 ("USER", b"u"), ("MAIL", b"m"), ("HOME", b"h"), ("RURL", b"r"), ("REM ", b"x"),
                 ("TAG ", le32(7)), ("FNUM", le32(42))]
    self_match = definition([(0, b"RIFF"), (8, b"QRIX")], [b"HEAD"], full_info)
    text = definition([(0, b"<?xml")], [b"<SVG"], [("TYPE", b"SVG image"), ("EXT ", b"SVG")])
    return {
        "self.qxd": package([self_match, text]),
        "declares-more.qxd": package([self_match], declared=1000),
        "negative-lengths.qxd": package([definition([(-1, b"AB")], [b""], [("TYPE", b"t")])]),
        "empty.qxd": package([]),
        "truncated.qxd": package([self_match, text])[:60],
    }


# ---- markup, mail, calendars (the text tests' fixtures) ----

def markup():
    return {
        "page.html": b"<!DOCTYPE html><html><head><title>t</title></head><body><p>x</p></body></html>\n",
        "bom.html": b"\xef\xbb\xbf\r\n  <html><body><a href=\"x>y\">t</a><br/></body></html>",
        "script.html": b"<html><script>if (a < b && c > d) {}</script><!-- c --><p></p></html>",
        "php.html": b"<html><?php echo 1; ?><p>",
        "xhtml.xhtml": (b'<?xml version="1.0"?><!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Strict//EN" "x">'
                        b'<html xmlns="http://www.w3.org/1999/xhtml"><head><title>t</title></head></html>'),
        "data.xml": b'<?xml version="1.0" encoding="UTF-8"?>\n<catalog><item id="1">x</item></catalog>\n',
        "feed.atom": b'<?xml version="1.0"?><feed xmlns="http://www.w3.org/2005/Atom"><title>t</title></feed>',
        "feed.rss": b'<?xml version="1.0"?><rss version="2.0"><channel><title>t</title></channel></rss>',
        "track.gpx": b'<?xml version="1.0"?><gpx version="1.1" creator="x"><trk/></gpx>',
        "bot.aiml": b'<?xml version="1.0"?><aiml version="2.0"><category/></aiml>',
        "meta.rdf": b'<?xml version="1.0"?><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"/>',
        "part.rels": (b'<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/'
                      b'relationships"><Relationship Id="r" Type="t" Target="x"/></Relationships>'),
        "drawing.svg": b'<svg xmlns="http://www.w3.org/2000/svg" width="1" height="1"><rect/></svg>',
        "shape.vml": b'<xml xmlns:v="urn:schemas-microsoft-com:vml"><v:shape id="s"><v:fill/></v:shape></xml>',
        "model.dae": b'<?xml version="1.0"?><COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema"/>',
        "figure.zir": b'<?xml version="1.0"?><CaR><Construction/></CaR>',
        "drawing.vdx": b'<?xml version="1.0"?><VisioDocument><DocumentProperties/></VisioDocument>',
        "office.xml": b'<?mso-application progid="Word.Document"?><w:wordDocument/>',
        "unclosed.html": b"<html><body><div " + b"a=\"b\" " * 200,
    }


def mails():
    head = b"From: a@example.org\nTo: b@example.org\nSubject: s\n"
    multipart = head + b'Content-Type: multipart/mixed; boundary="xyz"\n\n'
    part = b"--xyz\nContent-Type: text/plain\n\nhi\n--xyz--\n"
    return {
        "single.eml": head + b"Date: Mon, 1 Jan 2024 10:00:00 +0000\n\nbody\n",
        "multipart.eml": multipart + b"preamble\n" + part,
        "crlf.eml": multipart.replace(b"\n", b"\r\n") + b"--xyz\r\nContent-Type: text/plain\r\n\r\nhi\r\n",
        "saved.mht": head + b'Content-Type: multipart/related; boundary="xyz"\n\n' + part,
        "browser.mht": b'From: "Saved by Browser"\nSubject: s\nContent-Type: text/html\n\n<html>\n',
        "fields.eml": (b'Content-Type: multipart/related;\n\tboundary="----=_b1"; type="text/html"\nSubject:\n'
                       b"Comments:   \nX-Note: a (b; c) d; e=f\nContent-Disposition: attachment; "
                       b'filename="=?utf-8?B?eA==?="\n\nx\n'),
        "x-mailer.eml": b"X-Mailer: m\nFoo: 1\nSubject: s\n\nx\n",
        "marker.eml": b"!NOT EML FILE!\nFrom: a\n\nx\n",
    }


def calendars():
    def cal(version, body):
        return b"BEGIN:VCALENDAR\nVERSION:" + version + b"\nPRODID:-//Example//Cal//EN\n" + body + b"END:VCALENDAR\n"

    event = b"BEGIN:VEVENT\nUID:1\nDTSTART;TZID=Europe/Berlin:20200101T100000\nEND:VEVENT\n"
    return {
        "v2.ics": cal(b"2.0", event),
        "v1.vcs": cal(b"1.0", event),
        "crlf.ics": cal(b"2.0", event).replace(b"\n", b"\r\n"),
        "alarm.ics": cal(b"2.0", b"BEGIN:VEVENT\nBEGIN:VALARM\nUID:1\nEND:VALARM\nEND:VEVENT\n"),
        "folded.ics": cal(b"2.0", b"BEGIN:VEVENT\nUID:1\nDESCRIPTION;LANGUAGE=en:a long\n  folded line\n"
                                  b"ATTENDEE;CN=\"x:y\";ROLE=REQ:mailto:a@b\nEND:VEVENT\n"),
        "wrong-end.ics": cal(b"2.0", b"BEGIN:VEVENT\nUID:1\nEND:VTODO\n"),
        "nested.ics": cal(b"2.0", b"BEGIN:VTIMEZONE\nBEGIN:STANDARD\nEND:STANDARD\nEND:VTIMEZONE\n"),
    }


def configs():
    values = (b'{"deep_scan":true,"heuristic_scan":2,"max_file_size":100,"archive":false,'
              b'"archive.max_extract_depth":5,"temp":"/tmp/x"}')
    config = (b'{"schema-version":1.0,"config-serial":1,"temp-dir":"/tmp/k","config":'
              b'{"engine.engine_3_cfg.config":{"values":' + values + b"}}}")
    return {
        "config.json": config,
        "older.json": config.replace(b"engine_3_cfg", b"engine_2_cfg"),
        "temp-only.json": b'{"temp-dir":"/var/tmp"}',
        "bom.json": b"\xef\xbb\xbf" + config,
        "lines.txt": b"[engine]\ndeep_scan = 0\nheuristic_scan=3\nmax_file_size = 2000\ninvalid\n",
        "nested.json": b"[" * 40 + b"]" * 40,
    }


def inis():
    return {
        "engine.ini": b"[engine]\ndeep_scan = 1\ntemp_dir=\"/tmp/kiv\"\n",
        "global.ini": b"deep_scan=0\n[other]\ntemp_dir=/x\n[engine]\ntemp_dir = /y \n",
        "crlf.ini": b"[engine]\r\ndeep_scan=true\r\n",
        "empty-value.ini": b"[engine]\ndeep_scan=\n[engine]\ndeep_scan=1\n",
    }


# ---- archives, media and the other cascade families ----

def riff(form, chunks):
    body = form + b"".join(cid + le32(len(d)) + d + (b"\0" if len(d) % 2 else b"") for cid, d in chunks)
    return b"RIFF" + le32(len(body)) + body


def jpeg(variant=0):
    app0 = b"\xff\xe0" + struct.pack(">H", 16) + b"JFIF\0\x01\x01\0\0\x01\0\x01\0\0"
    dqt = b"\xff\xdb" + struct.pack(">H", 67) + b"\0" + bytes((i + variant) % 50 + 1 for i in range(64))
    sof = b"\xff\xc0" + struct.pack(">HBHHB", 11, 8, 8, 8, 1) + b"\x01\x11\x00"
    return b"\xff\xd8" + app0 + dqt + sof + b"\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00" + b"\x12\x34" * 8 + b"\xff\xd9"


def tiff(variant=0):
    entries = [(256, 3, 1, 1), (257, 3, 1, 1), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, 1),
               (273, 4, 1, 8 + 2 + 12 * 7 + 4), (279, 4, 1, 1)]
    ifd = le16(len(entries)) + b"".join(le16(t) + le16(k) + le32(n) + le32(v) for t, k, n, v in entries) + le32(0)
    return b"II*\0" + le32(8) + ifd + bytes([variant % 256])


def mp3_frames(count=12, variant=0):
    # MPEG-1 Layer III, 128 kbit/s, 44.1 kHz: 417-byte frames.
    frame = b"\xff\xfb\x90\x64" + bytes((i * 31 + variant) % 256 for i in range(413))
    return frame * count


def media(variant=0):
    v = variant
    text = b"sample %d\n" % v
    dxf = (b"  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1015\n  0\nENDSEC\n  0\nSECTION\n  2\nENTITIES\n"
           b"  0\nLINE\n  8\n0\n 10\n%d.0\n 20\n0.0\n 11\n1.0\n 21\n1.0\n  0\nENDSEC\n  0\nEOF\n" % v)
    asf_guid = bytes.fromhex("3026B2758E66CF11A6D900AA0062CE6C")
    asf = asf_guid + struct.pack("<QIBB", 30, 0, 1, 2)
    psd = b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, 4 + v % 4, 4, 8, 3) + b"\0" * 12
    pac = b"\x01" + b"\0" * 22 + b"`" + b"\0" * 20 + bytes([0xFF]) + b"\0" * 11 + b"\x11\x00dummy end of file"
    sub890 = bytearray(512)
    sub890[2] = 0x20
    sub890[172:176] = b"\x08\x90\x00\x00"
    xex = b"\xff\xff" + le16(0x2000) + le16(0x2003) + b"\xa9\x00\x60\x00" + le16(0x2E0) + le16(0x2E1) + le16(0x2000)
    pst = b"!BDN" + le32(0) + b"SM" + le16(23) + le16(19) + b"\0" * 500
    tnef = le32(0x223E9F78) + le16(1) + b"\x01\x06\x90\x08\x00\x04\x00\x00\x00\x00\x00\x01\x00\x01\x00"
    return {
        "image.png": SAMPLES.png(2 + v % 5, 2),
        "image.bmp": SAMPLES.bmp(2 + v % 5, 2),
        "image.gif": SAMPLES.gif(),
        "image.jpg": jpeg(v),
        "image.tif": tiff(v),
        "image.webp": riff(b"WEBP", [(b"VP8 ", b"\0" * (10 + v % 7))]),
        "image.ico": le16(0) + le16(1) + le16(1) + bytes([16, 16, 0, 0]) + le16(1) + le16(32) + le32(40) + le32(22),
        "drawing.psd": psd,
        "sound.wav": SAMPLES.wav(),
        "sound.mp3": b"ID3\x03\0\0\0\0\0\x0aTIT2\0\0\0\0\0\0" + mp3_frames(8 + v % 5, v),
        "bare.mp3": mp3_frames(6, v),
        "speech.amr": b"#!AMR\n" + b"\x3c" + b"\x55" * 31,
        "movie.asf": asf + b"\0" * 64,
        "film.pac": pac,
        "film.890": bytes(sub890),
        "game.xex": xex,
        "drawing.dwg": b"AC1018" + b"\0" * 122,
        "drawing.dxf": dxf,
        "binary.dxf": b"AutoCAD Binary DXF\r\n\x1a\0" + b"\0" * 40,
        "drawing.dwf": b"(DWF V06.00)" + b"PK\x03\x04" + b"\0" * 40,
        "mail.pst": pst,
        "winmail.dat": tnef,
        "note.rtf": b"{\\rtf1\\ansi\\deff0 {\\fonttbl {\\f0 Courier;}}\\f0 " + text + b"\\par}\n",
        "document.pdf": SAMPLES.pdf(),
        "artwork.ai": SAMPLES.pdf().replace(b"%PDF-1.4\n", b"%PDF-1.4\n%AI5_FileFormat 3\n", 1),
        "marked.doc": bytes.fromhex("D0CF11E0A1B11AE1") + b"\0" * 600 + b"!NOT MSG FILE!",
    }


def archives(variant=0):
    v = variant
    text = (b"The quick brown fox %d jumps over the lazy dog.\n" % v) * (1 + v % 4)
    ustar = SAMPLES.tar_of([("a%d.txt" % v, text)])
    cpio = (b"070701" + b"".join(b"%08X" % x for x in (1, 0o100644, 0, 0, 1, 0, len(text), 0, 0, 0, 0, 6, 0))
            + b"a.txt\0" + b"\0" * 2 + text)
    return {
        "archive.zip": SAMPLES.zip_of([("a.txt", text), ("dir/b.txt", text * 2)]),
        "stored.zip": SAMPLES.zip_of([("a.txt", text)], zipfile.ZIP_STORED),
        "archive.jar": SAMPLES.zip_of([("META-INF/MANIFEST.MF", b"Manifest-Version: 1.0\n"), ("A.class", text)]),
        "archive.apk": SAMPLES.zip_of([("AndroidManifest.xml", text), ("classes.dex", text)]),
        "letter.docx": SAMPLES.docx(),
        "letter.odt": SAMPLES.odt(),
        "archive.tar": ustar,
        "archive.tar.gz": gzip.compress(ustar, mtime=0),
        "text.gz": gzip.compress(text, mtime=0),
        "text.bz2": bz2.compress(text),
        "text.xz": lzma.compress(text),
        "text.lzma": lzma.compress(text, format=lzma.FORMAT_ALONE),
        "text.zlib": zlib.compress(text),
        "archive.cpio": cpio,
        "archive.deb": b"!<arch>\ndebian-binary   0           0     0     100644  4         `\n2.0\n",
        "package.rpm": bytes.fromhex("EDABEEDB") + b"\x03\x00" + b"\0" * 90,
        "archive.7z": bytes.fromhex("377ABCAF271C") + b"\x00\x04" + b"\0" * 24,
        "archive.rar": b"Rar!\x1a\x07\x00" + bytes.fromhex("CF907300000D00000000000000"),
        "archive5.rar": b"Rar!\x1a\x07\x01\x00" + b"\0" * 24,
        "archive.cab": b"MSCF" + le32(0) + le32(60) + le32(0) + le32(44) + le32(0) + b"\x03\x01" + le16(1) + le16(1)
                       + b"\0" * 20,
        "disk.vhd": b"\0" * 1024 + b"conectix" + b"\0" * 504,
        "boot.mbr": b"\xfa\x33\xc0" + b"\0" * 507 + b"\x55\xaa" + b"\0" * 512,
        "archive.xar": b"xar!" + b"\0\x1c\0\x01" + b"\0" * 24,
        "help.chm": b"ITSF" + le32(3) + le32(96) + b"\0" * 88,
        "image.wim": b"MSWIM\0\0\0" + b"\0" * 200,
        "disk.iso": b"\0" * 32769 + b"CD001\x01" + b"\0" * 2042,
        "disk.vdi": b"<<< Oracle VM VirtualBox Disk Image >>>\n" + b"\0" * 88,
    }


def text_files(variant=0):
    v = variant
    return {
        "plain.txt": (b"Line %d of plain text.\n" % v) * (3 + v % 20),
        "table.csv": b"name,count\n" + b"".join(b"item%d,%d\n" % (i, i * v) for i in range(5 + v % 30)),
        "script.sh": b"#!/bin/sh\necho %d\n" % v,
        "script.py": b"#!/usr/bin/env python3\nprint(%d)\n" % v,
        "data.json": b'{"id": %d, "items": [1, 2, 3]}\n' % v,
        "latin1.txt": b"caf\xe9 %d\n" % v,
        "utf16.txt": ("Unicode text %d\n" % v).encode("utf-16"),
        "random.bin": bytes((i * 7919 + 13 * v) % 251 for i in range(4096)),
        "empty": b"",
    }


def family_files(variant=0):
    """Files of every family the cascade knows, as name -> bytes; variants differ in content."""
    files = {}
    for group, make in (("text", text_files), ("archive", archives), ("media", media)):
        for name, data in make(variant).items():
            files[group + "-" + name] = data
    for group, table in (("markup", markup()), ("mail", mails()), ("calendar", calendars()),
                         ("office", cfb_documents()), ("exe", pe_images())):
        for name, data in table.items():
            files[group + "-" + name] = data
    return files


# ---- files made by real tools (optional) ----

def tool_files(work):
    """Runs the Debian tools that are present; answers name -> bytes of what they made."""
    made = {}
    src = os.path.join(work, "src")
    os.makedirs(src, exist_ok=True)
    for i in range(3):
        with open(os.path.join(src, "f%d.txt" % i), "wb") as f:
            f.write(b"tool input %d\n" % i * 50)
    env = dict(os.environ, SOURCE_DATE_EPOCH="1704164646", TZ="UTC")

    def run(name, argv, produced):
        if shutil.which(argv[0]) is None:
            return
        try:
            subprocess.run(argv, cwd=work, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=60, check=True)
            with open(os.path.join(work, produced), "rb") as f:
                made[name] = f.read()
        except (OSError, subprocess.SubprocessError):
            pass

    run("tool-7z.7z", ["7za", "a", "-bd", "out.7z", "src"], "out.7z")
    run("tool-7z-encrypted.7z", ["7za", "a", "-bd", "-psecret", "-mhe=on", "enc.7z", "src"], "enc.7z")
    run("tool-zip.zip", ["zip", "-qrX", "out.zip", "src"], "out.zip")
    run("tool-zip-encrypted.zip", ["zip", "-qrX", "-P", "secret", "enc.zip", "src"], "enc.zip")
    run("tool-cab.cab", ["gcab", "-c", "out.cab", "src/f0.txt", "src/f1.txt"], "out.cab")
    run("tool-iso.iso", ["genisoimage", "-quiet", "-o", "out.iso", "src"], "out.iso")
    run("tool-image.jpg", ["convert", "-size", "16x16", "gradient:red-blue", "out.jpg"], "out.jpg")
    run("tool-image.tif", ["convert", "-size", "16x16", "xc:green", "out.tif"], "out.tif")
    run("tool-image.psd", ["convert", "-size", "16x16", "xc:blue", "out.psd"], "out.psd")
    if shutil.which("sox"):
        run("tool-tone.wav", ["sox", "-n", "-r", "8000", "tone.wav", "synth", "0.2", "sine", "440"], "tone.wav")
        run("tool-tone.mp3", ["lame", "--quiet", "tone.wav", "tone.mp3"], "tone.mp3")
    return made


# ---- output ----

def write_dir(path, files):
    os.makedirs(path, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


def read_dir(path):
    files = {}
    if os.path.isdir(path):
        for name in sorted(os.listdir(path)):
            full = os.path.join(path, name)
            if os.path.isfile(full):
                with open(full, "rb") as f:
                    files[name] = f.read()
    return files


def main(argv):
    args = list(argv)
    qrixdefs = None
    use_tools = False
    if "--tools" in args:
        args.remove("--tools")
        use_tools = True
    if "--qrixdefs" in args:
        i = args.index("--qrixdefs")
        qrixdefs = args[i + 1]
        del args[i:i + 2]
    if len(args) != 1:
        sys.stderr.write(__doc__)
        return 2
    out = args[0]
    if os.path.isdir(out):
        shutil.rmtree(out)

    real_office = read_dir(os.path.join(ROOT, "tests", "formats", "office", "fixtures", "real"))
    samples = {"sample-" + k: v for k, v in SAMPLES.samples().items()}
    every = dict(family_files())
    every.update(samples)
    every.update({"real-" + k: v for k, v in real_office.items()})
    if use_tools:
        with tempfile.TemporaryDirectory(prefix="kivseeds.") as work:
            every.update(tool_files(work))

    compound = dict(cfb_documents())
    compound.update(real_office)
    pack_seeds = dict(packages())
    if qrixdefs and os.path.isfile(qrixdefs):
        with open(qrixdefs, "rb") as f:
            pack_seeds["project.qxd"] = f.read()
    zips = {k: v for k, v in every.items() if v[:2] == b"PK" or b"PK\x05\x06" in v[-65557:]}

    write_dir(os.path.join(out, "scan"), every)
    write_dir(os.path.join(out, "qrix_analyze"), every)
    write_dir(os.path.join(out, "qrix_pack"), pack_seeds)
    write_dir(os.path.join(out, "compound_file"), compound)
    write_dir(os.path.join(out, "html_reader"), markup())
    write_dir(os.path.join(out, "mime_handler"), mails())
    write_dir(os.path.join(out, "calendar_reader"), calendars())
    write_dir(os.path.join(out, "config_json"), configs())
    write_dir(os.path.join(out, "ini_settings"), inis())
    write_dir(os.path.join(out, "zip_directory"), zips)
    # Packages written by a real office suite: members the in-process reader reads whole.
    packages_real = read_dir(os.path.join(ROOT, "tests", "engine", "detectors", "fixtures", "real"))
    write_dir(os.path.join(out, "zip_member"), dict(zips, **{"real-" + k: v for k, v in packages_real.items()}))
    write_dir(os.path.join(out, "pe_resources"), pe_images())
    # The costliest shape of each walk at the input cap, for the targets that reach it.
    for case in hostile_files.CASES:
        data = hostile_files.case_bytes(case, FUZZ_INPUT_CAP)
        for target in case.targets:
            write_dir(os.path.join(out, target), {"large-" + case.name: data})
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
