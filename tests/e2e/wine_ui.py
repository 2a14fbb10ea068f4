"""What the Wine end-to-end tests share: windows read with window_texts.exe and driven with
xdotool, screenshots, source trees. DISPLAY and WINEPREFIX come from scripts/test.sh."""
import os
import subprocess
import tempfile
import time

# One factor scales every bound: an emulated machine (scripts/test-i686-vm.sh) raises it.
SCALE = float(os.environ.get("VEZOVUD_TIMEOUT_SCALE", "1"))
WINDOW_TIMEOUT_S = 60 * SCALE  # the first Wine start of a program can be slow
BOX_TIMEOUT_S = 30 * SCALE  # boxes, dialogs and the program's end
# The loader of the build's kind: wine32's, or wine64's for the x86_64 twin (scripts/test.sh).
WINE = os.environ.get("VEZOVUD_WINE", "wine")
STUB_TITLE = "Vezovud Archive"

failures = []
started = []  # the Wine programs this run started
window_texts_exe = ""
shots_dir = ""


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


def run(*args):
    return subprocess.run(list(map(str, args)), capture_output=True, text=True, errors="replace",
                          timeout=120 * SCALE)


def xdotool(*args):
    return run("xdotool", *args)


def windows_titled(title):
    pattern = "^%s$" % "".join("\\" + c if c in "\\.[]()*+?{}|^$" else c for c in title)
    return xdotool("search", "--onlyvisible", "--name", pattern).stdout.split()


def wait_for(found, what, program=None, timeout=BOX_TIMEOUT_S):
    """found()'s first true value, asked every 0.2 s; Abort after timeout or if program ends."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if program and program.poll() is not None:
            raise Abort("%s: the program ended (code %d) first" % (what, program.returncode))
        value = found()
        if value:
            return value
        time.sleep(0.2)
    raise Abort("timeout after %d s: %s" % (timeout, what))


def find_window(title, what, program, timeout=BOX_TIMEOUT_S):
    """X id of the visible top-level window titled exactly title."""
    window = wait_for(lambda: windows_titled(title), "%s (%r)" % (what, title), program, timeout)[0]
    time.sleep(0.5)  # let it paint
    return window


def wait_exit(program, what):
    return wait_for(lambda: program.poll() is not None, what) and program.returncode


def geometry(window):
    """Screen position and size of the window: x, y, width, height."""
    shell = xdotool("getwindowgeometry", "--shell", window).stdout.splitlines()
    values = dict(line.partition("=")[::2] for line in shell)
    try:
        return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))
    except KeyError:
        raise Abort("xdotool getwindowgeometry gave nothing for window %s" % window)


def click_client(window, client, point):
    """Clicks point of the client area, client (width, height) big. Without a window manager
    Wine draws the frame: equal borders left, right and below, the caption on top."""
    x, y, width, height = geometry(window)
    border = max(0, (width - client[0]) // 2)
    oy = y + max(0, height - client[1] - border)
    xdotool("mousemove", x + border + point[0], oy + point[1], "click", "1")
    time.sleep(0.3)


def controls(title):
    """window_texts.exe's rows (class, id, (left, top, right, bottom), text): the window titled
    title first with its client rectangle, then its controls in client coordinates."""
    rows = []
    for line in run(WINE, window_texts_exe, title).stdout.splitlines():
        fields = line.rstrip("\r").split("\t", 7)
        if len(fields) == 8:
            rows.append((fields[0], int(fields[2]), tuple(map(int, fields[3:7])), fields[7]))
    require(rows, "window_texts.exe finds the window %r" % title)
    return rows


def click_control(window, title, cls, text=None):
    """Clicks the centre of the one control of class cls (and text) in the live window."""
    rows = controls(title)
    found = [r for r in rows[1:] if r[0] == cls and text in (None, r[3])]
    require(len(found) == 1, "one %s %r in %r: %r" % (cls, text, title, found))
    left, top, right, bottom = found[0][2]
    client = rows[0][2][2:]
    click_client(window, client, ((left + right) // 2, (top + bottom) // 2))


def click_bare_spot(window, title):
    """Clicks a spot of the client area that no control covers: it only brings the window up."""
    rows = controls(title)
    width, height = rows[0][2][2:]
    inside = lambda x, y, r: r[0] <= x < r[2] and r[1] <= y < r[3]
    spots = [(x, y) for y in range(2, height - 2) for x in range(2, width - 2)
             if not any(inside(x, y, r[2]) for r in rows[1:])]
    require(spots, "a spot of %r without a control" % title)
    click_client(window, (width, height), spots[0])


def type_text(text):
    xdotool("type", "--delay", "20", text)
    time.sleep(0.4)


def press_enter_on(window):
    xdotool("windowfocus", window)
    time.sleep(0.2)
    xdotool("key", "Return")


def texts_of(title, cls=None):
    """Texts of the window titled title and its children (of class cls)."""
    return [row[3] for row in controls(title) if cls in (None, row[0])]


def screenshot(name, windows):
    """Cuts the rectangle around the given windows out of a screen shot."""
    os.makedirs(shots_dir, exist_ok=True)
    path = os.path.join(shots_dir, name + ".png")
    boxes = [geometry(w) for w in windows]
    left, top = min(b[0] for b in boxes), min(b[1] for b in boxes)
    right, bottom = max(b[0] + b[2] for b in boxes), max(b[1] + b[3] for b in boxes)
    crop = "%dx%d+%d+%d" % (right - left, bottom - top, left, top)
    check(run("import", "-window", "root", "-crop", crop, "+repage", path).returncode == 0,
          "screenshot " + path)


def start(program, log):
    # A session of its own, so that the whole Wine process can be ended.
    p = subprocess.Popen([WINE, program], stdout=log, stderr=subprocess.STDOUT,
                         stdin=subprocess.DEVNULL, start_new_session=True)
    started.append(p)
    return p


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def make_source(source, files, default, stamps, folders):
    """Writes files {name: bytes} at local times stamps[name] or default, and the empty folders."""
    for name, data in files.items():
        path = os.path.join(source, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        stamp = time.mktime(stamps.get(name, default) + (0, 0, -1))
        os.utime(path, (stamp, stamp))
    for folder in folders:
        os.makedirs(os.path.join(source, folder))


def tree(root):  # [(path below root, is a folder)]
    return sorted((os.path.relpath(os.path.join(here, name), root), name in dirs)
                  for here, dirs, names in os.walk(root) for name in dirs + names)


def compare(source, dest, files, minutes, label):
    """The same tree and bytes; times to the minute {name: (y, m, d, H, M)}, seconds 0."""
    check(tree(dest) == tree(source), label + ": the same folders and files: %r" % (tree(dest),))
    for name, data in files.items():
        path = os.path.join(dest, name)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                check(f.read() == data, "%s: %s: the same bytes" % (label, name))
            got = time.localtime(os.path.getmtime(path))
            check(got[:5] == minutes[name] and got.tm_sec == 0, "%s: %s: last-write time %s, "
                  "expected %s with seconds 0" % (label, name, got[:6], minutes[name]))


def bring_up(window):
    """Raises window above the stub's console, clicks it active and gives it the keyboard."""
    xdotool("windowraise", window)
    time.sleep(0.2)
    click_bare_spot(window, STUB_TITLE)
    xdotool("windowfocus", window)
    time.sleep(0.2)


