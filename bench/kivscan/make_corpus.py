#!/usr/bin/env python3
"""Writes the benchmark's directory of mixed files:

    python3 bench/kivscan/make_corpus.py OUTDIR [--variants N]

Every family the cascade knows, in N variants each (default 40: about 2,600 files), from the
fuzz seeds' builders (tests/fuzz/make_seeds.py), plus the project's samples, the office
fixtures written by a real office suite, files made by the Debian tools of tools/bootstrap.sh
(when present), and a few large files (1 to 8 MiB) of text, binary data and archives, since
real corpora hold those too and the generic stage reads such files whole.
"""
import importlib.util
import os
import random
import shutil
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
    print("%d files in %s" % (len(files), out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
