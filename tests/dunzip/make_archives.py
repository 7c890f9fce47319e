#!/usr/bin/env python3
"""Builds the test archives for the unzip library with the usual tools
(Info-ZIP zip, Python's zipfile, bsdtar, 7-Zip), next to the expected
contents and a manifest that the test program reads. A maker whose tool is
missing is left out, with a note.

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
import struct
import subprocess
import sys
import time
import zipfile

STAMP = (2021, 3, 4, 5, 6, 8)
LATE_STAMP = (2021, 12, 31, 23, 59, 58)
# Hosts in "version made by" whose attributes are DOS attributes.
HOST_DOS, HOST_NTFS, HOST_VFAT = 0, 11, 14


class RawNameInfo(zipfile.ZipInfo):
    """An entry whose header name is stored as given (latin-1 code points
    stand for the bytes), without the UTF-8 flag: as DOS and Windows tools
    write code page 437 names."""

    def _encodeFilenameFlags(self):
        return self.filename.encode("latin-1"), self.flag_bits


def have(tool):
    if shutil.which(tool):
        return True
    print("make_archives: %s not found, its archives are left out" % tool, file=sys.stderr)
    return False


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
        "sub/\u00dcbersicht \u00df.txt": "Gr\u00fc\u00dfe\n".encode("cp1252"),
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
        for name, expect, attributes, *own_stamp in files:
            when = "%08x" % dos_time(own_stamp[0]) if own_stamp else stamp
            lines.append("file %s %s %s %s" % (name.encode("cp1252").hex(), expect,
                                               when if check_time else "-", attributes))

    tree_files = [(os.path.basename(rel), expected_name[rel], "-") for rel in contents]
    members = ["readme.txt", "empty.dat", "sub"]

    def run(args, locale="C.UTF-8"):
        env = dict(os.environ, LC_ALL=locale)
        subprocess.run(args, cwd=tree, check=True, env=env, stdout=subprocess.DEVNULL)

    # Info-ZIP on Linux stores the umlaut name as UTF-8 bytes without the
    # UTF-8 flag.
    infozip = have("zip")
    for name, options in [] if not infozip else [("infozip_deflate9.zip", ["-9"]), ("infozip_stored.zip", ["-0"]),
                          ("infozip_descriptors.zip", ["-fd"]), ("infozip_zip64.zip", ["-fz"])]:
        run(["zip", "-q", "-r", "-X"] + options + [os.path.join(out, name)] + members)
        manifest(name, tree_files)
    # Written to a pipe (zip cannot seek back): data descriptors, and ZIP64
    # fields with -fz.
    def to_pipe(name, args, data=None):
        result = subprocess.run(args, cwd=tree, check=True, input=data, stdout=subprocess.PIPE)
        with open(os.path.join(out, name), "wb") as f:
            f.write(result.stdout)

    for name, options in [] if not infozip else [("infozip_stdout.zip", []),
                                                  ("infozip_stdout_zip64.zip", ["-fz"])]:
        to_pipe(name, ["zip", "-q", "-r", "-X"] + options + ["-"] + members)
        manifest(name, tree_files)
    # Streamed input as well: the entry "-" has unknown size while zip writes it.
    if infozip:
        to_pipe("infozip_stdin.zip", ["zip", "-q", "-fz", "-", "-"], contents["sub/random.bin"])
        manifest("infozip_stdin.zip", [("-", expected_name["sub/random.bin"], "-")],
                 check_time=False)

    # bsdtar sets the UTF-8 flag in a UTF-8 locale; in the C locale it stores
    # the bytes without it.
    bsd = [("bsdtar_deflate.zip", [], "C.UTF-8"),
           ("bsdtar_stored.zip", ["--options", "zip:compression=store"], "C")]
    for name, options, locale in bsd if have("bsdtar") else []:
        run(["bsdtar", "--format", "zip"] + options + ["-cf", os.path.join(out, name)] + members,
            locale)
        manifest(name, tree_files)
    # The current folder archived whole, as Windows' own tar.exe (bsdtar) is
    # used there: a "./" folder item comes first.
    if have("bsdtar"):
        run(["bsdtar", "-a", "-cf", os.path.join(out, "bsdtar_dot.zip"), "."])
        manifest("bsdtar_dot.zip", tree_files)

    # 7-Zip: stored and strongest, NTFS times in an extra block, UTF-8 names.
    for name, options in [] if not have("7zz") else [
            ("7zip_stored.zip", ["-mx=0"]), ("7zip_ultra.zip", ["-mx=9"]),
            ("7zip_ntfs_times.zip", ["-mtc=on"]), ("7zip_utf8.zip", ["-mcu=on"])]:
        run(["7zz", "a", "-tzip", "-bd"] + options + [os.path.join(out, name)] + members)
        manifest(name, tree_files)

    # Python's own archives from (entry, data, flat name, attributes[, stamp]),
    # their entries compressed with `method`, and empty entries `bare`
    # behind them; the expected files are called PREFIX_<index>.bin.
    def python_zip(name, method, entries, prefix, bare=()):
        files = []
        with zipfile.ZipFile(os.path.join(out, name), "w", method) as z:
            for i, (info, data, flat, attributes, *when) in enumerate(entries):
                info.compress_type = method
                z.writestr(info, data)
                expect = "%s_%d.bin" % (prefix, i)
                with open(os.path.join(expected, expect), "wb") as f:
                    f.write(data)
                files.append((flat, expect, attributes, *when))
            for info in bare:
                z.writestr(info, b"")
        manifest(name, files)

    # UTF-8 names (flag bit 11), stored and deflated.
    utf8 = {"Gr\u00fc\u00dfe.txt": b"Gr\xc3\xbc\xc3\x9fe\n" * 50, "\u20acuro/Pr\u00e4sentation.bin":
            bytes(rng.getrandbits(8) for _ in range(70000))}
    for name, method in [("python_stored.zip", zipfile.ZIP_STORED),
                         ("python_deflated.zip", zipfile.ZIP_DEFLATED)]:
        python_zip(name, method, [(zipfile.ZipInfo(entry, STAMP), data, entry.split("/")[-1], "-")
                                  for entry, data in utf8.items()],
                   name, [zipfile.ZipInfo("\u20acuro/", STAMP)])

    # Header names as DOS and Windows tools write them: code page 437 bytes
    # without a flag (German letters whose bytes are well-formed UTF-8 too),
    # and Info-ZIP's Unicode path block for a name that code page 437 cannot
    # hold.
    unicode_name = "Sm\u00f8rrebr\u00f8d.txt".encode("utf-8")
    entries = []
    for i, (raw, extra, name) in enumerate([
            ("\x9abersicht \xe1.txt", b"", "\u00dcbersicht \u00df.txt"),
            ("Gr\xe1\x84\x81e.txt", b"", "Gr\u00df\u00e4\u00fce.txt"),
            ("Smorrebrod.txt", struct.pack("<HHBI", 0x7075, 5 + len(unicode_name), 1,
                                           zipfile.crc32(b"Smorrebrod.txt")) + unicode_name,
             "Sm\u00f8rrebr\u00f8d.txt")]):
        info = RawNameInfo(raw, STAMP)
        info.create_system = HOST_DOS
        info.extra = extra
        entries.append((info, ("%s\r\n" % name).encode("cp1252") * (i + 1), name, "-"))
    python_zip("python_cp437.zip", zipfile.ZIP_DEFLATED, entries, "cp437")

    # Attributes made on DOS, NTFS and VFAT come back; one entry was written
    # in the last hour of a day.
    entries = []
    for i, (entry, host, attributes, when) in enumerate([
            ("READONLY.TXT", HOST_DOS, 0x21, STAMP), ("HIDDEN.TXT", HOST_DOS, 0x22, STAMP),
            ("SYSTEM.TXT", HOST_DOS, 0x24, STAMP), ("PLAIN.TXT", HOST_DOS, 0x20, STAMP),
            ("NTFS_RO.TXT", HOST_NTFS, 0x21, LATE_STAMP), ("NTFS_HID.TXT", HOST_NTFS, 0x22, STAMP),
            ("VFAT_RO.TXT", HOST_VFAT, 0x01, STAMP)]):
        info = zipfile.ZipInfo(entry, when)
        info.create_system = host
        info.external_attr = attributes
        entries.append((info, ("%s\r\n" % entry).encode() * (i + 1), entry, "%02x" % attributes,
                        when))
    python_zip("python_dos.zip", zipfile.ZIP_DEFLATED, entries, "dos")

    with open(os.path.join(out, "manifest.txt"), "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
