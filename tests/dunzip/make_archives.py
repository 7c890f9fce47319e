#!/usr/bin/env python3
"""Builds the test archives for the unzip library with the usual tools
(Info-ZIP zip, Python's zipfile, bsdtar), next to the expected contents and
a manifest that the test program reads.

Usage: make_archives.py OUTDIR

Manifest lines (fields separated by one blank):
  archive NAME                 an archive file in OUTDIR
  file HEXNAME EXPECTED DOSTIME ATTRIBUTES
      HEXNAME   the flat file name, Windows-1252, hex encoded
      EXPECTED  the file in OUTDIR/expected holding the original bytes
      DOSTIME   DOS date-time in local time, 8 hex digits; - when not checked
      ATTRIBUTES DOS attributes expected after extraction, 2 hex digits; - when not checked
"""
import os
import random
import shutil
import subprocess
import sys
import time
import zipfile

STAMP = (2021, 3, 4, 5, 6, 8)


def dos_time(t):
    y, mo, d, h, mi, s = t
    return ((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) | (s // 2)


def stamp_files(root, stamp):
    epoch = time.mktime(stamp + (0, 0, -1))
    for folder, _, names in os.walk(root):
        for n in names:
            os.utime(os.path.join(folder, n), (epoch, epoch))


def main():
    out = os.path.abspath(sys.argv[1])
    shutil.rmtree(out, ignore_errors=True)
    tree = os.path.join(out, "tree")
    expected = os.path.join(out, "expected")
    os.makedirs(os.path.join(tree, "sub", "deeper"))
    os.makedirs(expected)
    rng = random.Random(437)
    contents = {
        "readme.txt": b"Hello from the test archive.\r\n" * 3,
        "empty.dat": b"",
        "sub/random.bin": bytes(rng.getrandbits(8) for _ in range(300 * 1024)),
        "sub/deeper/repeat.txt": b"abcdefghij" * 120000,
        "sub/Mixed Case.TXT": b"name with a blank\n",
    }
    expected_name = {}
    for i, (rel, data) in enumerate(contents.items()):
        with open(os.path.join(tree, rel), "wb") as f:
            f.write(data)
        expected_name[rel] = "tree_%d.bin" % i
        with open(os.path.join(expected, expected_name[rel]), "wb") as f:
            f.write(data)
    stamp_files(tree, STAMP)
    stamp = "%08x" % dos_time(STAMP)
    lines = []

    def manifest(archive, files, check_time=True):
        lines.append("archive " + archive)
        for name, expect, attributes in files:
            lines.append("file %s %s %s %s" % (name.encode("cp1252").hex(), expect,
                                               stamp if check_time else "-", attributes))

    tree_files = [(os.path.basename(rel), expected_name[rel], "-") for rel in contents]
    members = ["readme.txt", "empty.dat", "sub"]

    def run(args, **kw):
        subprocess.run(args, cwd=tree, check=True, **kw)

    for name, options in [("infozip_deflate9.zip", ["-9"]), ("infozip_stored.zip", ["-0"]),
                          ("infozip_descriptors.zip", ["-fd"]), ("infozip_zip64.zip", ["-fz"])]:
        run(["zip", "-q", "-r", "-X"] + options + [os.path.join(out, name)] + members)
        manifest(name, tree_files)
    # Written to a pipe (zip cannot seek back): data descriptors, and ZIP64
    # fields with -fz.
    def to_pipe(name, args, data=None):
        result = subprocess.run(args, cwd=tree, check=True, input=data, stdout=subprocess.PIPE)
        with open(os.path.join(out, name), "wb") as f:
            f.write(result.stdout)

    for name, options in [("infozip_stdout.zip", []), ("infozip_stdout_zip64.zip", ["-fz"])]:
        to_pipe(name, ["zip", "-q", "-r", "-X"] + options + ["-"] + members)
        manifest(name, tree_files)
    # Streamed input as well: the entry "-" has unknown size while zip writes it.
    to_pipe("infozip_stdin.zip", ["zip", "-q", "-fz", "-", "-"], contents["sub/random.bin"])
    manifest("infozip_stdin.zip", [("-", expected_name["sub/random.bin"], "-")], check_time=False)

    bsd = [("bsdtar_deflate.zip", []), ("bsdtar_stored.zip", ["--options", "zip:compression=store"])]
    for name, options in bsd:
        run(["bsdtar", "--format", "zip"] + options + ["-cf", os.path.join(out, name)] + members)
        manifest(name, tree_files)

    # Python: UTF-8 names (flag bit 11), stored and deflated, and entries
    # made on DOS whose attributes must come back.
    utf8 = {"Gr\u00fc\u00dfe.txt": b"Gr\xc3\xbc\xc3\x9fe\n" * 50, "\u20acuro/Pr\u00e4sentation.bin":
            bytes(rng.getrandbits(8) for _ in range(70000))}
    for name, method in [("python_stored.zip", zipfile.ZIP_STORED),
                         ("python_deflated.zip", zipfile.ZIP_DEFLATED)]:
        files = []
        with zipfile.ZipFile(os.path.join(out, name), "w", method) as z:
            for i, (entry, data) in enumerate(utf8.items()):
                info = zipfile.ZipInfo(entry, STAMP)
                info.compress_type = method
                z.writestr(info, data)
                expect = "%s_%d.bin" % (name, i)
                with open(os.path.join(expected, expect), "wb") as f:
                    f.write(data)
                files.append((entry.split("/")[-1], expect, "-"))
            z.writestr(zipfile.ZipInfo("\u20acuro/", STAMP), b"")
        manifest(name, files)

    files = []
    with zipfile.ZipFile(os.path.join(out, "python_dos.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for i, (entry, attributes) in enumerate([("READONLY.TXT", 0x21), ("HIDDEN.TXT", 0x22),
                                                  ("SYSTEM.TXT", 0x24), ("PLAIN.TXT", 0x20)]):
            info = zipfile.ZipInfo(entry, STAMP)
            info.create_system = 0
            info.external_attr = attributes
            info.compress_type = zipfile.ZIP_DEFLATED
            data = ("%s\r\n" % entry).encode() * (i + 1)
            z.writestr(info, data)
            expect = "dos_%d.bin" % i
            with open(os.path.join(expected, expect), "wb") as f:
                f.write(data)
            files.append((entry, expect, "%02x" % attributes))
    manifest("python_dos.zip", files)

    with open(os.path.join(out, "manifest.txt"), "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
