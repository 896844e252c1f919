#!/bin/bash
# Regenerates tests/conformance/files/ with real programs: a headless office suite, qpdf,
# ImageMagick, exiftool, sox, lame, the archivers and ezdxf, plus make_bytes.py for the formats
# no Debian tool writes and for the text formats. Run by hand; the outputs are committed, so
# the suite itself needs none of these tools. After regenerating, run update.sh and review
# every changed expected answer before committing it.
#   apt-get install libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui \
#       libreoffice-draw-nogui python3-uno qpdf imagemagick libimage-exiftool-perl sox \
#       lame zip p7zip-full gcab genisoimage cpio arj wimtools xz-utils bzip2 \
#       python3-ezdxf msitools e2fsprogs
#   tests/conformance/make_fixtures.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out="$here/files"
work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out" "$work/src"
# Fixed times, so that archives list the same member dates on every run.
export TZ=UTC SOURCE_DATE_EPOCH=1704164646
stamp() { touch -d @1704164646 "$@"; }
printf 'Conformance member text.\n' > "$work/src/member.txt"
printf 'Second member, a little longer than the first one.\n' > "$work/src/notes.txt"
stamp "$work/src/member.txt" "$work/src/notes.txt"
# Something that does not compress to nothing, for the split volumes.
head -c 6000 /dev/urandom > "$work/src/noise.bin"
# zip cuts volumes of 64 KiB at the least.
head -c 70000 /dev/urandom > "$work/src/bignoise.bin"
stamp "$work/src/noise.bin" "$work/src/bignoise.bin"

# ---- Office suite ----
pipe="kivconformance$$"
soffice --headless --invisible --norestore --nologo "-env:UserInstallation=file://$work/profile" \
    "--accept=pipe,name=$pipe;urp;" &
pid=$!
/usr/bin/python3 "$here/make_office.py" "$out" "$pipe"
wait "$pid" 2>/dev/null || true
pid=""

# ---- PDF encryption ----
qpdf --encrypt kiv-user kiv-owner 256 -- "$out/writer.pdf" "$out/pdf-user-password.pdf"
qpdf --encrypt "" kiv-owner 256 --print=none -- "$out/writer.pdf" "$out/pdf-owner-only.pdf"
qpdf --allow-weak-crypto --encrypt kiv-user kiv-owner 40 -- "$out/writer.pdf" "$out/pdf-rc4-40.pdf"
qpdf --linearize "$out/writer.pdf" "$out/pdf-linearized.pdf"

# ---- Images ----
im=$(command -v convert-im6.q16 || command -v convert)
"$im" -size 16x12 gradient:red-blue "$work/base.png"
"$im" "$work/base.png" "$out/image.png"
"$im" "$work/base.png" -quality 80 "$out/image.jpg"
"$im" "$work/base.png" "$out/image.gif"
"$im" "$work/base.png" BMP3:"$out/image.bmp"
"$im" "$work/base.png" BMP:"$out/image-v5.bmp"
"$im" "$work/base.png" -compress none "$out/image.tif"
"$im" "$work/base.png" -endian MSB -compress none TIFF:"$out/image-motorola.tiff"
"$im" "$work/base.png" -define icon:auto-resize=16 "$out/icon.ico"
"$im" "$work/base.png" "$out/image.psd"
"$im" "$work/base.png" PSB:"$out/image.psb"
"$im" "$work/base.png" "$out/image.webp"
"$im" "$work/base.png" "$out/image.pcx"
"$im" "$work/base.png" "$out/image.tga"
"$im" "$work/base.png" "$out/image.ppm"
"$im" "$work/base.png" BMP2:"$out/image-os2.bmp"
"$im" "$work/base.png" PNG:"$out/image-png-named.jpg"
# A camera-style JPEG: the EXIF segment comes first and ends with its embedded thumbnail.
"$im" "$work/base.png" -strip "$work/exif.jpg"
"$im" "$work/base.png" -resize 8x6 -strip "$work/thumb.jpg"
exiftool -q -overwrite_original -JFIF:all= -Make=Conformance -Model=Camera1 \
    "-ThumbnailImage<=$work/thumb.jpg" "$work/exif.jpg"
