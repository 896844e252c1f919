#!/usr/bin/env python3
"""Writes the small sample files that ./run.sh scans when it is given no path.

    python3 tools/kivscan/generate_samples.py [DIR]     (default: samples/ of the project)

Every file is built byte by byte here, with fixed timestamps, so the output is the same on
every machine.
"""
import bz2
import gzip
import io
import lzma
import os
import struct
import sys
import tarfile
import wave
import zipfile
import zlib

FIXED_TIME = (2024, 1, 2, 3, 4, 6)


def png(width=2, height=2):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    rows = b"".join(b"\x00" + bytes((x * 60 + y * 30) % 256 for x in range(width * 3)) for y in range(height))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def bmp(width=2, height=2):
    row = bytes([0, 0, 255] * width)
    row += b"\x00" * ((4 - len(row) % 4) % 4)
    pixels = row * height
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def gif():
    return (b"GIF89a" + struct.pack("<HHBBB", 1, 1, 0x80, 0, 0) + b"\x00\x00\x00\xff\xff\xff" +
            b"\x2c" + struct.pack("<HHHHB", 0, 0, 1, 1, 0) + b"\x02\x02\x44\x01\x00\x3b")


def wav():
    buf = io.BytesIO()
    with wave.open(buf, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(b"".join(struct.pack("<h", (i * 997) % 20000 - 10000) for i in range(800)))
    return buf.getvalue()


def pdf():
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
               b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"]
    out = b"%PDF-1.4\n"
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for off in offsets:
        out += b"%010d 00000 n \n" % off
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return out


def zip_of(members, method=zipfile.ZIP_DEFLATED):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", method) as z:
        for name, data in members:
            info = zipfile.ZipInfo(name, FIXED_TIME)
            info.compress_type = method
            z.writestr(info, data)
    return buf.getvalue()


def odt():
    manifest = (b'<?xml version="1.0" encoding="UTF-8"?>\n'
                b'<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0">\n'
                b' <manifest:file-entry manifest:full-path="/" '
                b'manifest:media-type="application/vnd.oasis.opendocument.text"/>\n'
                b' <manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>\n'
                b'</manifest:manifest>\n')
    content = (b'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-content '
               b'xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
               b'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"><office:body><office:text>'
               b'<text:p>Sample</text:p></office:text></office:body></office:document-content>\n')
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        z.writestr(zipfile.ZipInfo("mimetype", FIXED_TIME), b"application/vnd.oasis.opendocument.text")
        for name, data in (("content.xml", content), ("META-INF/manifest.xml", manifest)):
            info = zipfile.ZipInfo(name, FIXED_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
    return buf.getvalue()


def docx():
    types = (b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
             b'<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
             b'<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
             b'<Default Extension="xml" ContentType="application/xml"/>'
             b'<Override PartName="/word/document.xml" ContentType="application/'
             b'vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>')
    rels = (b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            b'<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            b'<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
            b'officeDocument" Target="word/document.xml"/></Relationships>')
    document = (b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                b'<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">'
                b'<w:body><w:p><w:r><w:t>Sample</w:t></w:r></w:p></w:body></w:document>')
    return zip_of([("[Content_Types].xml", types), ("_rels/.rels", rels), ("word/document.xml", document)])


def tar_of(members):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w", format=tarfile.USTAR_FORMAT) as t:
        for name, data in members:
            info = tarfile.TarInfo(name)
            info.size = len(data)
            info.mtime = 1704164646
            info.mode = 0o644
            info.uname = info.gname = "kiv"
            t.addfile(info, io.BytesIO(data))
    return buf.getvalue()


def samples():
    text = b"The quick brown fox jumps over the lazy dog.\nA second line of plain text.\n"
    return {
        "plain.txt": text,
        "table.csv": b"name,count,price\napple,3,0.50\npear,7,0.75\n",
        "page.html": (b"<!DOCTYPE html>\n<html>\n<head><title>Sample</title></head>\n"
                      b"<body><p>Sample page.</p></body>\n</html>\n"),
        "data.xml": b'<?xml version="1.0" encoding="UTF-8"?>\n<catalog><item id="1">Sample</item></catalog>\n',
        "drawing.svg": (b'<?xml version="1.0" encoding="UTF-8"?>\n<svg xmlns="http://www.w3.org/2000/svg" '
                        b'width="10" height="10"><rect width="10" height="10" fill="red"/></svg>\n'),
        "note.rtf": b"{\\rtf1\\ansi\\deff0 {\\fonttbl {\\f0 Courier;}}\\f0 Sample text.\\par}\n",
        "invite.ics": (b"BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//kiv//samples//EN\r\nBEGIN:VEVENT\r\n"
                       b"UID:1@kiv\r\nDTSTAMP:20240102T030405Z\r\nDTSTART:20240103T100000Z\r\n"
                       b"SUMMARY:Sample\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"),
        "message.eml": (b"From: Sender <sender@example.org>\r\nTo: Receiver <receiver@example.org>\r\n"
                        b"Subject: Sample\r\nDate: Tue, 2 Jan 2024 03:04:05 +0000\r\nMessage-ID: <1@example.org>\r\n"
                        b"MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nSample body.\r\n"),
        "script.sh": b"#!/bin/sh\necho sample\n",
        "document.pdf": pdf(),
        "image.png": png(),
        "image.bmp": bmp(),
        "image.gif": gif(),
        "sound.wav": wav(),
        "archive.zip": zip_of([("a.txt", text), ("b.txt", text * 3)]),
        "archive.tar": tar_of([("a.txt", text)]),
        "archive.tar.gz": gzip.compress(tar_of([("a.txt", text)]), mtime=0),
        "text.bz2": bz2.compress(text),
        "text.xz": lzma.compress(text),
        "letter.odt": odt(),
        "letter.docx": docx(),
        "random.bin": bytes((i * 7919 + 13) % 251 for i in range(4096)),
        "empty": b"",
    }


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "samples")
    os.makedirs(out, exist_ok=True)
    for name, data in samples().items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
