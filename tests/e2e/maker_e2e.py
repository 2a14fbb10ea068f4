#!/usr/bin/env python3
"""The Maker and the file it makes, used through their windows under Wine as
a user would: type a folder into the Maker, press Squeeze!, type an output
name without ".exe" into the save dialog, read the "Ready" box; then run the
output file, type a destination, press Extract, read the end box; compare the
extracted tree with the source, byte for byte and to the minute. Screenshots
of both windows go to the screenshots folder: maker_e2e.png and
stub_from_maker.png with the typed folders, maker_e2e_ready.png and
stub_from_maker_end.png with the boxes that end the two runs.

Usage: maker_e2e.py MAKER_EXE WINDOW_TEXTS_EXE SCREENSHOT_DIR [NATIVE_VEZOVUD]
DISPLAY (an X server, Xvfb) and WINEPREFIX come from the environment, as
scripts/test.sh sets them. Every Wine process the test starts is ended."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

MAKER, WINDOW_TEXTS, SHOTS = sys.argv[1], sys.argv[2], sys.argv[3]
NATIVE_TOOL = sys.argv[4] if len(sys.argv) > 4 else ""

# Client-area coordinates of the gadgets (centres), from the windows' layouts.
MAKER_CLIENT = (253, 161)
MAKER_FOLDER_FIELD = (5 + 90, 60 + 10)
MAKER_EXIT = (125 + 30, 135 + 10)
MAKER_SQUEEZE = (190 + 30, 135 + 10)
STUB_CLIENT = (253, 125)
STUB_DEST_FIELD = (5 + 90, 55 + 10)
STUB_EXTRACT = (180 + 35, 100 + 10)
STUB_EMPTY_SPOT = (3, 98)  # no gadget here: a click only brings the window up

WINDOW_TIMEOUT_S = 30  # the first Wine start of a program can be slow
BOX_TIMEOUT_S = 20

failures = []
started = []  # Popen objects of the Wine programs this test runs


class Abort(Exception):
    pass


def check(condition, label):
    print(("ok    " if condition else "FAIL  ") + label, flush=True)
    if not condition:
        failures.append(label)
    return condition


def require(condition, label):
    if not check(condition, label):
        raise Abort(label)


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True,
                          timeout=10)


def find_window(title, timeout, what):
    """X window id of the visible top-level window titled exactly title."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        for program in started:
            if program.poll() is not None and program.returncode != 0:
                raise Abort("%s: a Wine program ended early with code %d while waiting for %s"
                            % (title, program.returncode, what))
        r = xdotool("search", "--onlyvisible", "--name", "^%s$" % title.replace(".", "\\."))
        ids = r.stdout.split()
        if ids:
            return ids[0]
        time.sleep(0.2)
    raise Abort("timeout after %d s: %s (no window titled %r)" % (timeout, what, title))


def wait_gone(title, timeout, what):
    deadline = time.time() + timeout
    while time.time() < deadline:
        r = xdotool("search", "--onlyvisible", "--name", "^%s$" % title.replace(".", "\\."))
        if not r.stdout.split():
            return
        time.sleep(0.2)
    raise Abort("timeout after %d s: %s (window %r still up)" % (timeout, what, title))


def geometry(window):
    """Screen position and size of the window's frame: x, y, width, height."""
    values = {}
    for line in xdotool("getwindowgeometry", "--shell", window).stdout.splitlines():
        key, _, value = line.partition("=")
        values[key] = value
    if not all(k in values for k in ("X", "Y", "WIDTH", "HEIGHT")):
        raise Abort("xdotool getwindowgeometry gave nothing for window %s" % window)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def client_origin(window, client_size):
    """Screen position of the client area: Wine draws the frame itself (no
    window manager), a border of equal width on three sides, the caption on top."""
    x, y, width, height = geometry(window)
    border = (width - client_size[0]) // 2
    return x + border, y + height - client_size[1] - border


