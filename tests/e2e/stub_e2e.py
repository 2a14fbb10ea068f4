#!/usr/bin/env python3
"""The real stub (`vezovud pack --stub`) used through its window under Wine: Alt+F4, then
Extract; signed with osslsigncode, it must still extract.

Usage: stub_e2e.py STUB_EXE WINDOW_TEXTS_EXE SCREENSHOT_DIR NATIVE_VEZOVUD"""
import os
import sys
import zipfile

import wine_ui as ui

STUB, TEXTS, SHOTS, NATIVE_TOOL = sys.argv[1:5]
FILES = {
    "readme.txt": b"Unpacked by the stub under Wine.\r\n" * 40,
    "empty.txt": b"",
    "with space.txt": b"a name with a space inside",
    "data/random.bin": os.urandom(300000),  # several inflate chunks
    "data/deep/er/leaf.txt": b"deep leaf\n" * 2000,
    "data/deep/zero": b"",
    "late/after-2037.txt": b"a date past the 32-bit seconds",
    # UTF-8 names must come out the same; the long one passes 300 characters below the destination.
    "caf\u00e9.txt": b"accented",
    "\u65e5\u672c\u8a9e/\u30c7\u30fc\u30bf.txt": b"CJK",
    "emoji \U0001F600.txt": b"astral plane",
    "/".join(["long-%02d-" % i + "x" * 80 for i in range(4)]) + "/leaf-" + "y" * 40 + ".txt":
        b"a path past 300 characters",
}


def sign(output, signed, work):
    key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
    r = ui.run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
               cert, "-days", "2", "-subj", "/CN=Vezovud test signer")
    ui.require(r.returncode == 0, "openssl makes a self-signed certificate")
    r = ui.run("osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Vezovud test", "-in",
               output, "-out", signed)
    ui.require(r.returncode == 0, "osslsigncode signs the output file " + r.stdout + r.stderr)
    ui.check(ui.run("osslsigncode", "verify", "-in", signed, "-CAfile", cert).returncode == 0,
             "the signature verifies")
    ui.check(os.path.getsize(signed) > os.path.getsize(output), "the signature follows the trailer")


def body(work, log):
    source = os.path.join(work, "source")
    times = {"data/random.bin": (2023, 12, 31, 23, 58, 59),
             "late/after-2037.txt": (2041, 2, 3, 4, 5, 6)}
    ui.make_source(source, FILES, (2006, 5, 17, 14, 37, 58), times, ["empty folder/inside"])
    minutes = {name: times.get(name, (2006, 5, 17, 14, 37))[:5] for name in FILES}
    output = os.path.join(work, "Setup.exe")
    r = ui.run(NATIVE_TOOL, "pack", source, output, "--stub", STUB, "--quiet")
    ui.require(r.returncode == 0, "vezovud pack --stub makes the output file " + r.stderr)
    with zipfile.ZipFile(output) as z:
        entries = len(z.infolist())

    dest = os.path.join(work, "out", "new", "dest")  # missing parents too
    ui.extract_through_window(output, dest, entries, log, shots="stub_e2e", tries=True)
    ui.compare(source, dest, FILES, minutes, "under Wine")

    signed = os.path.join(work, "Signed.exe")
    sign(output, signed, work)
    signed_dest = os.path.join(work, "out", "signed")
    ui.extract_through_window(signed, signed_dest, entries, log, "stub_e2e_signed")
    ui.compare(source, signed_dest, FILES, minutes, "signed, under Wine")


if __name__ == "__main__":
    sys.exit(ui.main(body, TEXTS, SHOTS))