def extract_through_window(output, dest, entries, log, shots, tries=False):
    """Runs output, types dest, presses Extract and Enter on the end box; exit code 0 expected.
    With tries, Alt+F4 comes first (the empty-destination warning: tests/extractor)."""
    label = os.path.basename(output)
    stub = start(output, log)
    window = find_window(STUB_TITLE, label + ": the window appears", stub, WINDOW_TIMEOUT_S)
    # The console, titled with the program's path, may appear after the window (on a slow
    # machine a second later); raised too early, the window would be covered again and the
    # console would take the keys meant for it.
    find_window(windows_path(output), label + ": the console window appears", stub)
    bring_up(window)
    click_control(window, STUB_TITLE, "Edit")
    type_text(windows_path(dest))
    require(texts_of(STUB_TITLE, "Edit") == [windows_path(dest)],
            label + ": the destination field holds the typed path")
    screenshot(shots, [window])
    if tries:
        xdotool("key", "alt+F4")  # the typed keys reached this window; so does Alt+F4
        time.sleep(1.5)
        check(stub.poll() is None and window in windows_titled(STUB_TITLE),
              "Alt+F4 leaves the window open and the program running")
        bring_up(window)
    click_control(window, STUB_TITLE, "Button", "Extract")
    box = find_window(str(entries), label + ": the run ends with the box captioned so", stub)
    check("The files were extracted successfully!" in texts_of(str(entries)),
          label + ": the end box says the files were extracted")
    check("Ready" in texts_of(STUB_TITLE, "Static"), label + ": the prompt line reads \"Ready\"")
    screenshot(shots + "_end", [window, box])
    press_enter_on(box)
    code = wait_exit(stub, label + ": Enter on the end box ends the program")
    check(code == 0, "%s: the program exits with code 0 (got %d)" % (label, code))


def main(body, texts_exe, shots):
    """Runs body(work, log) in a temporary folder, ends the Wine programs; the exit code."""
    global window_texts_exe, shots_dir
    window_texts_exe, shots_dir = texts_exe, shots
    if not os.environ.get("DISPLAY"):
        print("FAIL  no DISPLAY: run through scripts/test.sh, which starts Xvfb and Wine")
        return 1
    with tempfile.TemporaryDirectory() as work, tempfile.TemporaryFile("w+") as log:
        try:
            body(work, log)
        except Abort as e:
            if not failures or failures[-1] != str(e):
                check(False, str(e))
        finally:
            for program in started:
                if program.poll() is None:
                    os.killpg(program.pid, 9)
                    program.wait()
            log.seek(0)
            if failures:
                print("Wine's output:\n" + log.read())
    print("%d failed" % len(failures))
    return 1 if failures else 0
