#!/usr/bin/env python3
"""`vezovud pack` a tree, then `vezovud unpack` it: the same folders (empty
ones too), files, bytes, and times to the minute with seconds 0. Packing twice
gives the same bytes. Usage: roundtrip_test.py PATH_TO_VEZOVUD"""
import os
import pathlib
import random
import shutil
import subprocess
import tempfile
import time
from cli_support import check, run, foreign_readers_accept, finish

CHUNK_BYTES = 102400  # the archiver's read chunk


def tree(root):
    """Sorted relative paths below root, folders ending in "/"."""
    return sorted(str(p.relative_to(root)) + "/" * p.is_dir() for p in pathlib.Path(root).rglob("*"))


work = tempfile.mkdtemp(prefix="vezovud-roundtrip-")
try:
    source = os.path.join(work, "source tree")
    rng = random.Random(5)
    text = "".join(rng.choice("abcdefghij klmnopqrstuvwxyz\r\n") for _ in range(250000)).encode()
    files = {
        "a.txt": b"hello, round trip\r\n" * 40,
        "README": b"a name without an extension\n",
        "empty.txt": b"",
        "with space.log": text[:5000],
        "bin/random.bin": rng.randbytes(3 * CHUNK_BYTES + 17),
        "bin/chunk-exact.dat": rng.randbytes(CHUNK_BYTES),
        "nested/deeper/deepest/leaf.txt": text,
        "nested/Mixed.Case.Name.TXT": b"dots and capitals",
    }
    for name in ("nested/empty folder", "solo"):
        os.makedirs(os.path.join(source, name))
    for i, (name, data) in enumerate(files.items()):
        path = pathlib.Path(source, name)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        stamp = time.mktime((2006 + i, 5, 17, 14, 37 + i, 58 + i % 2, 0, 0, -1))
        os.utime(path, (stamp, stamp))

    output = os.path.join(work, "out", "round trip.exe")
    os.makedirs(os.path.dirname(output))
    r = run("pack", source, output)
    summary = ": %d files added, %d bytes\n" % (len(files), os.path.getsize(output))
    check(r.returncode == 0 and r.stdout.endswith(summary),
          "pack exits 0 and sums up files and bytes: %r %r" % (r.stdout, r.stderr[-300:]))
    check(foreign_readers_accept(output), "foreign readers accept the output file")
    again = os.path.join(work, "out", "again.exe")
    r = run("pack", source, again, "--quiet")
    check(r.returncode == 0 and open(output, "rb").read() == open(again, "rb").read(),
          "the same tree packed twice gives byte-identical output")

    dest = os.path.join(work, "unpacked", "here")
    r = run("unpack", output, dest)
    check(r.returncode == 0, "unpack exits 0 (stderr: %r)" % r.stderr[-300:])
    check(tree(dest) == tree(source), "the same folders and files: %r" % tree(dest))
    for name, data in files.items():
        path = pathlib.Path(dest, name)
        got = time.localtime(path.stat().st_mtime) if path.is_file() else None
        check(got and path.read_bytes() == data and got.tm_sec == 0 and
              got[:5] == time.localtime(os.path.getmtime(os.path.join(source, name)))[:5],
              name + ": the same bytes, the time to the minute, seconds 0")

    # A name Windows cannot hold: reported by name, exit 1, nothing written.
    open(os.path.join(source, "what?.txt"), "wb").close()
    bad = os.path.join(work, "out", "bad.exe")
    r = run("pack", source, bad, "--quiet")
    check(r.returncode == 1 and "what?.txt has a name Windows cannot hold" in r.stderr and
          not os.path.exists(bad), "pack refuses a name Windows cannot hold, exit 1")
finally:
    shutil.rmtree(work, ignore_errors=True)
finish()
