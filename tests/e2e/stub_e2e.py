#!/usr/bin/env python3
"""The real stub (`vezovud pack --stub`) used through its window under Wine: Alt+F4, then
Extract; run from folders whose names lie outside the ANSI code page and from a path past 260
characters, it must find its own file each time.

Usage: stub_e2e.py STUB_EXE WINDOW_TEXTS_EXE SCREENSHOT_DIR NATIVE_VEZOVUD"""
import os
import shutil
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


# Where the output is run from, below the work folder: (label, folder). The stub reads its own
# file by the path the system gives it, which must survive each of these.
PLACES = [
    ("CJK folder", "\u6570\u636e"),
    ("emoji folder", "emoji \U0001F600"),
    ("path past 260 characters", os.path.join(*["folder-%d-" % i + "p" * 60 for i in range(4)])),
]


def body(work, log):
    source = os.path.join(work, "source")
    times = {"data/random.bin": (2023, 12, 31, 23, 58, 59),
             "late/after-2037.txt": (2041, 2, 3, 4, 5, 6)}
    ui.make_source(source, FILES, (2006, 5, 17, 14, 37, 58), times, ["empty folder/inside"])
    minutes = {name: times.get(name, (2006, 5, 17, 14, 37))[:5] for name in FILES}
    packed = os.path.join(work, "Setup.exe")
    r = ui.run(NATIVE_TOOL, "pack", source, packed, "--stub", STUB, "--quiet")
    ui.require(r.returncode == 0, "vezovud pack --stub makes the output file " + r.stderr)
    with zipfile.ZipFile(packed) as z:
        entries = len(z.infolist())

    longest = ui.windows_path(os.path.join(work, "from", PLACES[-1][1], "Setup.exe"))
    ui.require(len(longest) > 260, "the long path has %d characters" % len(longest))
    for number, (label, folder) in enumerate(PLACES):
        output = os.path.join(work, "from", folder, "Setup.exe")
        os.makedirs(os.path.dirname(output))
        shutil.copyfile(packed, output)
        dest = os.path.join(work, "out", str(number), "new", "dest")  # missing parents too
        # Alt+F4 is tried once: the window must stay.
        ui.extract_through_window(output, dest, entries, log, "stub_e2e_%d" % number,
                                  tries=number == 0)
        ui.compare(source, dest, FILES, minutes, "run from a " + label + ", under Wine")


if __name__ == "__main__":
    sys.exit(ui.main(body, TEXTS, SHOTS))
