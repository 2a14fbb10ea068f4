#!/usr/bin/env python3
"""The Debian package of the native build, made and used as a user would: cpack makes it, it is
unpacked into a scratch root, and the vezovud found there packs and unpacks a folder with the
stub installed beside it.

Usage: deb_test.py BUILD_FOLDER [unittest arguments]"""
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

BUILD = None  # set from the command line
TIMEOUT_SECONDS = 300


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=TIMEOUT_SECONDS,
                          check=True, **kwargs)


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="vezovud-deb-")
        top = pathlib.Path(cls.scratch.name)
        run("cpack", "-G", "DEB", "-B", str(top / "cpack"), "--config",
            os.path.join(BUILD, "CPackConfig.cmake"))
        debs = list((top / "cpack").glob("*.deb"))
        assert len(debs) == 1, debs
        cls.deb = debs[0]
        cls.root = top / "root"
        run("dpkg-deb", "-x", str(cls.deb), str(cls.root))
        cls.tool = cls.root / "usr/bin/vezovud"

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def field(self, name):
        return run("dpkg-deb", "-f", str(self.deb), name).stdout.strip()

    def test_control_fields_name_version_and_shared_libraries(self):
        version = run(str(self.tool), "--version").stdout.split()[-1]
        arch = run("dpkg", "--print-architecture").stdout.strip()
        self.assertEqual(self.deb.name, f"vezovud_{version}_{arch}.deb")
        self.assertEqual(self.field("Package"), "vezovud")
        self.assertEqual(self.field("Version"), version)
        # dpkg-shlibdeps' line: every shared library the tool loads has its package there.
        depends = {re.split(r"[ (]", d.strip())[0] for d in self.field("Depends").split(",")}
        self.assertLessEqual({"libc6", "libminizip1", "zlib1g"}, depends)

    def test_files_in_their_places(self):
        share = self.root / "usr/share"
        for path in ("usr/bin/vezovud", "usr/share/man/man1/vezovud.1.gz",
                     "usr/share/bash-completion/completions/vezovud",
                     "usr/share/vezovud/VezovudStub.exe", "usr/share/vezovud/VezovudMaker.exe"):
            self.assertTrue((self.root / path).is_file(), path)
        self.assertTrue(os.access(self.tool, os.X_OK))
        man = run("gzip", "-dc", str(share / "man/man1/vezovud.1.gz")).stdout
        self.assertIn(".TH VEZOVUD 1", man)
        self.assertEqual(run("bash", "-n", str(share / "bash-completion/completions/vezovud"))
                         .returncode, 0)

    def test_installed_tool_packs_and_unpacks_with_its_stub(self):
        work = pathlib.Path(self.scratch.name) / "work"
        source = work / "daten über"
        (source / "sub" / "tief").mkdir(parents=True)
        (source / "a.txt").write_bytes(b"alpha\n" * 1000)
        (source / "sub" / "b.bin").write_bytes(bytes(range(256)) * 300)
        (source / "sub" / "tief" / "leer.txt").write_bytes(b"")
        output = work / "out.exe"
        run(str(self.tool), "pack", "--quiet", str(source), str(output))
        # The stub the tool writes is the one installed beside it.
        stub = (self.root / "usr/share/vezovud/VezovudStub.exe").read_bytes()
        self.assertEqual(output.read_bytes()[:len(stub)], stub)
        run(str(self.tool), "test", str(output))
        destination = work / "back"
        run(str(self.tool), "unpack", str(output), str(destination))
        self.assertEqual(sorted(p.relative_to(destination).as_posix()
                                for p in destination.rglob("*")),
                         sorted(p.relative_to(source).as_posix() for p in source.rglob("*")))
        for path in source.rglob("*"):
            if path.is_file():
                self.assertEqual(path.read_bytes(),
                                 (destination / path.relative_to(source)).read_bytes(), path)


if __name__ == "__main__":
    BUILD = sys.argv.pop(1)
    unittest.main()
