#!/usr/bin/env python3
"""The vezovud tool run as a user runs it: exit codes, messages, refusals, the progress bar on
a terminal only, pack then unpack giving back the same tree, interrupts. A fake stub stands in
for Windows'.

Usage: cli_test.py PATH_TO_VEZOVUD [unittest arguments]"""
import fcntl
import hashlib
import io
import json
import os
import pathlib
import pty
import random
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest
import zipfile
import zlib

TOOL = None  # set from the command line
TIMEOUT_SECONDS = 240  # for any one run of a program
CHUNK_BYTES = 102400  # the archiver's read chunk
# Stands in for the stub image: what pack writes in front of the archive.
FAKE_STUB = b"MZ" + bytes((i * 7 + 3) & 0xFF for i in range(382))


def run(*args):
    """Runs the tool with args; its output as text."""
    return subprocess.run([TOOL, *args], capture_output=True, text=True,
                          timeout=TIMEOUT_SECONDS)


def size_or_zero(path):
    """The size of path, 0 when it is gone (a part file renamed meanwhile)."""
    try:
        return os.path.getsize(path)
    except FileNotFoundError:
        return 0


def tree(root):
    """Sorted relative paths below root, folders ending in "/"."""
    return sorted(str(p.relative_to(root)) + "/" * p.is_dir() for p in pathlib.Path(root).rglob("*"))


