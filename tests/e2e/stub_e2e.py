#!/usr/bin/env python3
"""The real VezovudStub.exe with an archive and the trailer behind it, run
under Wine and used through its window as a user would: Alt+F4 changes
nothing, Extract with an empty destination shows the warning, a typed
destination and Extract unpack every entry, Enter dismisses the end box and
the program exits with code 0. The extracted tree must match the source byte
for byte, with times to the minute. The same output file signed with
osslsigncode (a throwaway self-signed certificate) must still list, unpack
natively and extract under Wine. Screenshots go to the screenshots folder:
stub_e2e.png (typed destination), stub_e2e_warning.png, stub_e2e_end.png.

Usage: stub_e2e.py STUB_EXE SCREENSHOT_DIR [NATIVE_VEZOVUD [WINDOW_TEXTS_EXE]]
The output file is made with `vezovud pack --stub` when NATIVE_VEZOVUD exists,
else with Python's zipfile laid out as the archiver writes ("\\" names, folder
entries). DISPLAY (Xvfb) and WINEPREFIX come from the environment, as
scripts/test.sh sets them. Every Wine process the test starts is ended."""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

STUB, SHOTS = sys.argv[1], sys.argv[2]
NATIVE_TOOL = sys.argv[3] if len(sys.argv) > 3 else ""
WINDOW_TEXTS = sys.argv[4] if len(sys.argv) > 4 else ""

# The stub window's client size and gadget centres (client coordinates).
CLIENT = (253, 125)
DEST_FIELD = (5 + 90, 55 + 10)
EXTRACT = (180 + 35, 100 + 10)
BARE_SPOT = (3, 98)  # no gadget: a click here only brings the window up

WINDOW_TIMEOUT_S = 60  # the first Wine start in a prefix can be slow
BOX_TIMEOUT_S = 30
EXIT_TIMEOUT_S = 20
TITLE = "Vezovud Archive"
# DLLs that every Windows has. Wine brings its own zlib1.dll, so a stub that
# imports it runs here and fails on a real Windows: only the list can tell.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll",
               "ole32.dll", "oleaut32.dll", "shell32.dll", "advapi32.dll", "msvcrt.dll"}

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
                          timeout=15)


def windows_titled(title):
    r = xdotool("search", "--onlyvisible", "--name", "^%s$" % title)
    return r.stdout.split()


def find_window(title, timeout, what, program):
    """X window id of the visible top-level window titled exactly title."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if program.poll() is not None:
            raise Abort("%s: the program ended (code %d) while waiting for %r"
                        % (what, program.returncode, title))
        ids = windows_titled(title)
        if ids:
            return ids[0]
        time.sleep(0.2)
    raise Abort("timeout after %d s: %s (no window titled %r)" % (timeout, what, title))


def wait_gone(title, timeout, what):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if not windows_titled(title):
            return
        time.sleep(0.2)
    raise Abort("timeout after %d s: %s (window %r still up)" % (timeout, what, title))


def geometry(window):
    """Screen position and size of the window: x, y, width, height."""
    values = {}
    for line in xdotool("getwindowgeometry", "--shell", window).stdout.splitlines():
        key, _, value = line.partition("=")
        values[key] = value
    if not all(k in values for k in ("X", "Y", "WIDTH", "HEIGHT")):
        raise Abort("xdotool getwindowgeometry gave nothing for window %s" % window)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def client_origin(window):
    """Screen position of the client area. Without a window manager Wine
    draws the frame itself: equal borders left, right and below, the caption
    on top; with no frame at all the geometry is the client area."""
    x, y, width, height = geometry(window)
    border = max(0, (width - CLIENT[0]) // 2)
    return x + border, y + max(0, height - CLIENT[1] - border)


def click_client(window, point):
    ox, oy = client_origin(window)
    xdotool("mousemove", ox + point[0], oy + point[1], "click", "1")
    time.sleep(0.3)


def bring_up(window):
    """The stub's console window opens over it: raise it, click a bare spot
    so that Wine activates it, and give it the keyboard."""
    xdotool("windowraise", window)
    time.sleep(0.2)
    click_client(window, BARE_SPOT)
    xdotool("windowfocus", window)
    time.sleep(0.2)


def press_enter_on(window):
    xdotool("windowfocus", window)
    time.sleep(0.2)
    xdotool("key", "Return")


def box_texts(title):
    """Texts of the window titled title and its children (helper program),
    or None when the helper is not built."""
    if not WINDOW_TEXTS or not os.path.isfile(WINDOW_TEXTS):
        return None
    r = subprocess.run(["wine", WINDOW_TEXTS, title], capture_output=True, text=True, timeout=60)
    return [line.rstrip("\r").split("\t")[-1] for line in r.stdout.splitlines()]


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
    subprocess.run(["convert", screen, "-crop", "%dx%d+%d+%d" % (right - left, bottom - top,
                                                                 left, top),
                    "+repage", path], check=True, timeout=30)
    os.remove(screen)
    print("      screenshot: " + path, flush=True)


def start(program, log):
    # A session of its own, so that the whole Wine process can be ended.
    p = subprocess.Popen(["wine", program], stdout=log, stderr=subprocess.STDOUT,
                         stdin=subprocess.DEVNULL, start_new_session=True)
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


def check_imports():
    objdump = shutil.which("i686-w64-mingw32-objdump")
    require(objdump is not None, "i686-w64-mingw32-objdump is installed")
    r = subprocess.run([objdump, "-p", STUB], capture_output=True, text=True, timeout=60)
    dlls = sorted(set(d.lower() for d in re.findall(r"DLL Name: (\S+)", r.stdout)))
    check(r.returncode == 0 and dlls and set(dlls) <= SYSTEM_DLLS,
          "the stub imports system DLLs only (no zlib1.dll, no libgcc): %r" % dlls)


def make_source(source):
    files = {
        "readme.txt": b"Unpacked by the stub under Wine.\r\n" * 40,
        "empty.txt": b"",
        "with space.txt": b"a name with a space inside",
        "data/random.bin": os.urandom(300000),  # several inflate chunks
        "data/deep/er/leaf.txt": b"deep leaf\n" * 2000,
        "data/deep/zero": b"",
        "late/after-2037.txt": b"a date past the 32-bit seconds",
    }
    for name, data in files.items():
        path = os.path.join(source, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(source, "empty folder", "inside"))
    stamps = {name: local_stamp(2006, 5, 17, 14, 37, 58) for name in files}
    stamps["data/random.bin"] = local_stamp(2023, 12, 31, 23, 58, 59)
    stamps["late/after-2037.txt"] = local_stamp(2041, 2, 3, 4, 5, 6)
    for name, stamp in stamps.items():
        os.utime(os.path.join(source, name), (stamp, stamp))
    minutes = {name: time.localtime(stamp)[:5] for name, stamp in stamps.items()}
    return files, minutes


def archive_with_zipfile(source, path):
    """An archive as the archiver lays it out: the folder's own empty-named
    entry, "\\" separators, folder entries ending in "\\", local times."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        z.writestr(zipfile.ZipInfo("", (2078, 1, 1, 0, 0, 0)), b"")
        for here, dirs, names in os.walk(source):
            dirs.sort()
            rel = os.path.relpath(here, source)
            prefix = "" if rel == "." else rel.replace("/", "\\") + "\\"
            for d in dirs:
                z.writestr(zipfile.ZipInfo(prefix + d + "\\", (2078, 1, 1, 0, 0, 0)), b"")
            for n in sorted(names):
                full = os.path.join(here, n)
                info = zipfile.ZipInfo(prefix + n, time.localtime(os.path.getmtime(full))[:6])
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(full, "rb") as f:
                    z.writestr(info, f.read())


