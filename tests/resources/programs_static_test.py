#!/usr/bin/env python3
"""The shipped Windows programs, read without running them: 32-bit GUI executables that import
system DLLs only, carrying their icons, version record and manifest; and the native tool's outputs
start with this very stub. Runs wherever the programs were built, also where no 32-bit code runs.

Usage: programs_static_test.py OBJDUMP MAKER_EXE STUB_EXE NATIVE_VEZOVUD"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile
from xml.etree import ElementTree

OBJDUMP, MAKER, STUB, NATIVE_TOOL = sys.argv[1:5]
# DLLs that every Windows has. Wine brings its own zlib1.dll and libgcc, so a program that imports
# them runs under Wine and fails on a real Windows: only the import list can tell.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll",
               "ole32.dll", "oleaut32.dll", "shell32.dll", "advapi32.dll", "msvcrt.dll"}
# Functions each program must import from each DLL: what it cannot do without.
NEEDED = {
    "stub": {"kernel32.dll": {"AllocConsole", "SetConsoleCtrlHandler", "CreateFileW",
                              "GetModuleFileNameW", "SetFileTime", "ExitProcess"},
             "user32.dll": {"MessageBoxA", "CreateWindowExA"}},
    "maker": {"kernel32.dll": {"CreateFileW", "GetTempPathA", "CreateThread"},
              "comdlg32.dll": {"GetSaveFileNameA"},
              "user32.dll": {"MessageBoxA", "CreateWindowExA"}},
}
RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 14, 16, 24
failures = []


def check(condition, label):
    print(("ok    " if condition else "FAIL  ") + label, flush=True)
    if not condition:
        failures.append(label)
    return condition


def run(*args):
    return subprocess.run(list(args), capture_output=True)


def imports(exe):
    """{dll: {function names}} from objdump's import tables."""
    table, dll = {}, None
    for line in run(OBJDUMP, "-p", exe).stdout.decode("latin-1").splitlines():
        named = re.match(r"\s*DLL Name: (\S+)", line)
        if named:
            dll = named.group(1).lower()
            table[dll] = set()
        elif dll and re.match(r"\s+[0-9a-f]+\s+[0-9]+\s+\S+$", line):
            table[dll].add(line.split()[-1])
        elif not line.strip():
            dll = None
    return table


def resource(exe, kind, name=1):
    """The raw bytes of one resource, or b"" (wrestool, from icoutils)."""
    return run("wrestool", "-x", "-R", "-t", str(kind), "-n", str(name), exe).stdout


def version_strings(record):
    """{key: value} of a VS_VERSIONINFO's string tables: blocks of length, value length, type,
    UTF-16 key, padding to 4 bytes, value, then child blocks."""
    found = {}

    def block(at, end):
        length, value_chars, is_text = struct.unpack_from("<HHH", record, at)
        key_end = at + 6
        while record[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = record[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_bytes = value_chars * 2 if is_text else value_chars
        if is_text and value_chars:
            found[key] = record[value_at:value_at + value_bytes].decode("utf-16-le").rstrip("\0")
        child = (value_at + value_bytes + 3) & ~3
        while child < min(at + length, end):
            child = (block(child, at + length) + 3) & ~3
        return at + length

    if len(record) >= 6:
        block(0, len(record))
    return found


def check_program(kind, exe, description):
    name = os.path.basename(exe)
    header = run(OBJDUMP, "-p", exe).stdout.decode("latin-1")
    check("file format pei-i386" in header, name + ": a 32-bit x86 executable (pei-i386)")
    check(re.search(r"Subsystem\s+00000002\s+\(Windows GUI\)", header) is not None,
          name + ": the Windows GUI subsystem")
    table = imports(exe)
    check(table and set(table) <= SYSTEM_DLLS,
          name + ": imports system DLLs only (no zlib1.dll, no libgcc): %r" % sorted(table))
    for dll, functions in NEEDED[kind].items():
        missing = functions - table.get(dll, set())
        check(not missing, "%s: imports %s from %s (missing: %r)" % (name, sorted(functions), dll,
                                                                    sorted(missing)))

    group = resource(exe, RT_GROUP_ICON)
    images = []
    if len(group) >= 6:
        count = struct.unpack_from("<H", group, 4)[0]
        for i in range(count):
            width, height, _, _, _, bits = struct.unpack_from("<BBBBHH", group, 6 + 14 * i)
            images.append((width, height, bits))
    check(sorted(images) == [(16, 16, 8), (32, 32, 8), (48, 48, 8)],
          name + ": icon group 1 holds 16, 32 and 48 pixel images of 256 colours: %r" % images)

    strings = version_strings(resource(exe, RT_VERSION))
    expected = {"ProductName": "Vezovud", "ProductVersion": "1.1", "FileVersion": "0.2",
                "InternalName": "Vezovud", "OriginalFilename": "None",
                "FileDescription": description}
    got = {key: strings.get(key) for key in expected}
    check(got == expected, name + ": version record %r" % got)

    manifest = resource(exe, RT_MANIFEST).decode("utf-8", "replace")
    for part in ('name="Microsoft.Windows.Common-Controls"', 'version="6.0.0.0"',
                 'processorArchitecture="x86"'):
        check(part in manifest, name + ": the manifest has " + part)
    # Run with the user's rights, also when named setup.exe: the loader reads the level only
    # at this place, in this namespace.
    v3 = "{urn:schemas-microsoft-com:asm.v3}"
    try:
        levels = [level.attrib for level in ElementTree.fromstring(manifest.encode("utf-8")).findall(
            "{0}trustInfo/{0}security/{0}requestedPrivileges/{0}requestedExecutionLevel".format(v3))]
    except ElementTree.ParseError as e:
        levels = [str(e)]
    check(levels == [{"level": "asInvoker", "uiAccess": "false"}],
          name + ": the manifest asks for asInvoker in trustInfo: %r" % levels)


def check_outputs_carry_the_stub():
    """The native tool's default stub is this build's stub: an output starts with its bytes and
    ends with the 4-byte trailer holding the archive's length."""
    with open(STUB, "rb") as f:
        stub = f.read()
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "source")
        os.makedirs(os.path.join(source, "sub"))
        with open(os.path.join(source, "sub", "a.txt"), "wb") as f:
            f.write(b"carried behind the stub\n" * 100)
        output = os.path.join(work, "out.exe")
        packed = run(NATIVE_TOOL, "pack", source, output, "--quiet")
        if not check(packed.returncode == 0, "vezovud pack writes an output file"):
            return
        with open(output, "rb") as f:
            data = f.read()
    check(data[:len(stub)] == stub, "the output starts with the stub, byte for byte")
    payload = len(data) - len(stub) - 4
    check(struct.unpack("<I", data[-4:])[0] == payload,
          "the trailer holds the archive's length (%d)" % payload)
    with tempfile.TemporaryFile() as copy:
        copy.write(data)
        with zipfile.ZipFile(copy) as z:
            check("sub\\a.txt" in z.namelist() and z.testzip() is None,
                  "the archive behind the stub reads back: %r" % z.namelist())


def main():
    check_program("maker", MAKER, "Vezovud Archive Maker")
    check_program("stub", STUB, "Vezovud Archive")
    check_outputs_carry_the_stub()
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
