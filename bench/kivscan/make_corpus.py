#!/usr/bin/env python3
"""Writes the benchmark's directory of mixed files:

    python3 bench/kivscan/make_corpus.py OUTDIR [--variants N]

Every family the cascade knows, in N variants each (default 40: about 2,600 files), from the
fuzz seeds' builders (tests/fuzz/make_seeds.py), plus the project's samples, the office
fixtures written by a real office suite, files made by the Debian tools of tools/bootstrap.sh
(when present), and a few large files (1 to 8 MiB) of text, binary data and archives, since
real corpora hold those too and the generic stage reads such files whole.

OUTDIR/real/ holds files that Debian packages install, copied as they are (REAL_SETS below;
the packages are KIV_BENCH_PACKAGES and what the project's own packages bring): documentation
PDFs and HTML, Python and Perl sources, images, fonts, OpenDocument and Office templates, man
pages, package texts and programs. Each set takes files spread evenly over its size order, so
that the set keeps the size spread the packages have. Debian compresses documentation: a
PDF or a man page stored as .gz is copied decompressed, the way a reader gets it, and some
man pages are kept compressed as well.
"""
import gzip
import importlib.util
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def load_seeds():
    path = os.path.join(ROOT, "tests", "fuzz", "make_seeds.py")
    spec = importlib.util.spec_from_file_location("kiv_make_seeds", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def large_files(seeds):
    rng = random.Random(7)
    words = [b"alpha", b"beta", b"gamma", b"delta", b"file", b"type", b"engine", b"scan"]
    text = b"".join(b" ".join(rng.choice(words) for _ in range(12)) + b"\n" for _ in range(40000))
    binary = bytes(rng.getrandbits(8) for _ in range(2 * 1024 * 1024))
    return {
        "large-text-2m.txt": text[: 2 * 1024 * 1024],
        "large-text-8m.log": (text * 4)[: 8 * 1024 * 1024],
        "large-random-2m.bin": binary,
        "large-random-12m.bin": binary * 6,
        "large-archive.zip": seeds.SAMPLES.zip_of([("t%d.txt" % i, text[i * 1000:]) for i in range(3)],
                                                  zipfile.ZIP_STORED),
        "large-page.html": b"<html><body>" + b"<p>" * 1 + text.replace(b"\n", b"<br>\n")[: 3 * 1024 * 1024] +
                           b"</body></html>\n",
    }


# (set, packages, name patterns, files taken). A package that is not installed is skipped.
REAL_SETS = (
    ("pdf", ("python-reportlab-doc", "live-manual-pdf", "docbook-xsl-doc-pdf"), (r"\.pdf(\.gz)?$",), 60),
    ("html", ("libimage-exiftool-perl", "python-odf-doc", "valgrind", "python-reportlab-doc", "libpython3.11-stdlib"),
     (r"\.html?$",), 150),
    ("python", ("libpython3.11-stdlib", "python3-ezdxf", "python3-docx"), (r"\.py$",), 200),
    ("perl", ("perl-modules-5.36", "libimage-exiftool-perl"), (r"\.(pm|pl|pod)$",), 150),
    ("image", ("adwaita-icon-theme", "python-reportlab-doc", "python-odf-doc", "libimage-exiftool-perl",
               "imagemagick-6-common", "valgrind"), (r"\.(png|jpe?g|gif|svg|ico|xpm|bmp|tiff?)$",), 150),
    ("font", ("fonts-urw-base35", "fonts-dejavu-core"), (r"\.(ttf|otf|t1|pfb|afm)$",), 60),
    ("office", ("python-odf-doc", "python3-docx", "python-reportlab-doc"), (r"\.(od[tsgp]|ot[tsgp]|docx|xlsx|pptx)$",), 40),
    ("man", ("coreutils", "file", "qpdf", "imagemagick-6.q16", "sox", "libimage-exiftool-perl", "perl-modules-5.36",
             "valgrind", "p7zip-full"), (r"/man/.*\.gz$",), 150),
    ("text", ("coreutils", "libpython3.11-stdlib", "perl-modules-5.36", "libmagic-mgc", "qpdf", "valgrind",
              "python3-ezdxf"), (r"/copyright$", r"\.txt$", r"/changelog(\.Debian)?\.gz$"), 100),
    ("program", ("coreutils", "qpdf", "libqpdf29", "file", "libmagic1", "p7zip-full", "sox", "valgrind"),
     (r"/s?bin/[^/]+$", r"\.so[.0-9]*$"), 50),
)
# Decompressed copies are cut here: no package document comes near it.
REAL_GUNZIP_MAX = 64 * 1024 * 1024


def package_files(package):
    p = subprocess.run(["dpkg-query", "-L", package], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    if p.returncode != 0:
        sys.stderr.write("make_corpus: %s is not installed; its files are left out\n" % package)
        return []
    return [l for l in p.stdout.splitlines() if os.path.isfile(l) and not os.path.islink(l)]


def spread(paths, count):
    """count paths taken at even steps through the size order (all of them when fewer)."""
    by_size = sorted(paths, key=lambda p: (os.path.getsize(p), p))
    if len(by_size) <= count:
        return by_size
    return [by_size[i * (len(by_size) - 1) // (count - 1)] for i in range(count)]


def real_files(out):
    """Copies REAL_SETS into out/real/SET/; answers how many files were written."""
    written = 0
    for name, packages, patterns, count in REAL_SETS:
        found = sorted({f for pkg in packages for f in package_files(pkg)
                        if any(re.search(p, f) for p in patterns)})
        target = os.path.join(out, "real", name)
        os.makedirs(target, exist_ok=True)
        for i, src in enumerate(spread(found, count)):
            base = os.path.basename(src)
            # Man pages: every other one stays compressed, as it lies on disk.
            unpack = src.endswith(".gz") and (name != "man" or i % 2 == 0) and name != "text"
            dest = os.path.join(target, "%03d-%s" % (i, base[:-3] if unpack else base))
            if unpack:
                with gzip.open(src, "rb") as f:
                    data = f.read(REAL_GUNZIP_MAX)
                with open(dest, "wb") as f:
                    f.write(data)
            else:
                shutil.copyfile(src, dest)
            written += 1
    return written


def main(argv):
    args = list(argv)
    variants = 40
    if "--variants" in args:
        i = args.index("--variants")
        variants = int(args[i + 1])
        del args[i:i + 2]
    if len(args) != 1:
        sys.stderr.write(__doc__)
        return 2
    out = args[0]
    if os.path.isdir(out):
        shutil.rmtree(out)
    os.makedirs(out)
    seeds = load_seeds()
    files = {}
    for v in range(variants):
        for name, data in seeds.family_files(v).items():
            # The fixed tables repeat identically in every variant; one copy of them is enough.
            if v > 0 and name.split("-", 1)[0] in ("markup", "mail", "calendar", "office", "exe"):
                continue
            stem, dot, ext = name.partition(".")
            files["%s-%03d%s%s" % (stem, v, dot, ext)] = data
    files.update({"sample-" + k: v for k, v in seeds.SAMPLES.samples().items()})
    files.update({"real-" + k: v for k, v in seeds.read_dir(
        os.path.join(ROOT, "tests", "formats", "office", "fixtures", "real")).items()})
    with tempfile.TemporaryDirectory(prefix="kivbench.") as work:
        files.update(seeds.tool_files(work))
    files.update(large_files(seeds))
    seeds.write_dir(out, files)
    real = real_files(out)
    print("%d generated and %d real files in %s" % (len(files), real, out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