def make_output_file(source, output, work):
    if NATIVE_TOOL and os.path.isfile(NATIVE_TOOL):
        r = subprocess.run([NATIVE_TOOL, "pack", source, output, "--stub", STUB, "--quiet"],
                           capture_output=True, text=True, timeout=120)
        require(r.returncode == 0, "vezovud pack --stub makes the output file: " + r.stderr)
        print("      output file made by " + NATIVE_TOOL, flush=True)
        return
    archive = os.path.join(work, "payload.zip")
    archive_with_zipfile(source, archive)
    with open(STUB, "rb") as f:
        stub = f.read()
    with open(archive, "rb") as f:
        payload = f.read()
    with open(output, "wb") as f:
        f.write(stub + payload + struct.pack("<I", len(payload)))
    print("      output file made with Python's zipfile", flush=True)


def sign(output, signed, work):
    """Signs output into signed with a throwaway self-signed certificate."""
    for tool in ("openssl", "osslsigncode"):
        require(shutil.which(tool) is not None, tool + " is installed (scripts/setup.sh)")
    key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
    r = subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        key, "-out", cert, "-days", "2", "-subj", "/CN=Vezovud test signer"],
                       capture_output=True, text=True, timeout=60)
    require(r.returncode == 0, "openssl makes a self-signed certificate" +
            ("" if r.returncode == 0 else ": " + r.stderr[-300:]))
    r = subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n",
                        "Vezovud test", "-in", output, "-out", signed],
                       capture_output=True, text=True, timeout=60)
    require(r.returncode == 0, "osslsigncode signs the output file" +
            ("" if r.returncode == 0 else ": " + r.stdout + r.stderr))
    r = subprocess.run(["osslsigncode", "verify", "-in", signed, "-CAfile", cert],
                       capture_output=True, text=True, timeout=60)
    check(r.returncode == 0, "the signature verifies")
    grown = os.path.getsize(signed) - os.path.getsize(output)
    check(grown > 0, "the signature lies behind the trailer (%d bytes more)" % grown)


