#!/usr/bin/env python3
"""Signed packages against an independent tool: manifests made here (hashlib,
zipfile) and signed with `openssl dgst -sha256 -sign`, zrktool's own signature
checked with `openssl dgst -sha256 -verify`, and one table of packages run
through zrkupd with the test key built in (and one without a key): what is
refused ends with -1, nothing placed and the failed check in the log.

    signed_packages_test.py --bin BUILD/bin --key KEY.pem --work DIR [--wine]

With --wine the Windows binaries run under Wine (zrkupd through test_host,
which answers the message box; the caller's environment names the prefix),
for the rows that take the system's cryptography another way (a valid
signature, a changed file, a changed manifest): the rest is the same code on
both systems, and every Wine run costs seconds.
"""
import argparse
import hashlib
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import zipfile

FAILURES = []


def check(ok, what):
    if not ok:
        FAILURES.append(what)
        print("FAILED: " + what, file=sys.stderr)


def short(text):
    data = text.encode("cp1252")
    return bytes([len(data)]) + data


def openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, capture_output=True, check=True).stdout


def fingerprint(private_key):
    return hashlib.sha256(openssl("pkey", "-in", private_key, "-pubout", "-outform", "DER")).digest()


def manifest(entries, package, version, private_key):
    """MANIFEST.SIG as docs/signed-packages.md describes it."""
    body = b"ZRKMAN01" + struct.pack("<II", 0, len(entries)) + fingerprint(private_key)
    body += short(package) + short(version)
    for name, data in entries:
        body += short(name) + struct.pack("<Q", len(data)) + hashlib.sha256(data).digest()
    body = body[:8] + struct.pack("<I", len(body)) + body[12:]
    signature = openssl("dgst", "-sha256", "-sign", private_key, data=body)
    return body + struct.pack("<H", len(signature)) + signature


def zip_bytes(entries):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            z.writestr(zipfile.ZipInfo(name, (2024, 5, 1, 12, 0, 0)), data, zipfile.ZIP_DEFLATED)
    return out.getvalue()


