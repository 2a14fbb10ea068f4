#!/usr/bin/env python3
"""`vezovud pack` a tree, then `vezovud unpack` it: the same folders (empty
ones too), files, bytes, and times to the minute with seconds 0. Packing twice
gives the same bytes. Usage: roundtrip_test.py PATH_TO_VEZOVUD"""
import os
import pathlib
import random
import shutil
import struct
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
        "nested/caf\u00e9-\u65e5\u672c.txt": "UTF-8 name, text inside".encode(),
        "bin/beyond-memory.bin": rng.randbytes(12 * CHUNK_BYTES),  # a spilled stream
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
    # Deflated in turn (the Maker's way) or by 2 or 4 threads: the same bytes.
    again = os.path.join(work, "out", "again.exe")
    for jobs in ("1", "2", "4"):
        r = run("pack", source, again, "--quiet", "--jobs", jobs)
        check(r.returncode == 0 and open(output, "rb").read() == open(again, "rb").read(),
              "the same tree packed again, --jobs %s, gives byte-identical output" % jobs)

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

    # What pack refuses: the reason names the item, exit 1, no output, and
    # nothing planted is followed or touched.
    outside = os.path.join(work, "outside")
    os.makedirs(outside)
    open(os.path.join(outside, "secret.txt"), "wb").write(b"not to be packed")
    victim = os.path.join(work, "victim")
    open(victim, "wb").write(b"keep me")
    refused = os.path.join(work, "out", "refused.exe")
    part = refused + ".vezovud-part"
    inside = os.path.join(source, "inside.exe")
    rows = [  # label, item made in the source (or planted), the output, words in stderr
        ("a name Windows cannot hold", "what?.txt", None, refused,
         "what?.txt has a name Windows cannot hold"),
        ("a link to a folder outside", "etc", outside, refused,
         "etc is a link leading outside the folder"),
        ("a link to a file outside", "secret", os.path.join(outside, "secret.txt"), refused,
         "secret is a link leading outside the folder"),
        ("names that differ in case only", "A.TXT", None, refused,  # a.txt comes second
         "a.txt differs from another name in its folder only in case"),
        ("a name ending in a dot", "trailing.", None, refused,
         "trailing. ends in a dot or a space"),
        ("an output inside the folder", None, None, inside,
         "would lie inside the folder being packed"),
        ("a link planted as the part file", None, None, refused,
         "refused.exe.vezovud-part"),
    ]
    for label, item, target, out, words in rows:
        made = os.path.join(source, item) if item else part
        if target:
            os.symlink(target, made)
        elif item:
            open(made, "wb").close()
        else:
            os.symlink(victim, part)
        r = run("pack", source, out, "--quiet")
        check(r.returncode == 1 and words in r.stderr and not os.path.exists(out) and
              open(victim, "rb").read() == b"keep me", "pack refuses %s: %r" % (label, r.stderr[-300:]))
        if label.startswith("a link to a folder"):
            r = run("pack", source, refused, "--quiet", "--follow-links")
            check(r.returncode == 0 and ": %d files added" % (len(files) + 1) in r.stdout,
                  "--follow-links packs what the link leads to")
            os.remove(refused)
        os.remove(made)
    check(os.listdir(os.path.join(work, "out")) == ["round trip.exe", "again.exe"] or
          sorted(os.listdir(os.path.join(work, "out"))) == ["again.exe", "round trip.exe"],
          "no part file or output left behind")

    # 70,000 files: the end record's 16-bit counts overflow, so the Zip64 end
    # records carry the true count (relative to the archive's first byte).
    many = os.path.join(work, "many")
    os.makedirs(many)
    for i in range(70000):
        open(os.path.join(many, "f%05d" % i), "wb").close()
    big = os.path.join(work, "out", "many.exe")
    r = run("pack", many, big, "--quiet")
    check(r.returncode == 0 and ": 70000 files added" in r.stdout, "pack counts 70,000 files")
    data = open(big, "rb").read()
    end = len(data) - 4 - 22
    zip64, locator = end - 20 - 56, end - 20
    size, at = struct.unpack("<II", data[end + 12:end + 20])
    start = zip64 - size - at  # where the archive starts behind the stub
    check(data[end:end + 12] == b"PK\x05\x06" + bytes(4) + b"\xff\xff\xff\xff" and
          struct.unpack("<IIQI", data[locator:locator + 20]) == (0x07064b50, 0, zip64 - start, 1) and
          struct.unpack("<IQHHIIQQQQ", data[zip64:zip64 + 56]) ==
          (0x06064b50, 44, 45, 45, 0, 0, 70001, 70001, size, at),
          "Zip64 end record and locator before the end record, which keeps 0xFFFF")
    check(foreign_readers_accept(big), "foreign readers accept 70,001 entries")
finally:
    shutil.rmtree(work, ignore_errors=True)
finish()
