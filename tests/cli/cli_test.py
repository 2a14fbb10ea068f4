#!/usr/bin/env python3
"""Runs the built vezovud tool as a user would: list, test and unpack over
output files (stub-sized prefix + archive + trailer) and plain archives,
crafted failures, exit codes and messages. Usage: cli_test.py PATH_TO_VEZOVUD"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

TOOL = sys.argv[1]
STUB_BYTES = 59392
failures = []


def check(condition, label):
    print(("ok    " if condition else "FAIL  ") + label)
    if not condition:
        failures.append(label)


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True)


def output_file(archive_bytes, prefix=STUB_BYTES):
    stub = b"MZ" + bytes((i * 7 + 3) & 0xFF for i in range(prefix - 2))
    return stub + archive_bytes + struct.pack("<I", len(archive_bytes))


def foreign_readers_accept(path):
    unzip = subprocess.run(["unzip", "-tqq", path], capture_output=True).returncode
    with zipfile.ZipFile(path) as z:
        python_ok = z.testzip() is None
    seven = subprocess.run(["7z", "t", path], capture_output=True).returncode
    return unzip in (0, 1) and python_ok and seven == 0


def crafted(entries):
    """A ZIP laid out as the folder archiver writes it; entries are
    (name, data, crc_override, size_override)."""
    body, central = b"", b""
    for name, data, crc, size in entries:
        name = name.encode("latin-1")
        c = zlib.compressobj(9, zlib.DEFLATED, -15)
        packed = c.compress(data) + c.flush()
        crc = zlib.crc32(data) if crc is None else crc
        size = len(data) if size is None else size
        fields = struct.pack("<HHHHHIIIHH", 20, 2, 8, 0x7475, 0x34B1, crc,
                             len(packed), size, len(name), 0)
        central += b"PK\x01\x02" + struct.pack("<H", 0) + fields + \
            struct.pack("<HHHII", 0, 0, 0, 0, len(body)) + name
        body += b"PK\x03\x04" + fields + name + packed
    end = b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, len(entries), len(entries),
                                      len(central), len(body), 0)
    return body + central + end


work = tempfile.mkdtemp(prefix="vezovud-cli-")
try:
    source = os.path.join(work, "src")
    os.makedirs(os.path.join(source, "sub", "deep"))
    files = {
        "a.txt": b"plain text " * 100,
        "sub/b.bin": os.urandom(200000),
        "sub/deep/c.txt": b"c",
    }
    stamp = time.mktime((2006, 5, 17, 14, 37, 58, 0, 0, -1))
    for name, data in files.items():
        with open(os.path.join(source, name), "wb") as f:
            f.write(data)
        os.utime(os.path.join(source, name), (stamp, stamp))

    # Plain archive from Python's zipfile, and one from Info-ZIP zip.
    plain = os.path.join(work, "plain.zip")
    with zipfile.ZipFile(plain, "w", zipfile.ZIP_DEFLATED) as z:
        for name in files:
            z.write(os.path.join(source, name), name)
    infozip = os.path.join(work, "infozip.zip")
    subprocess.run(["zip", "-qr9", infozip, "."], cwd=source, check=True)
    exe = os.path.join(work, "setup.exe")
    with open(plain, "rb") as f, open(exe, "wb") as out:
        out.write(output_file(f.read()))
    for path in (plain, infozip, exe):
        check(foreign_readers_accept(path), "foreign readers accept " + os.path.basename(path))

    r = run("list", exe)
    lines = r.stdout.splitlines()
    check(r.returncode == 0 and len(lines) == 3, "list prints one line per entry, exit 0")
    first = lines[0].split("\t") if lines else []
    check(first[:2] == ["a.txt", "1100"] and len(first) == 5 and
          first[3] == "2006-05-17 14:37:58" and
          first[4] == "%08x" % zlib.crc32(files["a.txt"]),
          "list fields: name, size, compressed size, date and time, CRC")

    r = run("test", exe)
    check(r.returncode == 0 and "3 entries OK" in r.stdout, "test passes a sound file")

    for label, archive in (("output file", exe), ("Info-ZIP archive", infozip)):
        dest = os.path.join(work, "out-" + label.replace(" ", "-"), "new", "dest")
        r = run("unpack", archive, dest)
        check(r.returncode == 0 and r.stderr == "",
              label + ": unpack exits 0, no progress bar when stderr is no terminal")
        same = all(open(os.path.join(dest, n), "rb").read() == d for n, d in files.items())
        check(same, label + ": every file matches byte for byte")
        mtime = os.path.getmtime(os.path.join(dest, "a.txt"))
        check(time.localtime(mtime)[:6] == (2006, 5, 17, 14, 37, 0),
              label + ": last-write time from the stored fields, seconds 0")

    # Empty archive: exit 0, only the destination made.
    empty = os.path.join(work, "empty.exe")
    with open(empty, "wb") as f:
        f.write(output_file(crafted([])))
    dest = os.path.join(work, "out-empty")
    r = run("unpack", empty, dest)
    check(r.returncode == 0 and os.path.isdir(dest) and os.listdir(dest) == [],
          "empty archive: exit 0, destination made, nothing else")
    check(run("list", empty).returncode == 0, "empty archive lists")

    # Empty files: size-0 entries whose names do not end in "\\" are files,
    # those that do are folders (as the archiver writes them).
    empties = os.path.join(work, "empties.exe")
    with open(empties, "wb") as f:
        f.write(output_file(crafted([
            ("", b"", None, None),
            ("sub\\", b"", None, None),
            ("sub\\empty.txt", b"", None, None),
            ("sub\\folder\\", b"", None, None),
            ("other/deep/zero", b"", None, None),
            ("a.txt", b"a", None, None),
        ])))
    dest = os.path.join(work, "out-empties")
    r = run("unpack", empties, dest)
    check(r.returncode == 0 and r.stderr == "", "empty files: unpack exits 0")
    for name in ("sub/empty.txt", "other/deep/zero"):
        path = os.path.join(dest, name)
        check(os.path.isfile(path) and os.path.getsize(path) == 0,
              "empty file comes out as an empty file: " + name)
    check(time.localtime(os.path.getmtime(os.path.join(dest, "sub/empty.txt")))[:5] ==
          (2006, 5, 17, 14, 35), "empty file gets its stored time")
    check(os.path.isdir(os.path.join(dest, "sub/folder")), "folder entry makes a folder")
    zipped = os.path.join(work, "zipped-empty.zip")
    with zipfile.ZipFile(zipped, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("nothing.txt", b"")
        z.writestr("dir/", b"")
    check(foreign_readers_accept(empties) and foreign_readers_accept(zipped),
          "foreign readers accept the archives with empty files")
    dest = os.path.join(work, "out-zipped-empty")
    r = run("unpack", zipped, dest)
    check(r.returncode == 0 and os.path.isfile(os.path.join(dest, "nothing.txt")) and
          os.path.isdir(os.path.join(dest, "dir")),
          "zipfile archive: empty file and folder come out")
    lying = os.path.join(work, "lying.exe")
    with open(lying, "wb") as f:
        f.write(output_file(crafted([("victim.txt", b"had data", None, 0)])))
    dest = os.path.join(work, "out-lying")
    os.makedirs(dest)
    with open(os.path.join(dest, "victim.txt"), "wb") as f:
        f.write(b"keep me")
    r = run("unpack", lying, dest)
    check(r.returncode == 1 and "failed: victim.txt: CRC mismatch" in r.stderr and
          open(os.path.join(dest, "victim.txt"), "rb").read() == b"keep me",
          "size-0 entry with the CRC of data fails and replaces nothing")

    # Round trip through pack: an empty file in the source comes back.
    help_text = run("--help").stdout
    if "pack" in help_text.replace("unpack", ""):
        tree = os.path.join(work, "tree")
        os.makedirs(os.path.join(tree, "hollow"))
        os.makedirs(os.path.join(tree, "sub"))
        open(os.path.join(tree, "sub", "empty.dat"), "wb").close()
        with open(os.path.join(tree, "full.txt"), "wb") as f:
            f.write(b"full")
        packed = os.path.join(work, "tree.zip")
        r = run("pack", tree, packed)
        check(r.returncode == 0, "pack a tree with an empty file: " + r.stderr.strip())
        dest = os.path.join(work, "out-tree")
        r = run("unpack", packed, dest)
        check(r.returncode == 0 and os.path.isfile(os.path.join(dest, "sub", "empty.dat")) and
              os.path.getsize(os.path.join(dest, "sub", "empty.dat")) == 0 and
              os.path.isdir(os.path.join(dest, "hollow")),
              "pack then unpack keeps the empty file and the empty folder")

    # Failures: bad CRC, hostile name, over-long name; the good ones still come out.
    bad = os.path.join(work, "bad.exe")
    with open(bad, "wb") as f:
        f.write(output_file(crafted([
            ("good.txt", b"good", None, None),
            ("victim.txt", b"tampered", 0x12345678, None),
            ("..\\evil.txt", b"evil", None, None),
            ("n" * 300, b"long", None, None),
            ("short.txt", b"tiny", None, 2000000000),
        ])))
    dest = os.path.join(work, "out-bad")
    os.makedirs(dest)
    with open(os.path.join(dest, "victim.txt"), "wb") as f:
        f.write(b"keep me")
    r = run("unpack", bad, dest)
    check(r.returncode == 1, "unpack with failed entries exits 1")
    for name in ("victim.txt", "..\\evil.txt", "n" * 300, "short.txt"):
        check("failed: " + name + ":" in r.stderr, "failed entry named: " + name[:20])
    check("4 of 5 entries could not be extracted" in r.stderr, "count of failures")
    check(open(os.path.join(dest, "victim.txt"), "rb").read() == b"keep me",
          "bad CRC never replaces an existing file")
    check(not os.path.exists(os.path.join(work, "evil.txt")), "nothing lands outside")
    check(sorted(os.listdir(dest)) == ["good.txt", "victim.txt"], "nothing else written")
    r = run("test", bad)
    check(r.returncode == 1 and "failed: victim.txt: CRC mismatch" in r.stderr,
          "test reports the CRC mismatch, exit 1")

    # No archive, and usage errors.
    lone = os.path.join(work, "lone.exe")
    with open(lone, "wb") as f:
        f.write(output_file(b"")[:STUB_BYTES])
    for command in (["list", lone], ["test", lone], ["unpack", lone, dest]):
        r = run(*command)
        check(r.returncode == 1 and ("no archive found in " + lone) in r.stderr,
              command[0] + ": no archive found, exit 1")
    r = run("list", os.path.join(work, "missing.exe"))
    check(r.returncode == 1 and "no archive found in" in r.stderr, "missing file: exit 1")
    for args in ([], ["list"], ["unpack", exe], ["frobnicate", exe], ["test", exe, "extra"]):
        check(run(*args).returncode == 2, "usage error exits 2: " + " ".join(args))
    r = run("--help")
    check(r.returncode == 0 and "usage: vezovud" in r.stdout and "unpack" in r.stdout,
          "--help prints the usage, exit 0")

    # The progress bar appears on a terminal (a pseudo-terminal here).
    import pty
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(TOOL, [TOOL, "unpack", exe, os.path.join(work, "out-tty")])
    seen = b""
    while True:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    _, status = os.waitpid(pid, 0)
    check(os.WEXITSTATUS(status) == 0 and b"] 3/3" in seen, "progress bar on a terminal")
finally:
    shutil.rmtree(work, ignore_errors=True)

print("%d failed" % len(failures))
sys.exit(1 if failures else 0)