class ToolTest(unittest.TestCase):
    """Each test in a temporary folder of its own."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vezovud-cli-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.stub = self.path("stub.bin")
        pathlib.Path(self.stub).write_bytes(FAKE_STUB)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def pack(self, folder, output, *options):
        return run("pack", folder, output, "--stub", self.stub, *options)

    def wait_for(self, process, found, deadline_seconds=60):
        """Polls found() until it is true or the process has ended; true when it was found."""
        deadline = time.monotonic() + deadline_seconds
        while process.poll() is None and time.monotonic() < deadline:
            if found():
                return True
            time.sleep(0.0005)
        return False

    def assertRun(self, r, exit_code, stdout=(), stderr=()):
        """r exited with exit_code, and each of the words in stdout and stderr is in that stream."""
        self.assertEqual(exit_code, r.returncode, r.stderr[-300:])
        for words in stdout:
            self.assertIn(words, r.stdout)
        for words in stderr:
            self.assertIn(words, r.stderr)

    def write_output(self, name, entries, damage=None):
        """An output file (fake stub, zipfile-written ZIP, trailer), damage[0] replaced by damage[1]."""
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w") as z:
            for entry, data in entries:
                z.writestr(entry, data, zipfile.ZIP_DEFLATED)
        archive = buffer.getvalue().replace(*damage) if damage else buffer.getvalue()
        path = self.path(name)
        pathlib.Path(path).write_bytes(FAKE_STUB + archive + struct.pack("<I", len(archive)))
        return path


SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


class UsageTest(ToolTest):
    def test_each_usage_error_is_one_line_naming_the_argument(self):
        exe = self.write_output("setup.exe", [("a.txt", b"a")])
        out, src = self.path("o.exe"), self.path("src")
        os.makedirs(src)
        rows = [  # arguments, the command named in the hint ("" for none), words of the line
            ([], "", "missing COMMAND"),
            (["frobnicate", exe], "", "unknown command 'frobnicate'"),
            (["--frob"], "", "unknown option '--frob'"),
            (["pack", src, out, "--jobs", "0"], "pack", "--jobs: '0' is not a positive number"),
            (["pack", "-jx", src, out], "pack", "--jobs: 'x' is not a positive number"),
            (["pack", src, out, "--stub"], "pack", "option '--stub' needs a value"),
            (["pack", "--quiet=yes", src, out], "pack", "option '--quiet' takes no value"),
            (["pack", "--frob", src, out], "pack", "unknown option '--frob'"),
            (["pack", src], "pack", "missing OUTPUT"),
            (["pack", "-o", out, src, "extra"], "pack", "extra argument 'extra'"),
            (["pack", "--exclude-from", self.path("none"), src, out], "pack",
             "--exclude-from: cannot read %s: No such file or directory" % self.path("none")),
            (["unpack", exe, "-d"], "unpack", "option '-d' needs a value"),
            (["unpack", exe], "unpack", "missing DEST"),
            (["unpack", exe, ""], "unpack", "the destination is an empty name"),
            (["unpack", exe, self.path("d"), "--jobs=0"], "unpack", "--jobs: '0' is not a positive number"),
            (["unpack", "-d", self.path("d"), exe, "extra"], "unpack", "extra argument 'extra'"),
            (["list"], "list", "missing FILE"),
            (["list", "--tsv=1", exe], "list", "option '--tsv' takes no value"),
            (["test", "-qz", exe], "test", "unknown option '-z'"),
            (["test", exe, "extra"], "test", "extra argument 'extra'"),
        ]
        for args, command, words in rows:
            with self.subTest(args=args):
                r = run(*args)
                self.assertRun(r, 2, stderr=[words])
                hint = "Try 'vezovud %s--help'." % (command + " " if command else "")
                self.assertEqual(hint, r.stderr.splitlines()[-1])
                self.assertEqual(2, len(r.stderr.splitlines()), r.stderr)
        for epoch in ("", "1e9", "-5", "12 ", "99999999999999999999"):
            with self.subTest(SOURCE_DATE_EPOCH=epoch):
                r = subprocess.run([TOOL, "pack", src, out, "--stub", self.stub], capture_output=True,
                                   text=True, timeout=TIMEOUT_SECONDS, env=dict(os.environ, SOURCE_DATE_EPOCH=epoch))
                self.assertRun(r, 2, stderr=["SOURCE_DATE_EPOCH: '%s'" % epoch])
        self.assertEqual([], [n for n in os.listdir(self.work) if n in ("o.exe", "d", "-d")],
                         "nothing made by a usage error")

    def test_options_anywhere_short_long_and_the_end_of_options(self):
        source = self.path("src")
        os.makedirs(source)
        pathlib.Path(source, "a.txt").write_bytes(b"a")
        os.chdir(self.work)
        self.addCleanup(os.chdir, "/")
        rows = [  # a pack command, then an unpack command, each naming "-x.exe" and its destination
            (["pack", "-q", "src", "--stub=stub.bin", "--", "-x.exe"], ["unpack", "-q", "--", "-x.exe", "-d1"]),
            (["pack", "--output", "-x.exe", "src", "--jobs=2", "--stub", "stub.bin"],
             ["unpack", "--destination=-d2", "-j", "2", "./-x.exe"]),
            (["pack", "-j2", "-qo-x.exe", "--stub", "stub.bin", "src"], ["unpack", "./-x.exe", "-d", "-d3"]),
        ]
        for i, (pack, unpack) in enumerate(rows):
            with self.subTest(pack=pack, unpack=unpack):
                self.assertRun(run(*pack), 0, [": 1 files added"])
                self.assertRun(run(*unpack), 0)
                self.assertEqual(b"a", pathlib.Path(self.work, "-d%d" % (i + 1), "a.txt").read_bytes())
                os.remove("-x.exe")
        self.assertRun(run("list", "--", "-d1"), 1, stderr=["-d1"])

    def test_help_and_version(self):
        self.assertRun(run("--help"), 0, ["usage: vezovud"])
        for command in ("pack", "list", "test", "unpack"):
            with self.subTest(command=command):
                self.assertRun(run(command, "--help"), 0, ["usage: vezovud " + command])
                self.assertEqual(run(command, "-h").stdout, run("help", command).stdout)
        # One version for the tool: the project's.
        project = pathlib.Path(SOURCE_DIR, "CMakeLists.txt").read_text()
        version = re.search(r"project\(Vezovud VERSION ([0-9.]+)", project).group(1)
        for option in ("--version", "-V"):
            self.assertRun(run(option), 0)
            self.assertEqual("vezovud %s\n" % version, run(option).stdout)

    def test_the_manual_and_completion_name_every_long_option(self):
        manual = pathlib.Path(SOURCE_DIR, "cli", "vezovud.1").read_text().replace("\\-", "-")
        completion = pathlib.Path(SOURCE_DIR, "cli", "completion.bash").read_text()
        for command in ("pack", "unpack", "list", "test"):
            for option in set(re.findall(r"--[a-z][a-z-]*", run(command, "--help").stdout)):
                with self.subTest(command=command, option=option):
                    self.assertIn(option, manual)
                    self.assertIn(option, completion)
        if shutil.which("groff"):
            r = subprocess.run(["groff", "-man", "-ww", "-z", os.path.join(SOURCE_DIR, "cli", "vezovud.1")],
                               capture_output=True, text=True, timeout=TIMEOUT_SECONDS)
            self.assertEqual((0, ""), (r.returncode, r.stderr))


class ReadCommandsTest(ToolTest):
    FILES = {"a.txt": b"plain text " * 100, "sub/b.bin": os.urandom(200000), "sub/deep/c.txt": b"c"}

    def sound_output(self):
        stamp = (2006, 5, 17, 14, 37, 58)
        return self.write_output("setup.exe", [(zipfile.ZipInfo(n, stamp), d) for n, d in self.FILES.items()])

    def test_list_and_test_a_sound_file(self):
        exe = self.sound_output()
        r = run("list", exe)
        self.assertEqual(0, r.returncode)
        lines = [line.split("\t") for line in r.stdout.splitlines()]
        self.assertEqual(3, len(lines))
        # name, size, compressed size, date and time, CRC-32
        self.assertEqual(["a.txt", "1100"], lines[0][:2])
        self.assertEqual(["2006-05-17 14:37:58", "%08x" % zlib.crc32(self.FILES["a.txt"])], lines[0][3:])
        self.assertRun(run("test", exe), 0, ["3 entries OK"])
        # A report that cannot be written (a full disk) is no success.
        for command in ("list", "test"):
            with self.subTest(command=command), open("/dev/full", "w") as full:
                r = subprocess.run([TOOL, command, exe], stdout=full, stderr=subprocess.PIPE,
                                   text=True, timeout=TIMEOUT_SECONDS)
                self.assertEqual(1, r.returncode)
                self.assertIn("standard output could not be written (No space left on device)",
                              r.stderr)

    def test_progress_line_on_a_terminal_only_fits_its_width_and_ends_clean(self):
        exe = self.sound_output()
        source = self.path("src")
        os.makedirs(source)
        pathlib.Path(source, "a long name " * 10 + ".txt").write_bytes(os.urandom(300000))
        rows = [  # arguments, whether a line is drawn
            (["unpack", exe, self.path("out1")], True),
            (["unpack", "-q", exe, self.path("out2")], False),
            (["pack", source, self.path("o1.exe"), "--stub", self.stub], True),
            (["pack", "--quiet", source, self.path("o2.exe"), "--stub", self.stub], False),
            (["test", exe], False),
        ]
        for args, drawn in rows:
            with self.subTest(args=args[:2]):
                leader, follower = pty.openpty()
                fcntl.ioctl(follower, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 40, 0, 0))
                try:
                    r = subprocess.run([TOOL, *args], stderr=follower, stdout=subprocess.DEVNULL,
                                       timeout=TIMEOUT_SECONDS)
                finally:
                    os.close(follower)
                shown = b""
                while True:
                    try:
                        chunk = os.read(leader, 65536)
                    except OSError:  # the other end closed
                        break
                    if not chunk:
                        break
                    shown += chunk
                os.close(leader)
                self.assertEqual(0, r.returncode)
                self.assertEqual(drawn, b"100%" in shown, shown)
                if drawn:
                    self.assertTrue(all(len(piece.decode()) < 40 for piece in shown.split(b"\r")), shown)
                    self.assertEqual(b"\r", shown[-1:], "the line is cleared at the end")
                    self.assertEqual(b"", shown.rsplit(b"\r", 2)[1].strip(), shown)
                    # Bytes, not entries: the whole archive's data at the end.
                    self.assertRegex(shown, rb"100% \[#+\] ([0-9.]+ KiB) of \1")

    def test_bad_files_exit_1_naming_the_fault(self):
        # The CRC damaged in both headers; an end record that hides its directory's records; a
        # field that overruns its record; folders with data; a stub with no archive; no file.
        bad_crc = (struct.pack("<I", zlib.crc32(b"tampered")), struct.pack("<I", 0x12345678))
        bad = self.write_output("bad.exe", [("good.txt", b"good"), ("victim.txt", b"tampered"),
                                            ("..\\evil.txt", b"")], bad_crc)
        hidden = self.write_output("hidden.exe", [("victim.txt", b"evil")],
                                   (b"PK\x05\x06\0\0\0\0\x01\0\x01\0", b"PK\x05\x06" + bytes(8)))
        overrun = zipfile.ZipInfo("second.txt")  # an extra field claiming 65,535 bytes
        overrun.extra = b"\xfe\xca\xff\xff"
        overrunning = self.write_output("overrun.exe", [("1.txt", b"1"), (overrun, b"2"), ("3.txt", b"3")])
        marked = zipfile.ZipInfo("report.txt")
        marked.create_system, marked.external_attr = 0, 0x10
        folders = self.write_output("folders.exe", [("notes/", b"n" * 500), (marked, b"r" * 1900),
                                                    (" ", b"data under a space"), ("empty/", b"")])
        folder_words = ["failed: notes/: a folder entry", "failed:  : a folder entry"]
        rows = [  # command, file, words in stderr, what unpack leaves (None: no destination)
            ("unpack", bad, ["failed: victim.txt: CRC mismatch", "failed: ..\\evil.txt: unsafe name",
                             "2 of 3 entries could not be extracted"], ["good.txt"]),
            ("test", bad, ["failed: victim.txt: CRC mismatch", "failed: ..\\evil.txt: unsafe name",
                           "2 of 3 entries failed the test"], None),
            ("unpack", folders, folder_words + ["2 of 4 entries could not be extracted"],
             ["empty", "report.txt"]),
            ("test", folders, folder_words + ["2 of 4 entries failed the test"], None),
            ("unpack", hidden, ["damaged archive", "nothing was extracted"], None),
            ("list", overrunning, ["damaged archive (central directory record)"], None),
            *[(c, self.stub, ["no archive found in " + self.stub], None) for c in ("list", "test", "unpack")],
            ("list", self.path("missing.exe"), ["list: cannot read %s: No such file or directory"
                                                 % self.path("missing.exe")], None),
            ("test", self.work, ["test: cannot read %s: it is a folder" % self.work], None),
        ]
        for i, (command, path, words, left) in enumerate(rows):
            with self.subTest(command=command, file=os.path.basename(path)):
                dest = self.path("out%d" % i)
                self.assertRun(run(command, path, *[dest] * (command == "unpack")), 1, stderr=words)
                self.assertEqual(left, sorted(os.listdir(dest)) if os.path.exists(dest) else None)
                if left and "report.txt" in left:
                    self.assertEqual(b"r" * 1900, pathlib.Path(dest, "report.txt").read_bytes())

    def test_list_formats_for_people_and_for_scripts(self):
        # A packed folder (its own entry has the empty name) and names that need escaping.
        source = self.path("src")
        os.makedirs(os.path.join(source, "sub"))
        pathlib.Path(source, "sub", "caf\u00e9.txt").write_bytes(b"x" * 5000)
        pathlib.Path(source, "a.txt").write_bytes(b"a")
        packed = self.path("packed.exe")
        self.assertRun(self.pack(source, packed, "--quiet"), 0)
        odd = self.write_output("odd.exe", [("dir/", b""), ('dir/q"\\\t\x7f\x9b\x1b[2J\nforged.txt', b"q")])
        expected = {  # file: [(name, kind, size)]
            packed: [("", "folder", 0), ("a.txt", "file", 1), ("sub\\", "folder", 0),
                     ("sub\\caf\u00e9.txt", "file", 5000)],
            odd: [("dir/", "folder", 0), ('dir/q"\\\t\x7f\x9b\x1b[2J\nforged.txt', "file", 1)],
        }
        for path, entries in expected.items():
            with self.subTest(file=os.path.basename(path)):
                r = run("list", "--json", path)
                self.assertRun(r, 0)
                self.assertEqual("", re.sub(r"[ -~]", "", r.stdout.replace("\n", "").replace("\u00e9", "")),
                                 "no control character unescaped")
                objects = [json.loads(line) for line in r.stdout.splitlines()]
                self.assertEqual(entries, [(o["name"], o["kind"], o["size"]) for o in objects])
                self.assertEqual(["compressed", "crc32", "kind", "name", "size", "time"], sorted(objects[-1]))
                self.assertRegex(objects[-1]["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$")
                r = run("list", "--tsv", path)
                self.assertEqual("", re.sub(r"[\t -~]", "", r.stdout.replace("\n", "").replace("\u00e9", "")),
                                 "no control character unescaped, no forged line")
                tsv = [line.split("\t") for line in r.stdout.splitlines()]
                plain = [line.split("\t") for line in run("list", path).stdout.splitlines()]
                self.assertEqual([6] * len(entries), [len(fields) for fields in tsv])
                self.assertEqual([kind for _, kind, _ in entries], [fields[5] for fields in tsv])
                self.assertEqual([f[1:5] for f in plain], [f[1:5] for f in tsv], "the same fields")
                self.assertEqual([str(o["size"]) for o in objects], [f[1] for f in tsv])
                self.assertEqual([o["crc32"] for o in objects], [f[4] for f in tsv])
        # For a person: aligned columns, the names last, and a totals line.
        lines = run("list", "-l", packed).stdout.splitlines()
        column = lines[0].index("Name")
        self.assertEqual(["./", "a.txt", "sub\\", "sub\\caf\u00e9.txt"], [l[column:] for l in lines[2:-2]])
        self.assertEqual(lines[1], lines[-2])
        self.assertEqual(["5001", "4 entries"], [lines[-1].split()[0], lines[-1][column:]])
        self.assertEqual(lines[2:-2], run("list", "--long", "-q", packed).stdout.splitlines())


class PackTest(ToolTest):
    def make_source(self):
        """A tree of files {name: bytes} with times of their own, and two empty folders."""
        source = self.path("source tree")
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
        return source, files

    def test_round_trip_gives_the_same_tree_bytes_and_minutes(self):
        source, files = self.make_source()
        output = self.path("out", "round trip.exe")
        os.makedirs(os.path.dirname(output))
        r = self.pack(source, output)
        self.assertRun(r, 0)
        summary = ": %d files added, %d bytes\n" % (len(files), os.path.getsize(output))
        self.assertTrue(r.stdout.endswith(summary), r.stdout)
        packed = pathlib.Path(output).read_bytes()
        self.assertEqual(FAKE_STUB, packed[:len(FAKE_STUB)], "the stub given leads the output")
        dest = self.path("unpacked", "here")
        r = run("unpack", output, dest, "--jobs", "3")  # small files created by writer threads
        self.assertRun(r, 0)
        self.assertEqual("", r.stderr, "no progress bar off a terminal")
        self.assertEqual(tree(source), tree(dest))
        for name, data in files.items():
            with self.subTest(name=name):
                path = pathlib.Path(dest, name)
                self.assertEqual(data, path.read_bytes())
                got = time.localtime(path.stat().st_mtime)
                self.assertEqual(0, got.tm_sec)
                self.assertEqual(time.localtime(os.path.getmtime(os.path.join(source, name)))[:5], got[:5])

    def test_refusals_name_the_item_and_write_nothing(self):
        source, files = self.make_source()
        os.makedirs(self.path("out"))
        outside = self.path("outside")
        os.makedirs(outside)
        pathlib.Path(outside, "secret.txt").write_bytes(b"packed only with --follow-links")
        victim = self.path("victim")
        pathlib.Path(victim).write_bytes(b"keep me")
        refused = self.path("out", "refused.exe")
        rows = [  # label, item made in the source, its target, words in stderr
            ("a name Windows cannot hold", "what?.txt", None, "names Windows cannot hold: 1\n  %s/what?.txt\n"),
            ("a link to a folder outside", "etc", outside, "links outside the folder: 1 (--follow-links"),
            ("a link to nothing", "gone", "nowhere", "dangling links: 1 (links to nothing)\n"
                                                     "  %s/gone: No such file or directory\n"),
        ]
        for label, item, target, words in rows:
            with self.subTest(label):
                made = os.path.join(source, item)
                if target:
                    os.symlink(target, made)
                else:
                    pathlib.Path(made).touch()
                self.assertRun(self.pack(source, refused, "--quiet"), 1,
                               stderr=["vezovud pack: not written: 1 item cannot be stored whole\n",
                                       words.replace("%s", source)])
                self.assertFalse(os.path.exists(refused))
                self.assertEqual(b"keep me", pathlib.Path(victim).read_bytes())
                if item == "etc":
                    # --follow-links packs what the link leads to.
                    self.assertRun(self.pack(source, refused, "--quiet", "--follow-links"), 0,
                                   [": %d files added" % (len(files) + 1)])
                    os.remove(refused)
                os.remove(made)
        self.assertEqual([], os.listdir(self.path("out")), "no part file or output left behind")

    def test_refusals_are_grouped_by_kind_with_counts_that_match(self):
        source = self.path("src")
        os.makedirs(source)
        for i in range(23):
            os.symlink("nowhere", os.path.join(source, "gone%02d" % i))
        for name in ("Twin.txt", "twin.txt", "what?.txt"):
            pathlib.Path(source, name).write_bytes(b"x")
        output = self.path("out.exe")
        for verbose, dangling_shown in (False, 20), (True, 23):
            with self.subTest(verbose=verbose):
                r = self.pack(source, output, "--quiet", *["-v"] * verbose)
                self.assertRun(r, 1)
                lines = r.stderr.splitlines()
                headline = re.fullmatch(r"vezovud pack: not written: (\d+) items cannot be stored whole", lines[0])
                groups = {}  # heading: (count, items listed, items not listed)
                for line in lines[1:]:
                    if not line.startswith("  "):
                        heading, count = re.match(r"(.+?): (\d+)", line).groups()
                        groups[heading] = [int(count), 0, 0]
                    elif line.startswith("  ... and "):
                        groups[heading][2] = int(line.split()[2])
                    else:
                        groups[heading][1] += 1
                self.assertEqual(["dangling links", "case twins", "names Windows cannot hold"], list(groups))
                self.assertEqual(23, groups["dangling links"][0])
                self.assertEqual(dangling_shown, groups["dangling links"][1])
                for heading, (count, listed, more) in groups.items():
                    self.assertEqual(count, listed + more, heading)
                self.assertEqual(int(headline.group(1)), sum(count for count, _, _ in groups.values()))
                self.assertFalse(os.path.exists(output))

    def test_exclusions_and_source_date_epoch_reach_the_build(self):
        # What pack refuses is left out by a pattern: a name at any depth, a path, a folder
        # not entered; patterns from a file with a comment and a blank line.
        source = self.path("src")
        for folder in ("sub/build", "build/deep"):
            os.makedirs(os.path.join(source, folder))
        for name in ("a.txt", "sub/b.txt", "sub/x.tmp", "sub/build/c.txt"):
            pathlib.Path(source, name).write_bytes(b"kept")
        for link in ("gone", "build/deep/gone2", "sub/gone3"):
            os.symlink("nowhere", os.path.join(source, link))
        patterns = self.path("patterns")
        pathlib.Path(patterns).write_text("# left out\n\n*.TMP\r\nbuild/deep\n")
        output = self.path("out.exe")
        r = self.pack(source, output, "-q", "-x", "gone", "--exclude=sub/gone3", "--exclude-from", patterns)
        self.assertRun(r, 0, [": 3 files added"])
        names = [json.loads(l)["name"] for l in run("list", "--json", output).stdout.splitlines()]
        self.assertEqual(["", "a.txt", "build\\", "sub\\", "sub\\b.txt", "sub\\build\\", "sub\\build\\c.txt"],
                         names)
        # Every time later than SOURCE_DATE_EPOCH is stored as it.
        pathlib.Path(patterns).write_text("gone*\nbuild\n*.tmp\n")
        env = dict(os.environ, TZ="UTC", SOURCE_DATE_EPOCH="315532800")  # 1980-01-01 00:00 UTC
        r = subprocess.run([TOOL, "pack", "-q", "--stub", self.stub, "--exclude-from", patterns, source, output],
                           capture_output=True, text=True, timeout=TIMEOUT_SECONDS, env=env)
        self.assertRun(r, 0)
        listing = [json.loads(l) for l in run("list", "--json", output).stdout.splitlines()]
        times = {o["time"] for o in listing if o["kind"] == "file"}
        self.assertEqual({"1980-01-01T00:00:00"}, times)

    def test_causes_are_named_with_the_systems_reason(self):
        source, _ = self.make_source()
        output = self.path("out.exe")
        # A temporary folder no one may write to: as root, the run is made as nobody.
        locked = self.path("locked tmp")
        os.makedirs(locked)
        os.chmod(locked, 0o555)
        as_nobody = None
        if os.geteuid() == 0:
            os.chmod(self.work, 0o777)
            for folder, _, names in os.walk(source):
                os.chmod(folder, 0o755)
                for name in names:
                    os.chmod(os.path.join(folder, name), 0o644)
            os.chmod(self.stub, 0o644)

            def as_nobody():
                os.setgid(65534)
                os.setuid(65534)
        r = subprocess.run([TOOL, "pack", source, output, "--stub", self.stub, "--quiet"],
                           capture_output=True, text=True, timeout=TIMEOUT_SECONDS,
                           env=dict(os.environ, TMPDIR=locked), preexec_fn=as_nobody)
        self.assertRun(r, 1, stderr=["no private folder could be made for the temporary archive: " + locked,
                                     ": Permission denied\n"])
        self.assertEqual(1, len(r.stderr.splitlines()), r.stderr)
        self.assertNotIn("changed while it was packed", r.stderr)
        os.makedirs(self.path("out"))
        rows = [  # arguments, the one line said
            ([self.path("missing"), output],
             "not written: cannot read the folder %s: No such file or directory" % self.path("missing")),
            ([self.stub, output], "not written: %s is not a folder" % self.stub),
            ([source, self.path("no such folder", "out.exe"), "--stub", self.stub],
             "not written: cannot create or write %s: No such file or directory" % self.path("no such folder", "out.exe")),
            ([source, output, "--stub", self.path("missing stub")],
             "not written: cannot read the stub %s: No such file or directory" % self.path("missing stub")),
            ([source, self.path("out"), "--stub", self.stub],
             "not written: the output is a folder, not a file: " + self.path("out")),
        ]
        for args, line in rows:
            with self.subTest(line=line):
                r = run("pack", *args)
                self.assertRun(r, 1)
                self.assertEqual("vezovud pack: " + line, r.stderr.rstrip("\n").split("\n")[0])
                self.assertEqual(1, len(r.stderr.splitlines()), r.stderr)

    def test_a_deep_folder_and_running_out_of_files_to_open(self):
        # 1,500 folders deep: the walk holds one folder for each level, more than the usual
        # limit of 1,024 open files, which the tool raises as far as it may. Where it may not,
        # the cause is said once.
        deep = self.path("deep")
        levels = [deep]
        for _ in range(1500):
            levels.append(os.path.join(levels[-1], "d"))
        for level in levels:
            os.mkdir(level)
        pathlib.Path(levels[-1], "bottom.txt").write_bytes(b"at the bottom")

        def remove_deep():  # deeper than shutil.rmtree goes
            os.remove(os.path.join(levels[-1], "bottom.txt"))
            for level in reversed(levels):
                os.rmdir(level)
        self.addCleanup(remove_deep)
        output = self.path("deep.exe")
        own_hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
        if own_hard == resource.RLIM_INFINITY:
            own_hard = 1 << 20
        for hard, exit_code in ((own_hard, 0), (1024, 1)):
            with self.subTest(hard=hard):
                limits = (1024, hard)
                r = subprocess.run([TOOL, "pack", deep, output, "--stub", self.stub, "--quiet"],
                                   capture_output=True, text=True, timeout=TIMEOUT_SECONDS,
                                   preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, limits))
                if hard <= 1600 and exit_code == 0:
                    continue  # this machine's own limit is too low to show it
                self.assertRun(r, exit_code)
        self.assertRun(run("list", output), 0, ["bottom.txt"])
        self.assertEqual(1, r.stderr.count("ran out of files to open"), r.stderr)
        self.assertIn("(Too many open files)", r.stderr)
        self.assertLess(len(r.stderr.splitlines()), 5, "said once, not for every item")
        # Many workers and room for only a few open files: hundreds of files fail alike.
        many = self.path("many")
        os.makedirs(many)
        for i in range(300):
            pathlib.Path(many, "f%03d" % i).write_bytes(os.urandom(60000))
        r = subprocess.run([TOOL, "pack", many, output, "--stub", self.stub, "--quiet", "--jobs", "16"],
                           capture_output=True, text=True, timeout=TIMEOUT_SECONDS,
                           preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (7, 7)))
        self.assertRun(r, 1, stderr=["ran out of files to open (Too many open files)"])
        self.assertEqual(1, r.stderr.count("ran out of files to open"), r.stderr)
        self.assertLess(len(r.stderr.splitlines()), 5, r.stderr)

    def test_70000_files_get_zip64_end_records(self):
        # The end record's 16-bit counts overflow; the Zip64 end records carry the true count.
        many = self.path("many")
        os.makedirs(many)
        for i in range(70000):
            open(os.path.join(many, "f%05d" % i), "wb").close()
        big = self.path("many.exe")
        self.assertRun(self.pack(many, big, "--quiet"), 0, [": 70000 files added"])
        data = pathlib.Path(big).read_bytes()
        end = len(data) - 4 - 22
        zip64, locator = end - 20 - 56, end - 20
        size, at = struct.unpack("<II", data[end + 12:end + 20])
        start = zip64 - size - at  # where the archive starts behind the stub
        self.assertEqual(len(FAKE_STUB), start)
        self.assertEqual(b"PK\x05\x06" + bytes(4) + b"\xff\xff\xff\xff", data[end:end + 12],
                         "the end record keeps 0xFFFF")
        self.assertEqual((0x07064b50, 0, zip64 - start, 1), struct.unpack("<IIQI", data[locator:locator + 20]))
        self.assertEqual((0x06064b50, 44, 45, 45, 0, 0, 70001, 70001, size, at),
                         struct.unpack("<IQHHIIQQQQ", data[zip64:zip64 + 56]))
        # Other readers take the Zip64 records (unzip's exit 1 only warns of the stub).
        for command, passing in ((["unzip", "-tqq"], (0, 1)), (["7z", "t"], (0,))):
            r = subprocess.run(command + [big], capture_output=True, timeout=TIMEOUT_SECONDS)
            self.assertIn(r.returncode, passing, command[0])
        with zipfile.ZipFile(big) as z:
            self.assertIsNone(z.testzip())


def part_files(root):
    """Paths below root whose name has the part files' prefix."""
    return sorted(str(p) for p in pathlib.Path(root).rglob(".~vz*"))