cp "$work/exif.jpg" "$out/camera.jpg"
# The same picture with the EXIF segment behind a JFIF one, as editors save it.
"$im" "$work/base.png" "$work/jfif.jpg"
exiftool -q -overwrite_original -Make=Conformance "$work/jfif.jpg"
cp "$work/jfif.jpg" "$out/edited-exif.jpg"

# ---- Audio ----
sox -n -r 8000 -c 1 -b 16 "$out/tone.wav" synth 0.1 sine 440
sox -n -r 8000 -c 1 -b 16 "$out/tone.aiff" synth 0.1 sine 440
sox -n -r 8000 -c 1 -b 16 "$out/tone.flac" synth 0.1 sine 440
sox -n -r 8000 -c 1 "$out/tone.au" synth 0.1 sine 440
sox -n -r 8000 -c 1 "$out/tone.ogg" synth 0.3 sine 440
sox -n -r 8000 -c 1 -t amr-nb "$out/tone.amr" synth 0.3 sine 440
sox -n -r 44100 -c 1 -b 16 "$work/tone44.wav" synth 0.5 sine 440
lame --quiet -b 64 "$work/tone44.wav" "$out/tone.mp3"
# MPEG-2 and MPEG-2.5 layer III: the frame length rules differ from MPEG-1.
lame --quiet --resample 22.05 -b 32 "$work/tone44.wav" "$out/tone-22khz.mp3"
lame --quiet --resample 8 -b 16 "$work/tone44.wav" "$out/tone-8khz.mp3"
# MPEG-2.5 with CRC protection: the frame headers open with FF E2.
lame --quiet -p --resample 12 -b 16 "$work/tone44.wav" "$out/tone-12khz-crc.mp3"
lame --quiet -b 64 --add-id3v2 --tt "Conformance" --ta "Tester" "$work/tone44.wav" "$out/tone-id3.mp3"

# ---- Archives ----
( cd "$work/src"
  zip -q -X "$out/archive.zip" member.txt notes.txt
  zip -q -X -P kiv-secret "$out/encrypted.zip" member.txt
  zip -q -X "$out/archive-comment.zip" member.txt
  printf 'Archive comment written by the conformance generator.\n' | zip -q -z "$out/archive-comment.zip"
  zip -q -X "$work/payload.zip" member.txt
  zip -q -X "$work/dwf-payload.zip" member.txt
  7za a -bd -bso0 "$out/archive.7z" member.txt notes.txt
  7za a -bd -bso0 -pkiv-secret -mhe=on "$out/encrypted.7z" member.txt
  7za a -bd -bso0 "$work/payload.7z" member.txt
  tar --sort=name --owner=0 --group=0 --numeric-owner -cf "$out/archive.tar" member.txt notes.txt
  tar --format=v7 -cf "$out/archive-v7.tar" member.txt
  tar --format=pax --sort=name --owner=0 --group=0 --numeric-owner -cf "$out/archive-pax.tar" member.txt
  tar -czf "$out/archive.tar.gz" member.txt notes.txt
  tar -cjf "$out/archive.tar.bz2" member.txt notes.txt
  tar -cJf "$out/archive.tar.xz" member.txt notes.txt
  gzip -n -c member.txt > "$out/member.txt.gz"
  bzip2 -c member.txt > "$out/member.txt.bz2"
  xz -c member.txt > "$out/member.txt.xz"
  xz --format=lzma -c member.txt > "$out/member.txt.lzma"
  gcab -c "$out/archive.cab" member.txt notes.txt
  gcab -c "$work/payload.cab" member.txt
  printf 'member.txt\nnotes.txt\n' | cpio --quiet -o -H newc > "$out/archive.cpio"
  printf 'member.txt\n' | cpio --quiet -o -H odc > "$out/archive-odc.cpio"
  printf 'member.txt\n' | cpio --quiet -o -H bin > "$out/archive-bin.cpio"
  arj a -i -y "$out/archive.arj" member.txt >/dev/null
  mkdir -p META-INF
  printf 'Manifest-Version: 1.0\r\nCreated-By: conformance\r\n\r\n' > META-INF/MANIFEST.MF
  printf '<?xml version="1.0" encoding="utf-8"?>\n<manifest package="org.example.kiv"/>\n' > AndroidManifest.xml
  printf '{"manifest_version": 2, "name": "kiv", "version": "1.0"}\n' > manifest.json
  zip -q -X "$out/library.jar" META-INF/MANIFEST.MF member.txt
  zip -q -X "$out/app.apk" META-INF/MANIFEST.MF AndroidManifest.xml member.txt
  zip -q -X "$out/extension.xpi" META-INF/MANIFEST.MF manifest.json member.txt
  cp "$out/archive.zip" "$out/archive-named.docx" )
