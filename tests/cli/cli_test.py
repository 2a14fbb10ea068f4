#!/usr/bin/env python3
"""vezovud list, test and unpack as a user runs them: exit codes, messages,
and the progress bar on a terminal only. The reader's own rules are checked
by the native tests. Usage: cli_test.py PATH_TO_VEZOVUD"""
import io
import os
import pty
import shutil
import struct
import subprocess
import tempfile
import zipfile
import zlib
from cli_support import TOOL, STUB_BYTES, check, run, output_file, foreign_readers_accept, finish


def write_output(path, entries, damage=None):
    """An output file around a ZIP that Python's zipfile writes, with the
    bytes damage[0] replaced by damage[1]."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        for name, data in entries:
            z.writestr(name, data, zipfile.ZIP_DEFLATED)
    with open(path, "wb") as f:
        f.write(output_file(buffer.getvalue().replace(*damage) if damage else buffer.getvalue()))


work = tempfile.mkdtemp(prefix="vezovud-cli-")
try:
    files = {"a.txt": b"plain text " * 100, "sub/b.bin": os.urandom(200000), "sub/deep/c.txt": b"c"}
    exe = os.path.join(work, "setup.exe")
    write_output(exe, [(zipfile.ZipInfo(n, (2006, 5, 17, 14, 37, 58)), d) for n, d in files.items()])
    check(foreign_readers_accept(exe), "foreign readers accept the output file")

    r = run("list", exe)
    lines = [line.split("\t") for line in r.stdout.splitlines()]
    check(r.returncode == 0 and len(lines) == 3 and lines[0][:2] == ["a.txt", "1100"] and
          lines[0][3:] == ["2006-05-17 14:37:58", "%08x" % zlib.crc32(files["a.txt"])],
          "list: a line per entry of name, size, compressed size, date and time, CRC; exit 0")
    r = run("test", exe)
    check(r.returncode == 0 and "3 entries OK" in r.stdout, "test passes a sound file, exit 0")
    dest = os.path.join(work, "out", "new", "dest")
    r = run("unpack", exe, dest)
    check(r.returncode == 0 and r.stderr == "" and
          all(open(os.path.join(dest, n), "rb").read() == d for n, d in files.items()),
          "unpack: every file byte for byte, exit 0, no progress bar off a terminal")
    empty = os.path.join(work, "empty.exe")
    write_output(empty, [])
    r = run("unpack", empty, os.path.join(work, "out-empty"))
    check(r.returncode == 0 and os.listdir(os.path.join(work, "out-empty")) == [],
          "empty archive: exit 0, the destination made, nothing else")

    # Failed entries are named and counted, exit 1; the good one still comes out.
    bad = os.path.join(work, "bad.exe")
    bad_crc = (struct.pack("<I", zlib.crc32(b"tampered")), struct.pack("<I", 0x12345678))
    write_output(bad, [("good.txt", b"good"), ("victim.txt", b"tampered"), ("..\\evil.txt", b"")],
                 bad_crc)  # the CRC damaged in both headers
    dest = os.path.join(work, "out-bad")
    os.makedirs(dest)
    open(os.path.join(dest, "victim.txt"), "wb").write(b"keep me")
    r = run("unpack", bad, dest)
    check(r.returncode == 1 and "failed: victim.txt: CRC mismatch" in r.stderr and
          "failed: ..\\evil.txt: unsafe name" in r.stderr and
          "2 of 3 entries could not be extracted" in r.stderr and
          sorted(os.listdir(dest)) == ["good.txt", "victim.txt"] and
          open(os.path.join(dest, "victim.txt"), "rb").read() == b"keep me",
          "unpack names each failure, exit 1; the good entry out, the bad CRC replaces nothing")
    r = run("test", bad)
    check(r.returncode == 1 and "failed: victim.txt: CRC mismatch" in r.stderr and
          "1 of 3 entries failed the test" in r.stderr, "test reports the CRC mismatch, exit 1")

    lone = os.path.join(work, "lone.exe")
    open(lone, "wb").write(output_file(b"")[:STUB_BYTES])
    for command in (["list", lone], ["test", lone], ["unpack", lone, dest]):
        r = run(*command)
        check(r.returncode == 1 and ("no archive found in " + command[1]) in r.stderr,
              command[0] + ": no archive found, exit 1")
    # A directory whose end record hides its records is damaged: nothing written.
    hidden = os.path.join(work, "hidden.exe")
    write_output(hidden, [("victim.txt", b"evil")],
                 (b"PK\x05\x06\0\0\0\0\x01\0\x01\0", b"PK\x05\x06" + bytes(8)))
    r = run("unpack", hidden, os.path.join(work, "out-hidden"))
    check(r.returncode == 1 and "damaged archive" in r.stderr and "nothing was extracted" in r.stderr
          and not os.path.exists(os.path.join(work, "out-hidden")),
          "unpack: a damaged directory is refused whole, exit 1, nothing written")

    # Names print with control bytes escaped: no forged lines, no terminal escapes.
    forged = os.path.join(work, "forged.exe")
    write_output(forged, [("a\x1b[2J\nforged\tline.txt", b"x")])
    r = run("list", forged)
    check(r.returncode == 0 and r.stdout.startswith("a\\x1b[2J\\x0aforged\\x09line.txt\t") and
          r.stdout.count("\n") == 1 and "\x1b" not in r.stdout, "list escapes control bytes in names")

    # Plain archives other readers take: empty, and with the longest comment.
    plain = os.path.join(work, "plain.zip")
    for label, comment in (("empty archive of 22 bytes", b""), ("comment of 65,535 bytes", b"c" * 65535)):
        with zipfile.ZipFile(plain, "w") as z:
            z.comment = comment
            if comment:
                z.writestr("a.txt", b"a")
        r = run("test", plain)
        check(r.returncode == 0 and ("%d entries OK" % (1 if comment else 0)) in r.stdout, "test: " + label)

    r = run("list", os.path.join(work, "missing.exe"))
    check(r.returncode == 1 and "the file cannot be read" in r.stderr, "list: missing file, exit 1")
    for args in ([], ["list"], ["unpack", exe], ["unpack", exe, ""], ["frobnicate", exe],
                 ["test", exe, "extra"], ["pack", work]):
        check(run(*args).returncode == 2, "usage error exits 2: %r" % args)
    r = run("--help")
    check(r.returncode == 0 and "usage: vezovud" in r.stdout, "--help prints the usage, exit 0")
    for command in ("pack", "list", "test", "unpack"):
        r = run(command, "--help")
        check(r.returncode == 0 and ("usage: vezovud " + command) in r.stdout,
              command + " --help prints its usage, exit 0")

    # The progress bar appears on a terminal (a pseudo-terminal here).
    leader, follower = pty.openpty()
    r = subprocess.run([TOOL, "unpack", exe, os.path.join(work, "out-tty")], stderr=follower)
    os.close(follower)
    check(r.returncode == 0 and b"] 3/3" in os.read(leader, 65536), "progress bar on a terminal")
finally:
    shutil.rmtree(work, ignore_errors=True)
finish()
