#!/usr/bin/env python3
"""An output signed with osslsigncode and a throwaway certificate made by openssl: the signature
verifies, it lies behind the trailer with the archive untouched, and the signed output still
extracts, with vezovud (test, unpack) and with the stub through its window under Wine.

Usage: signing_e2e.py STUB_EXE WINDOW_TEXTS_EXE SCREENSHOT_DIR NATIVE_VEZOVUD"""
import os
import struct
import sys
import zipfile

import wine_ui as ui

STUB, TEXTS, SHOTS, NATIVE_TOOL = sys.argv[1:5]
FILES = {
    "readme.txt": b"Signed, then unpacked.\r\n" * 50,
    "empty.txt": b"",
    "data/random.bin": os.urandom(200000),
    "\u65e5\u672c\u8a9e.txt": b"CJK",
}
STAMP = (2019, 6, 1, 12, 30, 40)
SECURITY_DIRECTORY = 4  # the data directory of the attribute certificate table


def header_fields(exe):
    """The PE file's checksum offset, and the offset, size and place of its attribute certificate
    table's entry among the data directories (offset and size 0: no table)."""
    optional = struct.unpack_from("<I", exe, 0x3C)[0] + 24
    magic = struct.unpack_from("<H", exe, optional)[0]
    entry = optional + (96 if magic == 0x10B else 112) + 8 * SECURITY_DIRECTORY  # PE32, PE32+
    return (optional + 64,) + struct.unpack_from("<II", exe, entry) + (entry,)


def sign(output, signed, work):
    key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
    r = ui.run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
               cert, "-days", "2", "-subj", "/CN=Vezovud test signer")
    ui.require(r.returncode == 0, "openssl makes a self-signed certificate " + r.stderr)
    r = ui.run("osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Vezovud test", "-in",
               output, "-out", signed)
    ui.require(r.returncode == 0, "osslsigncode signs the output file " + r.stdout + r.stderr)
    r = ui.run("osslsigncode", "verify", "-in", signed, "-CAfile", cert)
    ui.check(r.returncode == 0, "osslsigncode verify accepts the signature " + r.stdout + r.stderr)


def check_layout(output, signed):
    """The signature is appended: stub, archive and trailer keep their bytes (only the PE header's
    checksum and certificate entry change), then zeros up to a multiple of 8, then the table."""
    with open(output, "rb") as f:
        before = f.read()
    with open(signed, "rb") as f:
        after = bytearray(f.read())
    checksum, offset, size, entry = header_fields(after)
    ui.check(header_fields(before)[1:3] == (0, 0), "the unsigned output has no certificate table")
    ui.check(offset == (len(before) + 7) // 8 * 8 and offset + size == len(after),
             "the certificate table (%d bytes at %d) ends the file, after the trailer (%d)"
             % (size, offset, len(before)))
    after[checksum:checksum + 4] = before[checksum:checksum + 4]
    after[entry:entry + 8] = before[entry:entry + 8]
    ui.check(after[:len(before)] == before,
             "the stub, the archive and the trailer keep their bytes but for two header fields")
    ui.check(after[len(before):offset] == bytes(offset - len(before)), "zeros pad the trailer")


def body(work, log):
    source = os.path.join(work, "source")
    ui.make_source(source, FILES, STAMP, {}, ["empty folder"])
    output, signed = os.path.join(work, "Setup.exe"), os.path.join(work, "Signed.exe")
    r = ui.run(NATIVE_TOOL, "pack", source, output, "--stub", STUB, "--quiet")
    ui.require(r.returncode == 0, "vezovud pack --stub makes the output file " + r.stderr)
    sign(output, signed, work)
    check_layout(output, signed)

    r = ui.run(NATIVE_TOOL, "test", signed)
    ui.check(r.returncode == 0, "vezovud test passes the signed output " + r.stdout + r.stderr)
    dest = os.path.join(work, "unpacked")
    r = ui.run(NATIVE_TOOL, "unpack", signed, dest)
    ui.check(r.returncode == 0, "vezovud unpack extracts the signed output " + r.stderr)
    minutes = {name: STAMP[:5] for name in FILES}
    ui.compare(source, dest, FILES, minutes, "vezovud unpack")

    with zipfile.ZipFile(output) as z:
        entries = len(z.infolist())
    dest = os.path.join(work, "by-stub")
    ui.extract_through_window(signed, dest, entries, log, "signing_e2e")
    ui.compare(source, dest, FILES, minutes, "signed, under Wine")


if __name__ == "__main__":
    sys.exit(ui.main(body, TEXTS, SHOTS))