mkdir -p "$work/iso"
cp -p "$work/src/member.txt" "$work/iso/"
wimlib-imagex capture "$work/iso" "$out/image.wim" --compress=none >/dev/null
genisoimage -quiet -no-pad -V CONFORMANCE -o "$out/disc.iso" "$work/iso"
mkdir -p "$work/deb/DEBIAN" "$work/deb/usr/share/doc/kiv-conformance"
printf 'Package: kiv-conformance\nVersion: 1.0\nArchitecture: all\nMaintainer: Nobody <nobody@example.org>\nDescription: conformance package\n' \
    > "$work/deb/DEBIAN/control"
cp "$work/src/member.txt" "$work/deb/usr/share/doc/kiv-conformance/"
dpkg-deb --root-owner-group -Zxz -b "$work/deb" "$out/package.deb" >/dev/null

# ---- Installer packages (compound files written by another library than the office suite's) ----
q='`'
msibuild "$out/package.msi" -q "CREATE TABLE ${q}Property${q} (${q}Property${q} CHAR(72) NOT NULL, ${q}Value${q} CHAR(0) NOT NULL PRIMARY KEY ${q}Property${q})"
msibuild "$out/package.msi" -q "INSERT INTO ${q}Property${q} (${q}Property${q}, ${q}Value${q}) VALUES ('ProductName', 'Conformance')"
msibuild "$out/package.msi" -s Conformance Nobody "Intel;1033" "{6F1C2A9E-3B7D-4E21-9A55-0C8D2E7F4B10}"
# A merge module: an installer database that carries its files in the stream MergeModule.CABinet.
msibuild "$out/module.msm" -q "CREATE TABLE ${q}ModuleSignature${q} (${q}ModuleID${q} CHAR(72) NOT NULL, ${q}Language${q} INT NOT NULL, ${q}Version${q} CHAR(32) NOT NULL PRIMARY KEY ${q}ModuleID${q}, ${q}Language${q})"
msibuild "$out/module.msm" -q "INSERT INTO ${q}ModuleSignature${q} (${q}ModuleID${q}, ${q}Language${q}, ${q}Version${q}) VALUES ('Conformance.6F1C2A9E_3B7D_4E21_9A55_0C8D2E7F4B10', 1033, '1.0')"
msibuild "$out/module.msm" -s Conformance Nobody "Intel;1033" "{6F1C2A9E-3B7D-4E21-9A55-0C8D2E7F4B10}"
msibuild "$out/module.msm" -a MergeModule.CABinet "$work/payload.cab"

# ---- Split volumes ----
( cd "$work/src"
  7za a -bd -bso0 -mx=0 -v4k "$out/split.7z" noise.bin
  zip -q -X -s 64k "$out/split.zip" bignoise.bin
  tar -cf "$work/split.tar" noise.bin
  gzip -n -c noise.bin > "$work/split.gz"
  xz -0 -c noise.bin > "$work/split.xz" )
split -d -a 3 --numeric-suffixes=1 -b 4096 "$work/split.tar" "$out/split.tar."
split -d -a 3 --numeric-suffixes=1 -b 4096 "$work/split.gz" "$out/split.gz."
split -d -a 3 --numeric-suffixes=1 -b 4096 "$work/split.xz" "$out/split.xz."
# A whole archive under a volume name is no volume.
cp "$out/archive.zip" "$out/whole.zip.001"

# ---- Drawings ----
/usr/bin/python3 - "$out" <<'EOF'
import os, sys
import ezdxf
out = sys.argv[1]
for version, name in (("R12", "drawing-r12.dxf"), ("R2018", "drawing-2018.dxf")):
    doc = ezdxf.new(version)
    doc.modelspace().add_line((0, 0), (10, 5))
    doc.saveas(os.path.join(out, name))
doc = ezdxf.new("R2010")
doc.modelspace().add_circle((0, 0), 4)
doc.saveas(os.path.join(out, "drawing-binary.dxf"), fmt="bin")
EOF

