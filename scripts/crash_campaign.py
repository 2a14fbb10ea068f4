#!/usr/bin/env python3
"""Kills `vezovud pack` and `vezovud unpack` at random moments and checks what each kill left.

Each round starts the command, sends KILL, INT or TERM after a random delay (with --jobs 1 or 4),
then checks:
- pack: the output is absent, or whole (`vezovud test` passes); after INT or TERM the exit code is
  130 or 143 (or 0 when the run ended first, or the signal itself when it came before the handler),
  and no private temporary folder and no part file is left; a re-run succeeds and leaves no part file of ours.
- unpack: every file under a real name is whole (the source's bytes); after INT or TERM no part
  file is left; a re-run into the same destination succeeds, the tree is the source's, and no part
  file of ours is left.
Not part of the test command: it takes minutes. Prints the counts and exits 1 on any failure.

Usage: crash_campaign.py [--rounds N] [--seed S] [--tool PATH] [--work DIR]"""
import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

PART_PREFIX = ".~vz"
SIGNALS = {"KILL": signal.SIGKILL, "INT": signal.SIGINT, "TERM": signal.SIGTERM}


def make_source(root, rng):
    """Many small files, some large ones (several deflate chunks), nested folders."""
    for i in range(400):
        folder = os.path.join(root, "d%02d" % (i % 13), "e%d" % (i % 3))
        os.makedirs(folder, exist_ok=True)
        size = rng.choice([0, 10, 700, 5000, 40000])
        with open(os.path.join(folder, "f%03d.txt" % i), "wb") as f:
            f.write(bytes(rng.getrandbits(8) for _ in range(size // 8)) * 8)
    for i in range(4):
        with open(os.path.join(root, "big%d.bin" % i), "wb") as f:
            f.write(os.urandom(3 << 20) + b"text " * (300 << 10))


def tree(root):
    """{relative path: bytes or None for a folder}, part files of ours left out."""
    found = {}
    for here, dirs, files in os.walk(root):
        for name in dirs:
            found[os.path.relpath(os.path.join(here, name), root)] = None
        for name in files:
            path = os.path.join(here, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
    return found


def part_files(root):
    return [os.path.join(here, name) for here, _, files in os.walk(root)
            for name in files if name.startswith(PART_PREFIX)]


def expected_codes(sig):
    """0 when the run ended first; 128 + sig from the tool's handler; or, for a signal that came
    before the handler was in place (right at the start, nothing made yet), the end by the signal
    itself, which a shell reports as 128 + sig too."""
    return (0, 128 + sig, -sig)


def run_and_kill(command, env, sig, delay):
    started = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True)
    try:
        started.wait(timeout=delay)
    except subprocess.TimeoutExpired:
        started.send_signal(sig)
    _, err = started.communicate(timeout=120)
    return started.returncode, err


class Campaign:
    def __init__(self, tool, work, rng):
        self.tool, self.work, self.rng = tool, work, rng
        self.failures = []
        self.counts = {}

    def fail(self, label):
        print("FAIL  " + label, flush=True)
        self.failures.append(label)

    def count(self, key):
        self.counts[key] = self.counts.get(key, 0) + 1

    def env(self, tmp):
        env = dict(os.environ)
        env["TMPDIR"] = tmp
        return env

    def pack_round(self, n, source, out_dir, tmp, duration):
        name, sig = self.rng.choice(sorted(SIGNALS.items()))
        jobs = self.rng.choice([1, 4])
        delay = self.rng.uniform(0, duration * 1.1)
        output = os.path.join(out_dir, "out.exe")
        code, err = run_and_kill([self.tool, "pack", source, output, "--jobs", str(jobs),
                                  "--quiet"], self.env(tmp), sig, delay)
        label = "pack round %d (%s after %.2f s, --jobs %d, exit %s)" % (n, name, delay, jobs, code)
        self.count("pack " + name)
        if os.path.exists(output):
            tested = subprocess.run([self.tool, "test", output], capture_output=True)
            if tested.returncode != 0:
                self.fail(label + ": a torn output under its real name")
        if name != "KILL":
            if code not in expected_codes(sig):
                self.fail(label + ": exit code %s: %s" % (code, err.strip()[-300:]))
            if os.listdir(tmp):
                self.fail(label + ": left in TMPDIR: %r" % os.listdir(tmp))
            if part_files(out_dir):
                self.fail(label + ": part files left: %r" % part_files(out_dir))
        # A re-run succeeds whatever the kill left, and leaves no part file of ours.
        again = subprocess.run([self.tool, "pack", source, output, "--jobs", str(jobs), "--quiet"],
                               env=self.env(tmp), capture_output=True, text=True)
        if again.returncode != 0:
            self.fail(label + ": the re-run failed: " + again.stderr.strip()[-300:])
        if part_files(out_dir):
            self.fail(label + ": part files after the re-run: %r" % part_files(out_dir))
        shutil.rmtree(tmp)  # what a KILL may leave: the next round starts clean
        os.makedirs(tmp)

    def unpack_round(self, n, archive, expected, dest, tmp, duration):
        name, sig = self.rng.choice(sorted(SIGNALS.items()))
        jobs = self.rng.choice([1, 4])
        delay = self.rng.uniform(0, duration * 1.1)
        if self.rng.random() < 0.5:
            shutil.rmtree(dest, ignore_errors=True)  # half the rounds into a fresh destination
        code, err = run_and_kill([self.tool, "unpack", archive, dest, "--jobs", str(jobs)],
                                 self.env(tmp), sig, delay)
        label = "unpack round %d (%s after %.2f s, --jobs %d, exit %s)" % (n, name, delay, jobs,
                                                                         code)
        self.count("unpack " + name)
        if os.path.isdir(dest):
            for path, data in tree(dest).items():
                if os.path.basename(path).startswith(PART_PREFIX):
                    continue
                if path not in expected or expected[path] != data:
                    self.fail(label + ": %s is not whole" % path)
                    break
        if name != "KILL":
            if code not in expected_codes(sig):
                self.fail(label + ": exit code %s: %s" % (code, err.strip()[-300:]))
            if os.path.isdir(dest) and part_files(dest):
                self.fail(label + ": part files left: %r" % part_files(dest)[:5])
        again = subprocess.run([self.tool, "unpack", archive, dest, "--jobs", str(jobs)],
                               env=self.env(tmp), capture_output=True, text=True)
        if again.returncode != 0:
            self.fail(label + ": the re-run failed: " + again.stderr.strip()[-300:])
        elif part_files(dest):
            self.fail(label + ": part files after the re-run: %r" % part_files(dest)[:5])
        elif tree(dest) != expected:
            self.fail(label + ": the re-run's tree differs from the source")


def timed(command, env):
    start = time.time()
    subprocess.run(command, env=env, check=True, capture_output=True)
    return time.time() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=200, help="kills of each command")
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--tool", default=os.path.join(os.path.dirname(__file__), "..", "build",
                                                       "native", "cli", "vezovud"))
    parser.add_argument("--work", default=None)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    print("seed %d, %d rounds each" % (args.seed, args.rounds), flush=True)
    work = args.work or tempfile.mkdtemp(prefix="crash-campaign-")
    source = os.path.join(work, "source")
    os.makedirs(source)
    make_source(source, rng)
    out_dir, dest, tmp = (os.path.join(work, name) for name in ("out", "dest", "tmp"))
    for folder in (out_dir, tmp):
        os.makedirs(folder)
    campaign = Campaign(os.path.abspath(args.tool), work, rng)
    archive = os.path.join(work, "whole.exe")
    pack_time = timed([campaign.tool, "pack", source, archive, "--quiet"], campaign.env(tmp))
    unpack_time = timed([campaign.tool, "unpack", archive, os.path.join(work, "first")],
                        campaign.env(tmp))
    expected = tree(source)
    print("pack takes %.2f s, unpack %.2f s" % (pack_time, unpack_time), flush=True)
    for n in range(args.rounds):
        campaign.pack_round(n, source, out_dir, tmp, pack_time)
        campaign.unpack_round(n, archive, expected, dest, tmp, unpack_time)
    print("rounds by kind: " + ", ".join("%s %d" % item for item in sorted(campaign.counts.items())))
    failed_rounds = len(set(label.split(":")[0] for label in campaign.failures))
    print("rounds: %d passed, %d failed" % (2 * args.rounds - failed_rounds, failed_rounds))
    if not args.work:
        shutil.rmtree(work)
    return 1 if campaign.failures else 0


if __name__ == "__main__":
    sys.exit(main())