def zip_entries(path):
    with zipfile.ZipFile(path) as z:
        return [(i.filename, z.read(i)) for i in z.infolist()]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--bin", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--wine", action="store_true")
    a = p.parse_args()
    work = os.path.abspath(a.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    exe = ".exe" if a.wine else ""

    def win(path):
        return "Z:" + path.replace("/", "\\") if a.wine else path

    def run(program, *args, ok=True):
        command = [os.path.join(a.bin, program + exe), *args]
        if a.wine:
            command.insert(0, "wine")
        r = subprocess.run(command, capture_output=True, text=True, errors="replace", timeout=120)
        if ok and r.returncode != 0:
            raise SystemExit(" ".join(command) + " failed:\n" + r.stdout + r.stderr)
        return r

    def updater(program):
        if not a.wine:
            env = dict(os.environ, XDG_RUNTIME_DIR=work)
            subprocess.run([os.path.join(a.bin, program), data, "0", "3"], cwd=work, env=env,
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        else:
            run("test_host", "--result", win(work + "/host.txt"), "--exe",
                win(os.path.join(a.bin, program + exe)), "--cwd", win(work), "--box-ms", "0",
                "--", win(data), "0", "3")

    other_key = os.path.join(work, "other.pem")
    openssl("ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", other_key)
    files = {"A": {"X.TXT": b"x" * 10, "Y.TXT": b"y" * 20, "BIG.DAT": os.urandom(200000)},
             "B": {"Z.TXT": b"z" * 30}}
    for folder, contents in [("files/a", files["A"]), ("files/b", files["B"]), ("Kast/A", {}),
                             ("Kast/B", {}), ("data", {})]:
        os.makedirs(os.path.join(work, folder))
        for name, data in contents.items():
            with open(os.path.join(work, folder, name), "wb") as f:
                f.write(data)
    data = os.path.join(work, "data")
    dest = [os.path.join(work, "Kast/A"), os.path.join(work, "Kast/B")]
    settings = {"AdminFileName": win(data + "/UPDADMIN.VAB"),
                "DownloadFileName": win(data + "/UPDDOWNL.VAB"),
                "DownloadFolder": win(work + "/download"), "StagingFolder": win(work + "/staging"),
                "DestFolders": [win(d) for d in dest], "AdminSeed": 4711, "UpdateTitle": "U",
                "DialogCaption": "D", "BrandText": "", "ExtraText1": "", "ExtraText2": "",
                "ExtraText3": "", "OptionFlag1": 1, "OptionFlag2": 1, "OptionByte": 1,
                "ExtraNumber1": 0, "ExtraNumber2": 0, "ExtraNumber3": 0}
    spec = {"Settings": settings, "Header": {"VersionText": "1.0", "OfferedVersionText": "2.0"},
            "Packages": [{"PackageFileName": "A.PKG", "DestIndex": 1, "Folder": "files/a",
                          "FilePaths": {"Y.TXT": 2}},
                         {"PackageFileName": "B.PKG", "DestIndex": 2, "Folder": "files/b"}]}
    with open(os.path.join(work, "spec.json"), "w") as f:
        json.dump(spec, f)

    pub = os.path.join(work, "key.pub.pem")
    openssl("pkey", "-in", a.key, "-pubout", "-out", pub)
    download = os.path.join(work, "download")

    def manifest_of(package_path):
        run("zrktool", "package", "extract", win(package_path), win(work + "/m.zip"))
        return dict(zip_entries(work + "/m.zip"))["MANIFEST.SIG"]

    if not a.wine:
        # zrktool signs natively; openssl must accept what it signed.
        run("zrktool", "update", "build", win(work + "/spec.json"), win(data), "--sign", a.key)
        made = manifest_of(os.path.join(download, "A.PKG"))
        size = struct.unpack_from("<I", made, 8)[0]
        length = struct.unpack_from("<H", made, size)[0]
        with open(work + "/body", "wb") as f:
            f.write(made[:size])
        with open(work + "/sig", "wb") as f:
            f.write(made[size + 2:size + 2 + length])
        verified = subprocess.run(["openssl", "dgst", "-sha256", "-verify", pub, "-signature",
                                   work + "/sig", work + "/body"], capture_output=True, text=True)
        check(verified.returncode == 0 and "Verified OK" in verified.stdout,
              "openssl verifies zrktool's signature: " + verified.stdout + verified.stderr)
        check(made[16:48] == fingerprint(a.key), "zrktool's manifest names the key's fingerprint")
        shown = run("zrktool", "package", "verify", download + "/A.PKG", "--key", pub).stdout
        check("signed with the key " + fingerprint(a.key).hex() in shown and
              "the signature is valid" in shown, "package verify: " + shown)
        other_pub = os.path.join(work, "other.pub.pem")
        openssl("pkey", "-in", other_key, "-pubout", "-out", other_pub)
        refused = run("zrktool", "package", "verify", download + "/A.PKG", "--key", other_pub,
                      ok=False)
        check(refused.returncode == 1 and "signed with another key" in refused.stdout,
              "package verify with another key: " + refused.stdout)
        shutil.rmtree(download)

    run("zrktool", "update", "build", win(work + "/spec.json"), win(data))
    template = {}
    for name in ["UPDADMIN.VAB", "ZRKUPD.DAT"]:
        with open(os.path.join(data, name), "rb") as f:
            template[name] = f.read()
    plain = {}
    for package in ["A", "B"]:
        run("zrktool", "package", "extract", win(f"{download}/{package}.PKG"),
            win(f"{work}/{package}.zip"))
        plain[package] = zip_entries(f"{work}/{package}.zip")
    signed = {pk: manifest(plain[pk], pk + ".PKG", "2.0", a.key) for pk in plain}
    tampered = bytearray(signed["A"])
    tampered[48 + len(short("A.PKG")) + 1] ^= 1  # the offered version's first character
    big = dict(plain["A"])["BIG.DAT"]
    A = plain["A"]

    def without(name):
        return [(n, d) for n, d in A if n != name]

    def renamed(old, new):
        return [(new if n == old else n, d) for n, d in A]

    def changed():
        return [(n, d[:100] + bytes([d[100] ^ 0xff]) + d[101:] if n == "BIG.DAT" else d)
                for n, d in A]

    # Rows whose name starts with "*" run under Wine as well.
    rows = [
        # name, program, A's entries, B's entries, expected result, text in the log
        ("*signed by openssl: applied", "zrkupd_keyed", A + [("MANIFEST.SIG", signed["A"])],
         plain["B"] + [("MANIFEST.SIG", signed["B"])], 0, "Signed with the key"),
        ("no key built in: a signed package as today", "zrkupd",
         A + [("MANIFEST.SIG", signed["A"])], plain["B"], 0, "Placed"),
        ("*one byte changed in one file", "zrkupd_keyed", changed() + [("MANIFEST.SIG", signed["A"])],
         None, -1, '"BIG.DAT" is not the signed one'),
        ("a file added", "zrkupd_keyed", A + [("EXTRA.TXT", b"e"), ("MANIFEST.SIG", signed["A"])],
         None, -1, '"EXTRA.TXT" is not among the signed files'),
        ("a file missing", "zrkupd_keyed", without("X.TXT") + [("MANIFEST.SIG", signed["A"])],
         None, -1, 'the signed file "X.TXT" is missing'),
        ("a file renamed", "zrkupd_keyed",
         renamed("X.TXT", "W.TXT") + [("MANIFEST.SIG", signed["A"])], None, -1,
         '"W.TXT" is not among the signed files'),
        ("the manifest of another package", "zrkupd_keyed", A + [("MANIFEST.SIG", signed["B"])],
         None, -1, 'signed for the package "B.PKG", not for "A.PKG"'),
        ("signed with another key", "zrkupd_keyed",
         A + [("MANIFEST.SIG", manifest(A, "A.PKG", "2.0", other_key))], None, -1,
         "signed with another key (" + fingerprint(other_key).hex()),
        ("*a manifest changed after signing", "zrkupd_keyed",
         A + [("MANIFEST.SIG", bytes(tampered))], None, -1, "signature of MANIFEST.SIG is not valid"),
        ("unsigned, with a key built in", "zrkupd_keyed", A, None, -1, "the package is not signed"),
    ]
    if a.wine:
        rows = [row for row in rows if row[0].startswith("*")]
    packed = {}

    def pack(package, entries):
        zipped = zip_bytes(entries)
        if zipped not in packed:
            with open(f"{work}/{package}.zip", "wb") as f:
                f.write(zipped)
            packed[zipped] = f"{work}/{package}-{len(packed)}.PKG"
            run("zrktool", "package", "pack", win(f"{work}/{package}.zip"), win(packed[zipped]))
        shutil.copyfile(packed[zipped], f"{download}/{package}.PKG")

    for name, program, a_entries, b_entries, expected, logged in rows:
        for folder in dest + [os.path.join(work, "staging")]:
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
        for file, content in template.items():
            with open(os.path.join(data, file), "wb") as f:
                f.write(content)
        if os.path.exists(os.path.join(data, "ZRKUPD.LOG")):
            os.remove(os.path.join(data, "ZRKUPD.LOG"))
        os.makedirs(download, exist_ok=True)
        for package, entries in [("A", a_entries), ("B", b_entries or plain["B"])]:
            pack(package, entries)
        if name.startswith("*signed by openssl"):
            # zrktool of the same build shows the key the program carries.
            shown = run("zrktool_keyed", "check", win(data)).stdout
            check("package key: " + fingerprint(a.key).hex() in shown,
                  "check shows the built-in key: " + shown)
            check("package A.PKG: verified" in shown and "signed with the built-in key" in shown,
                  "check finds A.PKG signed with the built-in key: " + shown)
        updater(program)
        with open(os.path.join(data, "ZRKUPD.LOG"), "rb") as f:
            log = f.read().decode("cp1252")
        placed = sorted(os.listdir(dest[0]) + os.listdir(dest[1]))
        check(f"Result {expected}:" in log and logged in log, f"{name}: log\n{log}")
        if expected == 0:
            check(placed == ["BIG.DAT", "X.TXT", "Y.TXT", "Z.TXT"],
                  f"{name}: every file placed, the manifest never: {placed}")
            check(open(os.path.join(dest[0], "BIG.DAT"), "rb").read() == big, f"{name}: BIG.DAT")
        else:
            check(placed == [], f"{name}: nothing placed: {placed}")
    if FAILURES:
        print(f"{len(FAILURES)} checks failed", file=sys.stderr)
        return 1
    print(f"{len(rows)} rows passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