# ---- Byte-written and text files ----
/usr/bin/python3 "$here/make_bytes.py" "$out" "$work"
# Mail written by Python's own mail library: a generated boundary full of '=' signs.
/usr/bin/python3 - "$out" <<'EOF2'
import os, sys
from email.message import EmailMessage
from email.utils import formatdate, make_msgid
m = EmailMessage()
m["From"] = "Carol Example <carol@example.org>"
m["To"] = "dave@example.net"
m["Subject"] = "Figures for January"
m["Date"] = formatdate(1704164646)
m["Message-ID"] = make_msgid(idstring="conformance", domain="example.org")
m.set_content("The figures are attached.\n")
m.add_attachment(b"month,total\njan,42\n", maintype="text", subtype="csv", filename="figures.csv")
with open(os.path.join(sys.argv[1], "python-mail.eml"), "wb") as f:
    f.write(bytes(m))
EOF2
# The package layout of the other big office suite's writer: "[Content_Types].xml" first, and
# the deflate option bits 1 and 2 set in every header, so the first 8 bytes are the fixed
# 50 4B 03 04 14 00 06 00 that such files begin with.
/usr/bin/python3 - "$out/writer.docx" "$out/office-layout.docx" <<'EOF2'
import struct, sys, zipfile
src, dst = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(src) as z:
    names = sorted(z.namelist(), key=lambda n: (n != "[Content_Types].xml", n != "_rels/.rels", n))
    parts = [(n, z.read(n)) for n in names]
with zipfile.ZipFile(dst, "w", zipfile.ZIP_DEFLATED) as z:
    for n, data in parts:
        z.writestr(zipfile.ZipInfo(n, (2024, 1, 2, 3, 4, 6)), data)
b = bytearray(open(dst, "rb").read())
for sig, off in ((b"PK\x03\x04", 6), (b"PK\x01\x02", 8)):
    i = b.find(sig)
    while i >= 0:
        b[i + off:i + off + 2] = struct.pack("<H", 6)
        i = b.find(sig, i + 4)
open(dst, "wb").write(bytes(b))
EOF2
# XML and SVG in UTF-16, as editors on Windows save them: both byte orders, with and without
# a byte-order mark (iconv writes one when the text starts with U+FEFF).
for name in data.xml drawing.svg; do
    sed 's/encoding="UTF-8"/encoding="UTF-16"/' "$out/$name" > "$work/$name"
    for order in le be; do
        iconv -f UTF-8 -t "UTF-16${order^^}" "$work/$name" > "$out/${name%.*}-utf16$order.${name##*.}"
        { printf '\357\273\277'; cat "$work/$name"; } | iconv -f UTF-8 -t "UTF-16${order^^}" \
            > "$out/${name%.*}-utf16$order-bom.${name##*.}"
    done
done
# File systems whose volume label libmagic copies into its description: a Latin-1 byte, and
# a line break.
for fs in "latin1:$(printf 'caf\351')" "newline:$(printf 'one\r\ntwo')"; do
    img="$out/fs-label-${fs%%:*}.img"
    rm -f "$img"
    truncate -s 64K "$img"
    E2FSPROGS_FAKE_TIME=1704164646 /sbin/mkfs.ext2 -q -F -b 1024 -N 16 -m 0 -L "${fs#*:}" \
        -U 6f1c2a9e-3b7d-4e21-9a55-0c8d2e7f4b10 -E hash_seed=6f1c2a9e-3b7d-4e21-9a55-0c8d2e7f4b10 "$img"
done
# Text DXF with the line ends of the drawing program's own platform.
sed 's/$/\r/' "$out/drawing-r12.dxf" > "$out/drawing-crlf.dxf"
# Files cut short, as an interrupted download leaves them.
head -c 2000 "$out/writer.docx" > "$out/truncated.docx"
head -c 4096 "$out/writer.doc" > "$out/truncated.doc"
head -c 300 "$out/image.jpg" > "$out/truncated.jpg"
head -c 1000 "$out/tone.wav" > "$out/truncated.wav"
head -c 700 "$out/tone.mp3" > "$out/truncated.mp3"
# A self-extractor's archive offsets count from the start of the executable, as zip -A leaves
# them after a stub was put in front.
zip -q -A "$out/sfx-zip.exe"

find "$out" -type f -newermt @0 -exec touch -d @1704164646 {} +
du -sh "$out"
ls "$out" | wc -l
