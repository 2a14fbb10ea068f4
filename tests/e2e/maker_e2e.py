#!/usr/bin/env python3
"""The Maker used through its window under Wine: type a folder, Squeeze!, an output name without
".exe", the "Ready" box, Exit; the output must be byte for byte what `vezovud pack` writes.

Usage: maker_e2e.py MAKER_EXE WINDOW_TEXTS_EXE SCREENSHOT_DIR NATIVE_VEZOVUD STUB_EXE
(STUB_EXE: the stub the Maker carries, which vezovud pack is given)"""
import os
import sys

import wine_ui as ui

MAKER, TEXTS, SHOTS, NATIVE_TOOL, STUB = sys.argv[1:6]
TITLE = "Vezovud v1.0"

FILES = {
    "readme.txt": b"Packed by the Maker, unpacked by its stub.\r\n" * 30,
    "LICENSE": b"a name without an extension\n",
    "empty.txt": b"",
    "data/random.bin": os.urandom(250000),  # three 102,400-byte chunks
    "data/deep/er/leaf.txt": b"deep leaf\n" * 1000,
    "old/from-1975.txt": b"older than ZIP dates: clamped to 1980 by both",
}


def run_maker(source, output_base, log):
    maker = ui.start(MAKER, log)
    window = ui.find_window(TITLE, "the Maker's window appears", maker, ui.WINDOW_TIMEOUT_S)
    ui.click_control(window, TITLE, "Edit")
    ui.type_text(ui.windows_path(source))
    ui.require(ui.texts_of(TITLE, "Edit") == [ui.windows_path(source)],
               "the folder field holds the typed folder")
    ui.screenshot("maker_e2e", [window])
    ui.click_control(window, TITLE, "Button", "Squeeze!")
    ui.find_window("Please choose file to save", "Squeeze! opens the save dialog", maker)
    ui.type_text(ui.windows_path(output_base))  # the file name field has the focus
    ui.xdotool("key", "Return")
    box = ui.find_window("Ready", "the job ends with the \"Ready\" box", maker)
    ready = "The archive was created sucessfully. %d files were added." % len(FILES)
    ui.check(ready in ui.texts_of("Ready"), "the Ready box says: " + ready)
    ui.screenshot("maker_e2e_ready", [window, box])
    ui.press_enter_on(box)
    ui.wait_for(lambda: not ui.windows_titled("Ready"), "Enter dismisses the \"Ready\" box")
    ui.click_control(window, TITLE, "Button", "Exit")
    code = ui.wait_exit(maker, "Exit ends the Maker")
    ui.check(code == 0, "the Maker exits with code 0 after Exit (got %d)" % code)


def body(work, log):
    source = os.path.join(work, "source")
    times = {"data/random.bin": (2023, 12, 31, 23, 58, 59),
             "old/from-1975.txt": (1975, 3, 3, 3, 3, 3)}
    ui.make_source(source, FILES, (2011, 8, 9, 10, 11, 13), times, ["empty folder"])
    output_base = os.path.join(work, "made", "Setup-1")
    os.makedirs(os.path.dirname(output_base))
    run_maker(source, output_base, log)
    output = output_base + ".exe"
    ui.require(os.path.isfile(output) and not os.path.exists(output_base),
               "the output file exists with \".exe\" appended")
    again = os.path.join(work, "made", "by-vezovud.exe")
    ui.run(NATIVE_TOOL, "pack", source, again, "--stub", STUB, "--quiet")
    ui.check(os.path.isfile(again) and open(again, "rb").read() == open(output, "rb").read(),
             "vezovud pack writes the same bytes as the Maker")


if __name__ == "__main__":
    sys.exit(ui.main(body, TEXTS, SHOTS))
