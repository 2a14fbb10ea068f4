#!/usr/bin/env python3
"""The round trip, run as a user would: `vezovud pack` a generated tree, then
`vezovud unpack` the output file, and compare the trees: the same folders and
files, the same bytes, and last-write times equal to the minute (the stored
time keeps even seconds and extraction sets the seconds to 0). The output
file must also pass Info-ZIP unzip, Python's zipfile and 7-Zip, and packing
the same tree twice must give the same bytes.
Usage: roundtrip_test.py PATH_TO_VEZOVUD"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

TOOL = sys.argv[1]
CHUNK_BYTES = 102400  # the archiver's read chunk; files around it test the edges
failures = []


def check(condition, label):
    print(("ok    " if condition else "FAIL  ") + label)
    if not condition:
        failures.append(label)


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True)


def local_stamp(year, month, day, hour, minute, second):
    return time.mktime((year, month, day, hour, minute, second, 0, 0, -1))


def to_minute(seconds):
    return time.localtime(seconds)[:5]


def tree(root):
    """Folders and files below root, as sorted lists of relative paths."""
    folders, files = [], []
    for here, dirs, names in os.walk(root):
        rel = os.path.relpath(here, root)
        for d in dirs:
            folders.append(os.path.normpath(os.path.join(rel, d)))
        for n in names:
            files.append(os.path.normpath(os.path.join(rel, n)))
    return sorted(folders), sorted(files)


def foreign_readers(path, expected):
    """unzip -t, zipfile.testzip and 7z t all pass, and zipfile reads back
    exactly the expected {stored name: bytes}."""
    with zipfile.ZipFile(path) as z:
        entries = len(z.infolist())
        check(z.testzip() is None, "zipfile.testzip() passes the output file")
        read_back = {i.filename: z.read(i) for i in z.infolist() if not i.filename.endswith("\\")
                     and i.filename != ""}
    check(read_back == expected, "zipfile reads back every file's bytes under its stored name")
    # unzip exits 1 (warnings only) for the stub's bytes in front of the
    # archive and for the folder's own entry, whose name is empty; a damaged
    # entry would give exit 2 or more and a line without "OK".
    unzip = subprocess.run(["unzip", "-t", path], capture_output=True, text=True)
    tested = [line for line in unzip.stdout.splitlines() if line.strip().startswith("testing:")]
    check(unzip.returncode in (0, 1) and len(tested) == entries and
          all(line.rstrip().endswith("OK") for line in tested),
          "unzip -t finds all %d entries OK (exit %d, %d tested)" %
          (entries, unzip.returncode, len(tested)))
    seven = subprocess.run(["7z", "t", path], capture_output=True, text=True)
    check(seven.returncode == 0 and "Everything is Ok" in seven.stdout,
          "7z t passes the output file (exit %d)" % seven.returncode)


work = tempfile.mkdtemp(prefix="vezovud-roundtrip-")
try:
    source = os.path.join(work, "source tree")
    rng = random.Random(5)
    text = "".join(rng.choice("abcdefghij klmnopqrstuvwxyz\r\n") for _ in range(250000)).encode()
    # Relative path (with "/") -> bytes; folders are made as needed.
    files = {
        "a.txt": b"hello, round trip\r\n" * 40,
        "README": b"a name without an extension\n",
        "empty.txt": b"",
        "with space.log": text[:5000],
        "bin/random.bin": bytes(rng.getrandbits(8) for _ in range(3 * CHUNK_BYTES + 17)),
        "bin/chunk-exact.dat": bytes((i * 31) & 0xFF for i in range(CHUNK_BYTES)),
        "bin/chunk-plus-one.dat": bytes((i * 7) & 0xFF for i in range(CHUNK_BYTES + 1)),
        "bin/zeros.bin": bytes(70000),
        "nested/deeper/deepest/leaf.txt": text,
        "nested/Mixed.Case.Name.TXT": b"dots and capitals",
        "old/from-1975.txt": b"older than the ZIP format's dates",
        "old/odd-second.txt": b"stored with even seconds",
        "old/from-2110.txt": b"later than the ZIP format's dates",
    }
    empty_folders = ["nested/empty folder", "solo"]
    for name, data in files.items():
        path = os.path.join(source, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    for name in empty_folders:
        os.makedirs(os.path.join(source, name), exist_ok=True)

    # Times: most files 2006-05-17 14:37:58; one at an odd second; one in
    # 1975, which the archive stores as 1980-01-01 00:00:00; one in 2110,
    # stored as 2107-12-31 23:59:58.
    stamps = {name: local_stamp(2006, 5, 17, 14, 37, 58) for name in files}
    stamps["old/odd-second.txt"] = local_stamp(2019, 11, 3, 8, 5, 59)
    stamps["bin/random.bin"] = local_stamp(2024, 2, 29, 23, 59, 30)
    stamps["old/from-1975.txt"] = local_stamp(1975, 6, 1, 12, 0, 0)
    stamps["old/from-2110.txt"] = local_stamp(2110, 3, 4, 5, 6, 7)
    for name, stamp in stamps.items():
        os.utime(os.path.join(source, name), (stamp, stamp))
    expected_minute = {name: to_minute(stamp) for name, stamp in stamps.items()}
    expected_minute["old/from-1975.txt"] = (1980, 1, 1, 0, 0)
    expected_minute["old/from-2110.txt"] = (2107, 12, 31, 23, 59)

    # Pack.
    output = os.path.join(work, "out", "round trip.exe")
    os.makedirs(os.path.dirname(output))
    r = run("pack", source, output)
    check(r.returncode == 0, "pack exits 0 (stderr: %r)" % r.stderr[-300:])
    check(r.stdout.strip().endswith("%d files added, %d bytes" % (len(files), os.path.getsize(output))
                                    if os.path.exists(output) else "no output"),
          "pack's summary names %d files and the output size: %r" % (len(files), r.stdout.strip()))

    stored = {name.replace("/", "\\"): data for name, data in files.items()}
    foreign_readers(output, stored)

    # The same tree packed again gives the same bytes.
    again = os.path.join(work, "out", "again.exe")
    r = run("pack", source, again, "--quiet")
    check(r.returncode == 0 and open(output, "rb").read() == open(again, "rb").read(),
          "the same tree packed twice gives byte-identical output")

    # Unpack into a folder that does not exist yet.
    dest = os.path.join(work, "unpacked", "here")
    r = run("unpack", output, dest)
    check(r.returncode == 0, "unpack exits 0 (stderr: %r)" % r.stderr[-300:])

    src_folders, src_files = tree(source)
    out_folders, out_files = tree(dest)
    check(out_folders == src_folders,
          "the same folders, empty ones included: missing %s, extra %s" %
          (sorted(set(src_folders) - set(out_folders)), sorted(set(out_folders) - set(src_folders))))
    # An empty file is stored as an entry of size 0 whose name has no final
    # "\", and must come back as an empty file, not as a folder.
    check(os.path.isfile(os.path.join(dest, "empty.txt")),
          "the empty file comes back as an empty file")
    check(out_files == src_files,
          "the same files: missing %s, extra %s" %
          (sorted(set(src_files) - set(out_files)), sorted(set(out_files) - set(src_files))))
    for name, data in files.items():
        path = os.path.join(dest, name)
        if not os.path.isfile(path):
            continue
        check(open(path, "rb").read() == data, name + ": the same bytes")
        got = to_minute(os.path.getmtime(path))
        check(got == expected_minute[name],
              name + ": last-write time %s, expected %s" % (got, expected_minute[name]))
        check(time.localtime(os.path.getmtime(path)).tm_sec == 0, name + ": seconds set to 0")
finally:
    shutil.rmtree(work, ignore_errors=True)

print("%d failed" % len(failures))
sys.exit(1 if failures else 0)