class UnpackSafetyTest(ToolTest):
    """Part files, names as typed and the system's reasons."""

    def test_names_and_destinations_are_taken_as_typed(self):
        # On Linux "\" is an ordinary character of DEST and FILE; the part files' old and new
        # names are ordinary names in an archive, and a second run into the same folder works.
        names = ["~" + c for c in "0123456789abcdefghijklmnopqrstuvwxyz"] + [".~vzabcdefgh", "~/a"]
        exe = self.write_output("a\\b.exe", [(n, n.encode()) for n in names])
        self.assertRun(run("test", exe), 0, ["38 entries OK"])
        os.chdir(self.work)
        self.addCleanup(os.chdir, "/")
        for jobs in ("1", "4", "4"):
            with self.subTest(jobs=jobs):
                self.assertRun(run("unpack", "a\\b.exe", "x\\y", "--jobs", jobs), 0)
                self.assertEqual(sorted(["a\\b.exe", "stub.bin", "x\\y"]), sorted(os.listdir(self.work)))
                dest = self.path("x\\y")
                for n in names:
                    self.assertEqual(n.encode(), pathlib.Path(dest, n).read_bytes())
                self.assertEqual([os.path.join(dest, ".~vzabcdefgh")], part_files(dest),
                                 "no part file but the stored one")
        self.assertRun(run("unpack", exe, self.path("trailing\\")), 0)
        self.assertTrue(os.path.isdir(self.path("trailing\\")), "a final \\ is part of the name")

    def test_failed_system_calls_carry_the_systems_reason(self):
        exe = self.write_output("setup.exe", [("ok.txt", b"ok"), ("n" * 300 + "/f.txt", b"deep"),
                                              ("big.bin", bytes(300000))])
        pathlib.Path(self.path("a file")).write_bytes(b"keep me")

        def limited():  # files of at most 100,000 bytes; a longer write fails instead of killing
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))

        rows = [  # destination, --jobs, limit the file size, words in stderr
            (self.path("a file"), "1", False, ["cannot make the folder %s: Not a directory; nothing was "
                                               "extracted" % self.path("a file")]),
            (self.path("d1"), "1", True, ["failed: big.bin: write error: File too large",
                                          "a folder could not be made: File name too long"]),
            (self.path("d2"), "2", True, ["failed: big.bin: write error: File too large"]),
        ]
        for dest, jobs, limit, words in rows:
            with self.subTest(dest=os.path.basename(dest), jobs=jobs):
                r = subprocess.run([TOOL, "unpack", exe, dest, "--jobs", jobs], capture_output=True,
                                   text=True, timeout=TIMEOUT_SECONDS, preexec_fn=limited if limit else None)
                self.assertRun(r, 1, stderr=words)
                if os.path.isdir(dest):
                    self.assertEqual(["ok.txt"], os.listdir(dest), "nothing torn, no part file")
        self.assertEqual(b"keep me", pathlib.Path(self.path("a file")).read_bytes())

    def test_a_full_disk_is_said_in_one_line_and_what_came_out_whole_stays(self):
        # A 1 MiB file system of its own (a private mount), filled by unpack and by pack.
        files = {"f%02d.bin" % i: os.urandom(100000) for i in range(30)}
        exe = self.write_output("setup.exe", list(files.items()))
        source = self.path("source")
        os.makedirs(source)
        for name, data in files.items():
            pathlib.Path(source, name).write_bytes(data)
        mount = self.path("small")
        os.makedirs(mount)
        script = ('mount -t tmpfs -o size=1m none "$1" || exit 77; mkdir "$0"; shift; "$@"; code=$?; '
                  'cd "$0" && find . -type f -exec md5sum {} + ; exit $code')
        rows = [  # arguments (MOUNT stands for the small file system), words of the one line
            (["unpack", exe, "MOUNT/dest"], "No space left on device"),
            (["pack", "-q", "--stub", self.stub, source, "MOUNT/dest/out.exe"],
             "not written: No space left on device"),
        ]
        for args, words in rows:
            with self.subTest(args=args[:3]):
                args = [a.replace("MOUNT", mount) for a in args]
                r = subprocess.run(["unshare", "--user", "--map-root-user", "--mount", "sh", "-c", script,
                                    os.path.join(mount, "dest"), mount, TOOL, *args],
                                   capture_output=True, text=True, timeout=TIMEOUT_SECONDS)
                if r.returncode == 77 or "unshare:" in r.stderr:
                    self.skipTest("no private mount here: " + r.stderr.strip())
                self.assertRun(r, 1, stderr=[words])
                self.assertLessEqual(len(r.stderr.splitlines()), 2, r.stderr)
                sums = dict(reversed(line.split("  ./")) for line in r.stdout.splitlines() if "  ./" in line)
                self.assertEqual([], [n for n in sums if n.startswith(".~vz") or n == "out.exe"])
                for name, digest in sums.items():
                    self.assertEqual(hashlib.md5(files[name]).hexdigest(), digest, name)

    def test_left_part_files_of_ours_go_and_nothing_else(self):
        # What an ended run leaves, ours, goes from each folder the next run lands a file in;
        # names of that pattern that are no plain file of ours, and other names, stay.
        exe = self.write_output("setup.exe", [("a.txt", b"a"), ("sub/b.txt", b"b"), ("quiet/", b"")])
        dest = self.path("dest")
        outside = self.path("outside.txt")
        pathlib.Path(outside).write_bytes(b"outside")
        rows = [  # name below dest, what it is, whether it stays
            (".~vz12345678", "file", False),
            ("sub/.~vz0000zzzz", "file", False),
            ("quiet/.~vz12345678", "file", True),  # no file lands in quiet
            (".~vzlink0000", "link", True),
            (".~vzfold0000", "folder", True),
            (".~vzABCDEFGH", "file", True),
            (".~vz1234567", "file", True),
            (".~vz123456789", "file", True),
            ("x.~vz12345678", "file", True),
        ]
        if os.geteuid() == 0:
            rows.append((".~vzother000", "other user's file", True))
        for name, kind, _ in rows:
            path = pathlib.Path(dest, name)
            path.parent.mkdir(parents=True, exist_ok=True)
            if kind == "link":
                os.symlink(outside, path)
            elif kind == "folder":
                path.mkdir()
            else:
                path.write_bytes(b"left")
                if kind != "file":
                    os.chown(path, 65534, 65534)
        self.assertRun(run("unpack", exe, dest), 0)
        for name, kind, stays in rows:
            with self.subTest(name=name, kind=kind):
                self.assertEqual(stays, os.path.lexists(os.path.join(dest, name)))
        self.assertEqual(b"outside", pathlib.Path(outside).read_bytes())
        self.assertEqual(b"b", pathlib.Path(dest, "sub", "b.txt").read_bytes())


