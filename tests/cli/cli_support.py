"""Shared by the command-line tests: the tool under test (argv[1]), checks that
print one line each, output files, and the foreign readers."""
import struct
import subprocess
import sys
import zipfile

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
    """A stub-like prefix, the archive and the 4-byte trailer."""
    stub = b"MZ" + bytes((i * 7 + 3) & 0xFF for i in range(prefix - 2))
    return stub + archive_bytes + struct.pack("<I", len(archive_bytes))


def foreign_readers_accept(path):
    """unzip -t (exit 1 warns of the bytes in front), zipfile.testzip, 7z t."""
    with zipfile.ZipFile(path) as z:
        python_ok = z.testzip() is None
    return (python_ok and subprocess.run(["7z", "t", path], capture_output=True).returncode == 0
            and subprocess.run(["unzip", "-tqq", path], capture_output=True).returncode in (0, 1))


def finish():
    print("%d failed" % len(failures))
    sys.exit(1 if failures else 0)