def click_client(window, client_size, point):
    ox, oy = client_origin(window, client_size)
    xdotool("mousemove", ox + point[0], oy + point[1], "click", "1")
    time.sleep(0.3)


def type_text(text):
    xdotool("type", "--delay", "15", text)
    time.sleep(0.3)


def press_box_ok(window):
    """Clicks the single OK button of a message box: centred, near its bottom."""
    x, y, width, height = geometry(window)
    xdotool("mousemove", x + width // 2, y + height - 25, "click", "1")


def window_texts(title):
    """[(class, enabled, text)] of the window titled title and its children."""
    r = subprocess.run(["wine", WINDOW_TEXTS, title], capture_output=True, text=True, timeout=30)
    rows = []
    for line in r.stdout.splitlines():
        parts = line.rstrip("\r").split("\t", 2)
        if len(parts) == 3:
            rows.append((parts[0], parts[1] == "1", parts[2]))
    return rows


def screenshot(name, windows):
    """Cuts the rectangle around the given windows out of a screen shot."""
    os.makedirs(SHOTS, exist_ok=True)
    screen = os.path.join(SHOTS, name + "-screen.png")
    subprocess.run(["import", "-window", "root", screen], check=True, timeout=30)
    boxes = [geometry(w) for w in windows]
    left = min(b[0] for b in boxes)
    top = min(b[1] for b in boxes)
    right = max(b[0] + b[2] for b in boxes)
    bottom = max(b[1] + b[3] for b in boxes)
    path = os.path.join(SHOTS, name + ".png")
    subprocess.run(["convert", screen, "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top),
                    "+repage", path], check=True, timeout=30)
    os.remove(screen)
    print("      screenshot: " + path, flush=True)


def start(program, log):
    p = subprocess.Popen(["wine", program], stdout=log, stderr=subprocess.STDOUT,
                         stdin=subprocess.DEVNULL)
    started.append(p)
    return p


def wait_exit(program, timeout, what):
    try:
        return program.wait(timeout)
    except subprocess.TimeoutExpired:
        raise Abort("timeout after %d s: %s (the program is still running)" % (timeout, what))


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def local_stamp(year, month, day, hour, minute, second):
    return time.mktime((year, month, day, hour, minute, second, 0, 0, -1))


def tree(root):
    folders, files = [], []
    for here, dirs, names in os.walk(root):
        rel = os.path.relpath(here, root)
        folders += [os.path.normpath(os.path.join(rel, d)) for d in dirs]
        files += [os.path.normpath(os.path.join(rel, n)) for n in names]
    return sorted(folders), sorted(files)


def make_source(source):
    files = {
        "readme.txt": b"Packed by the Maker, unpacked by its stub.\r\n" * 30,
        "LICENSE": b"a name without an extension\n",
        "empty.txt": b"",
        "data/random.bin": os.urandom(250000),  # three 102,400-byte chunks
        "data/deep/er/leaf.txt": b"deep leaf\n" * 1000,
        "old/from-1975.txt": b"older than ZIP dates",
    }
    for name, data in files.items():
        path = os.path.join(source, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(source, "empty folder"))
    stamps = {name: local_stamp(2011, 8, 9, 10, 11, 13) for name in files}
    stamps["data/random.bin"] = local_stamp(2023, 12, 31, 23, 58, 59)
    stamps["old/from-1975.txt"] = local_stamp(1975, 3, 3, 3, 3, 3)
    for name, stamp in stamps.items():
        os.utime(os.path.join(source, name), (stamp, stamp))
    minutes = {name: time.localtime(stamp)[:5] for name, stamp in stamps.items()}
    minutes["old/from-1975.txt"] = (1980, 1, 1, 0, 0)  # clamped to the first ZIP date
    return files, minutes


def run_maker(source, output_base, log):
    maker = start(MAKER, log)
    window = find_window("Vezovud v1.0", WINDOW_TIMEOUT_S, "the Maker's window appears")
    time.sleep(0.5)  # let the gadgets paint
    click_client(window, MAKER_CLIENT, MAKER_FOLDER_FIELD)
    type_text(windows_path(source))
    fields = [text for cls, _, text in window_texts("Vezovud v1.0") if cls == "Edit"]
    require(fields == [windows_path(source)],
            "the folder field holds the typed folder: %r" % fields)
    screenshot("maker_e2e", [window])
    click_client(window, MAKER_CLIENT, MAKER_SQUEEZE)
    find_window("Please choose file to save", BOX_TIMEOUT_S, "Squeeze! opens the save dialog")
    time.sleep(0.5)  # the file name field has the focus
    type_text(windows_path(output_base))
    xdotool("key", "Return")

    box = find_window("Ready", BOX_TIMEOUT_S, "the job ends with the \"Ready\" box")
    time.sleep(0.5)
    texts = [row[2] for row in window_texts("Ready")]
    check("The archive was created sucessfully. %d files were added." % EXPECTED_FILES in texts,
          "the Ready box says %d files were added: %r" % (EXPECTED_FILES, texts))
    rows = window_texts("Vezovud v1.0")
    buttons = {text: enabled for cls, enabled, text in rows if cls == "Button"}
    bars = [text for cls, _, text in rows if cls == "msctls_progress32"]
    check(bars == ["100"], "while the box is up the bar stands at 100: %r" % bars)
    check(buttons.get("Exit") is False and buttons.get("Squeeze!") is False and
          buttons.get("Browse") is False and buttons.get("About") is True,
          "while the box is up Exit, Squeeze! and Browse are disabled, About is not: %r" % buttons)
    screenshot("maker_e2e_ready", [window, box])
    press_box_ok(box)
    wait_gone("Ready", BOX_TIMEOUT_S, "OK dismisses the \"Ready\" box")

    # Back to Idle.
    deadline = time.time() + 10
    while True:
        rows = window_texts("Vezovud v1.0")
        labels = [text for cls, _, text in rows if cls == "Static"]
        buttons = {text: enabled for cls, enabled, text in rows if cls == "Button"}
        bars = [text for cls, _, text in rows if cls == "msctls_progress32"]
        idle = "Ready..." in labels and bars == ["0"] and all(
            buttons.get(b) for b in ("Exit", "Squeeze!", "Browse"))
        if idle or time.time() > deadline:
            break
        time.sleep(0.3)
    check(idle, "back to Idle: \"Ready...\", bar 0, buttons enabled: %r" % rows)

    click_client(window, MAKER_CLIENT, MAKER_EXIT)
    code = wait_exit(maker, 15, "Exit ends the Maker")
    check(code == 0, "the Maker exits with code 0 after Exit (got %d)" % code)


def run_stub(output, dest, log, entries):
    stub = start(output, log)
    window = find_window("Vezovud Archive", WINDOW_TIMEOUT_S, "the output file's window appears")
    time.sleep(0.5)
    # The stub's console window may lie over it; a click on a bare spot brings it up.
    click_client(window, STUB_CLIENT, STUB_EMPTY_SPOT)
    click_client(window, STUB_CLIENT, STUB_DEST_FIELD)
    type_text(windows_path(dest))
    fields = [text for cls, _, text in window_texts("Vezovud Archive") if cls == "Edit"]
    require(fields == [windows_path(dest)],
            "the destination field holds the typed folder: %r" % fields)
    screenshot("stub_from_maker", [window])
    click_client(window, STUB_CLIENT, STUB_EXTRACT)
    caption = str(entries)
    box = find_window(caption, BOX_TIMEOUT_S, "the run ends with the box captioned %s" % caption)
    time.sleep(0.5)
    texts = [row[2] for row in window_texts(caption)]
    check("The files were extracted successfully!" in texts,
          "the end box says the files were extracted: %r" % texts)
    labels = [text for cls, _, text in window_texts("Vezovud Archive") if cls == "Static"]
    check("Ready" in labels, "the prompt line reads \"Ready\": %r" % labels)
    screenshot("stub_from_maker_end", [window, box])
    press_box_ok(box)
    code = wait_exit(stub, 15, "the output file's program ends after its end box")
    check(code == 0, "the output file's program exits with code 0 (got %d)" % code)


def foreign_readers(path):
    with zipfile.ZipFile(path) as z:
        entries = len(z.infolist())
        check(z.testzip() is None, "zipfile.testzip() passes the output file")
    unzip = subprocess.run(["unzip", "-t", path], capture_output=True, text=True)
    tested = [l for l in unzip.stdout.splitlines() if l.strip().startswith("testing:")]
    # Exit 1 is unzip's warning about the stub in front and the folder's own,
    # empty-named entry; a damaged entry gives 2 or more and no "OK".
    check(unzip.returncode in (0, 1) and len(tested) == entries and
          all(l.rstrip().endswith("OK") for l in tested),
          "unzip -t finds all %d entries OK (exit %d)" % (entries, unzip.returncode))
    seven = subprocess.run(["7z", "t", path], capture_output=True, text=True)
    check(seven.returncode == 0 and "Everything is Ok" in seven.stdout,
          "7z t passes the output file (exit %d)" % seven.returncode)
    return entries


def main():
    global EXPECTED_FILES
    if not os.environ.get("DISPLAY"):
        print("FAIL  no DISPLAY: run through scripts/test.sh, which starts Xvfb and Wine")
        return 1
    work = tempfile.mkdtemp(prefix="vezovud-maker-e2e-")
    log_path = os.path.join(work, "wine.log")
    log = open(log_path, "w")
    try:
        source = os.path.join(work, "source")
        files, minutes = make_source(source)
        EXPECTED_FILES = len(files)
        output_base = os.path.join(work, "made", "Setup-1")
        os.makedirs(os.path.dirname(output_base))
        output = output_base + ".exe"

        run_maker(source, output_base, log)
        require(os.path.isfile(output) and not os.path.exists(output_base),
                "the output file exists with \".exe\" appended: %s" % output)
        entries = foreign_readers(output)
        if NATIVE_TOOL and os.path.isfile(NATIVE_TOOL):
            again = os.path.join(work, "made", "by-vezovud.exe")
            subprocess.run([NATIVE_TOOL, "pack", source, again, "--quiet"], capture_output=True)
            check(os.path.isfile(again) and open(again, "rb").read() == open(output, "rb").read(),
                  "vezovud pack writes the same bytes as the Maker")

        dest = os.path.join(work, "extracted", "here")
        run_stub(output, dest, log, entries)
        src_folders, src_files = tree(source)
        out_folders, out_files = tree(dest)
        check(out_folders == src_folders, "the same folders: %r" % out_folders)
        check(out_files == src_files, "the same files: %r" % out_files)
        for name, data in files.items():
            path = os.path.join(dest, name)
            if not os.path.isfile(path):
                continue
            check(open(path, "rb").read() == data, name + ": the same bytes")
            got = time.localtime(os.path.getmtime(path))
            check(got[:5] == minutes[name] and got.tm_sec == 0,
                  name + ": last-write time %s, expected %s with seconds 0" %
                  (got[:6], minutes[name]))
    except Abort as e:
        if not failures or failures[-1] != str(e):
            check(False, str(e))
    finally:
        for program in started:
            if program.poll() is None:
                program.kill()
                program.wait()
        log.close()
        if failures:
            with open(log_path) as f:
                wine_log = f.read().strip()
            if wine_log:
                print("Wine's output:\n" + wine_log)
        shutil.rmtree(work, ignore_errors=True)
    print("%d failed" % len(failures))
    return 1 if failures else 0


EXPECTED_FILES = 0
if __name__ == "__main__":
    sys.exit(main())
