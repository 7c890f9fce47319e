#!/usr/bin/env python3
"""Writes a ZIP archive again so that it depends on its contents alone.

usage: normalise_zip.py ARCHIVE EPOCH

Entries sorted by name, every entry dated EPOCH (UTC), programs and libraries
0755 and everything else 0644, no extra fields, deflated at level 9.
"""
import os
import sys
import time
import zipfile


def main():
    archive, epoch = sys.argv[1], int(sys.argv[2])
    # A ZIP entry cannot be dated before 1980.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(archive) as source:
        entries = [(info.filename, info.is_dir(), source.read(info)) for info in source.infolist()]
    entries.sort(key=lambda e: e[0])
    temporary = archive + ".tmp"
    with zipfile.ZipFile(temporary, "w") as target:
        for name, is_dir, data in entries:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 3
            if is_dir:
                info.external_attr = (0o40755 << 16) | 0x10
                target.writestr(info, b"")
                continue
            executable = name.lower().endswith((".exe", ".dll"))
            info.external_attr = (0o100755 if executable else 0o100644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            target.writestr(info, data, compresslevel=9)
    os.replace(temporary, archive)


if __name__ == "__main__":
    main()