def compare(source, dest, files, minutes, label):
    src_folders, src_files = tree(source)
    out_folders, out_files = tree(dest)
    check(out_folders == src_folders, label + ": the same folders: %r" % out_folders)
    check(out_files == src_files, label + ": the same files: %r" % out_files)
    for name, data in files.items():
        path = os.path.join(dest, name)
        if not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            check(f.read() == data, "%s: %s: the same bytes" % (label, name))
        got = time.localtime(os.path.getmtime(path))
        check(got[:5] == minutes[name] and got.tm_sec == 0,
              "%s: %s: last-write time %s, expected %s with seconds 0" %
              (label, name, got[:6], minutes[name]))


def run_stub(output, dest, entries, log, first):
    """Runs output under Wine and extracts into dest through the window.
    The first run also tries Alt+F4 and Extract with an empty destination."""
    label = os.path.basename(output)
    stub = start(output, log)
    window = find_window(TITLE, WINDOW_TIMEOUT_S, label + ": the window appears", stub)
    time.sleep(0.7)  # let every gadget paint
    bring_up(window)

    if first:
        # Extract with the field empty: the warning, and nothing else.
        click_client(window, EXTRACT)
        box = find_window("Vezovud", BOX_TIMEOUT_S,
                          "Extract with an empty destination shows the warning box", stub)
        time.sleep(0.5)
        texts = box_texts("Vezovud")
        if texts is not None:
            check("Please choose a destination path!" in texts,
                  "the warning says \"Please choose a destination path!\": %r" % texts)
        screenshot("stub_e2e_warning", [window, box])
        press_enter_on(box)
        wait_gone("Vezovud", BOX_TIMEOUT_S, "Enter dismisses the warning box")
        check(stub.poll() is None and windows_titled(TITLE),
              "after the warning the window stays and the program runs")
        check(not os.path.exists(dest), "the warning writes nothing")
        bring_up(window)

    click_client(window, DEST_FIELD)
    xdotool("type", "--delay", "20", windows_path(dest))
    time.sleep(0.4)
    texts = box_texts(TITLE)
    if texts is not None:
        require(windows_path(dest) in texts,
                "%s: the destination field holds the typed path: %r" % (label, texts))
    if first:
        screenshot("stub_e2e", [window])
        # The keys typed just now reached this window; so does Alt+F4.
        xdotool("key", "alt+F4")
        time.sleep(1.5)
        check(stub.poll() is None and window in windows_titled(TITLE),
              "Alt+F4 leaves the window open and the program running")
        bring_up(window)

    click_client(window, EXTRACT)
    caption = str(entries)
    box = find_window(caption, BOX_TIMEOUT_S,
                      "%s: the run ends with the box captioned %s" % (label, caption), stub)
    time.sleep(0.5)
    texts = box_texts(caption)
    if texts is not None:
        check("The files were extracted successfully!" in texts,
              "%s: the end box says the files were extracted: %r" % (label, texts))
    if first:
        screenshot("stub_e2e_end", [window, box])
    press_enter_on(box)
    code = wait_exit(stub, EXIT_TIMEOUT_S, label + ": Enter on the end box ends the program")
    check(code == 0, "%s: the program exits with code 0 (got %d)" % (label, code))


def main():
    if not os.environ.get("DISPLAY"):
        print("FAIL  no DISPLAY: run through scripts/test.sh, which starts Xvfb and Wine")
        return 1
    if not os.path.isfile(STUB):
        print("FAIL  no stub at " + STUB)
        return 1
    work = tempfile.mkdtemp(prefix="vezovud-stub-e2e-")
    log_path = os.path.join(work, "wine.log")
    log = open(log_path, "w")
    try:
        check_imports()
        source = os.path.join(work, "source")
        files, minutes = make_source(source)
        output = os.path.join(work, "Setup.exe")
        make_output_file(source, output, work)
        with zipfile.ZipFile(output) as z:
            entries = len(z.infolist())
            check(z.testzip() is None, "zipfile.testzip() passes the output file")

        dest = os.path.join(work, "out", "new", "dest")  # missing parents too
        run_stub(output, dest, entries, log, first=True)
        compare(source, dest, files, minutes, "under Wine")

        signed = os.path.join(work, "Signed.exe")
        sign(output, signed, work)
        if NATIVE_TOOL and os.path.isfile(NATIVE_TOOL):
            r = subprocess.run([NATIVE_TOOL, "list", signed], capture_output=True, text=True)
            check(r.returncode == 0 and len(r.stdout.splitlines()) == entries,
                  "vezovud list reads the signed file (%d lines)" % len(r.stdout.splitlines()))
            native = os.path.join(work, "native-signed")
            r = subprocess.run([NATIVE_TOOL, "unpack", signed, native], capture_output=True,
                               text=True)
            check(r.returncode == 0, "vezovud unpack extracts the signed file " + r.stderr)
            compare(source, native, files, minutes, "signed, natively")
        signed_dest = os.path.join(work, "out", "signed")
        run_stub(signed, signed_dest, entries, log, first=False)
        compare(source, signed_dest, files, minutes, "signed, under Wine")
    except Abort as e:
        if not failures or failures[-1] != str(e):
            check(False, str(e))
    finally:
        for program in started:
            if program.poll() is None:
                try:
                    os.killpg(program.pid, 9)
                except OSError:
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


if __name__ == "__main__":
    sys.exit(main())