class InterruptTest(ToolTest):
    """Runs of unpack interrupted while a part file is written, and what they leave."""
    BIG_BYTES = 128 << 20
    ATTEMPTS = 5  # runs per row that may end before the signal comes
    archive = None
    expected = {}

    @classmethod
    def setUpClass(cls):
        # Small files (for the writer threads) before each of three large ones that take a while.
        cls.folder = tempfile.mkdtemp(prefix="vezovud-cli-interrupt-")
        cls.archive = os.path.join(cls.folder, "large.zip")
        rng = random.Random(19)
        with zipfile.ZipFile(cls.archive, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
            for i in range(3):
                for j in range(40):
                    name = "small%d/%02d.txt" % (i, j)
                    cls.expected[name] = rng.randbytes(2000)
                    z.writestr(name, cls.expected[name])
                name = "big%d.bin" % i
                cls.expected[name] = bytes(cls.BIG_BYTES)
                z.writestr(name, cls.expected[name])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def check_whole(self, dest, parts_allowed):
        """Every file under a real name in dest is whole; part files only where allowed."""
        for path in pathlib.Path(dest).rglob("*"):
            if path.is_dir():
                continue
            name = str(path.relative_to(dest))
            if path.name.startswith(".~vz"):
                self.assertTrue(parts_allowed, "part file left: " + name)
                continue
            self.assertIn(name, self.expected)
            self.assertTrue(path.read_bytes() == self.expected[name], "torn file: " + name)

    def test_interrupts_remove_part_files_and_leave_no_torn_file(self):
        # SIGTERM and SIGHUP take SIGINT's way (tests/runtime); SIGKILL leaves part files behind.
        rows = [(sig, jobs) for sig in (signal.SIGINT, signal.SIGKILL) for jobs in ("1", "4")]
        for sig, jobs in rows:
            with self.subTest(signal=sig.name, jobs=jobs):
                dest = self.path("dest-%s-%s" % (sig.name, jobs))
                for _ in range(self.ATTEMPTS):
                    process = subprocess.Popen([TOOL, "unpack", self.archive, dest, "--jobs", jobs],
                                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                    # Once a part file holds bytes, its entry is being written.
                    seen = self.wait_for(process, lambda: any(size_or_zero(p) > 0 for p in part_files(dest)))
                    if seen:
                        process.send_signal(sig)
                    _, said = process.communicate(timeout=TIMEOUT_SECONDS)
                    if seen and process.returncode != 0:
                        break
                    shutil.rmtree(dest, ignore_errors=True)  # it ended before the signal came
                self.assertTrue(seen, "unpack ended before a part file was seen")
                killed = sig == signal.SIGKILL
                self.assertEqual(-sig if killed else 128 + sig, process.returncode)
                if not killed:  # one line says what was kept
                    self.assertEqual([b"vezovud unpack: interrupted; the files extracted whole stay, "
                                      b"the ones being written are removed"], said.splitlines())
                self.check_whole(dest, parts_allowed=killed)
                # The next run completes, and leaves no part file behind.
                self.assertRun(run("unpack", self.archive, dest, "--jobs", jobs), 0)
                self.check_whole(dest, parts_allowed=False)
                self.assertEqual(sorted(self.expected), sorted(
                    str(p.relative_to(dest)) for p in pathlib.Path(dest).rglob("*") if p.is_file()))
                shutil.rmtree(dest)


class PackInterruptTest(ToolTest):
    ATTEMPTS = 5  # runs per signal and moment that may end before the moment is met

    def test_an_interrupted_pack_leaves_nothing_behind_and_blocks_no_rerun(self):
        source = self.path("big")
        os.makedirs(source)
        for i in range(40):
            pathlib.Path(source, "f%02d.bin" % i).write_bytes(os.urandom(1 << 20))
        tmp, out = self.path("tmp"), self.path("out")
        os.makedirs(tmp)
        os.makedirs(out)
        output = os.path.join(out, "setup.exe")
        pathlib.Path(output).write_bytes(b"the old output")
        environment = dict(os.environ, TMPDIR=tmp)

        def archive_growing():  # the temporary archive in the private folder is under way
            for folder in pathlib.Path(tmp).glob("vezovud-*"):
                for item in folder.iterdir():
                    if item.stat().st_size > (1 << 20):
                        return True
            return False

        def part_file():  # the output is being written
            return any(name.startswith(".~vz") for name in os.listdir(out))

        for number in (signal.SIGINT, signal.SIGTERM):
            for moment, found in (("archiving", archive_growing), ("writing the output", part_file)):
                with self.subTest(signal=number.name, moment=moment):
                    for _ in range(self.ATTEMPTS):
                        process = subprocess.Popen(
                            [TOOL, "pack", source, output, "--stub", self.stub, "--quiet",
                             "--jobs", "2"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            env=environment)
                        caught = self.wait_for(process, found)
                        if caught:
                            process.send_signal(number)
                        _, said = process.communicate(timeout=TIMEOUT_SECONDS)
                        if caught:
                            break
                        pathlib.Path(output).write_bytes(b"the old output")  # it ended first
                    self.assertTrue(caught, "the moment was never met")
                    self.assertEqual(128 + number, process.returncode)
                    self.assertEqual(b"", said, "--quiet says nothing of the interrupt")
                    self.assertEqual([], os.listdir(tmp), "the private folder is gone")
                    self.assertEqual(["setup.exe"], os.listdir(out), "no part file is left")
                    self.assertEqual(b"the old output", pathlib.Path(output).read_bytes())
        # A part file that a killed run left is no obstacle, and the re-run removes it.
        stale = os.path.join(out, ".~vzk1ll3d00")
        pathlib.Path(stale).write_bytes(b"left by kill -9")
        r = subprocess.run([TOOL, "pack", source, output, "--stub", self.stub, "--quiet"],
                           capture_output=True, text=True, timeout=TIMEOUT_SECONDS,
                           env=environment)
        self.assertRun(r, 0, [": 40 files added"])
        self.assertEqual(["setup.exe"], os.listdir(out))
        self.assertEqual([], os.listdir(tmp))


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
