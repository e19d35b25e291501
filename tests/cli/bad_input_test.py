#!/usr/bin/python3
"""rkv under bad input, signals, limits and full disks: exit codes, nothing left on disk, input
read once and within bounds. One group per theme: bad_input_test.py Signals (RKV_BIN and
RKV_SOURCE_DIR in the environment)."""

import json
import os
import resource
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

RKV = os.environ.get("RKV_BIN", "rkv")
SONG = os.path.join(os.environ.get("RKV_SOURCE_DIR", "."), "demo", "lantern.rkv")
SANITIZED = "ASAN_OPTIONS" in os.environ  # sanitizers reserve memory of their own


def wait_for(condition, what, seconds=30):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)


def written(pid):
    try:
        with open(f"/proc/{pid}/io") as f:
            return int(dict(line.split(": ") for line in f.read().splitlines())["wchar"])
    except (OSError, KeyError):
        return 0


def peak_kib(args, stdout=subprocess.DEVNULL):
    """Runs rkv; returns (exit code, peak resident KiB, stderr). Measured by a small parent: a
    child forked from Python would carry Python's own peak along."""
    with tempfile.NamedTemporaryFile() as peak:
        r = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak.name, RKV, *args],
                           stdout=stdout, stderr=subprocess.PIPE, timeout=120)
        return r.returncode, int(peak.read().split()[-1]), r.stderr.decode(errors="replace")


def sparse(path, size, magic, steps):
    with open(path, "wb") as f:
        f.write(magic + bytes(16) + steps.to_bytes(4, "little"))
        f.truncate(size)


class Case(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.out = os.path.join(self.dir, "out")
        os.mkdir(self.out)

    def tearDown(self):
        self.tmp.cleanup()

    def run_rkv(self, *args, **kw):
        return subprocess.run([RKV, *args], capture_output=True, timeout=120, **kw)

    def reference(self):
        ref = os.path.join(self.dir, "ref.wav")
        self.assertEqual(self.run_rkv("render", SONG, "-o", ref).returncode, 0)
        with open(ref, "rb") as f:
            return f.read()


class Signals(Case):
    def test_render_killed_leaves_nothing(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
            p = subprocess.Popen([RKV, "render", SONG, "-o", os.path.join(self.out, "k.wav"),
                                  "--seconds", "43200"], stderr=subprocess.DEVNULL)
            wait_for(lambda: written(p.pid) > 1 << 20, "the render to write")
            p.send_signal(sig)
            self.assertEqual(p.wait(timeout=30), 128 + sig, sig)
            self.assertEqual(os.listdir(self.out), [], sig)

    def test_play_killed_leaves_nothing(self):
        for sig in (signal.SIGINT, signal.SIGHUP, signal.SIGQUIT, signal.SIGTERM):
            raw = os.path.join(self.dir, "device.raw")
            env = dict(os.environ, TMPDIR=self.out, SDL_AUDIODRIVER="disk",
                       SDL_DISKAUDIOFILE=raw)
            p = subprocess.Popen([RKV, "play"], env=env, stderr=subprocess.DEVNULL)
            wait_for(lambda: os.path.exists(raw) and os.path.getsize(raw) > 0, "sound")
            p.send_signal(sig)
            self.assertEqual(p.wait(timeout=30), 128 + sig, sig)
            self.assertEqual(os.listdir(self.out), [], sig)
            os.remove(raw)

    def test_file_size_limit_is_a_write_error(self):
        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (512 * 1024, 512 * 1024))
        for name in ("big.wav", "big.ogg", "big.flac"):
            r = self.run_rkv("render", SONG, "-o", os.path.join(self.out, name), "--seconds",
                             "600", preexec_fn=limit)
            self.assertEqual(r.returncode, 4, name)
            self.assertIn(b"File too large", r.stderr, name)
            self.assertEqual(os.listdir(self.out), [], name)


class Names(Case):
    def test_name_that_is_not_utf8(self):
        name = os.path.join(self.dir, "caf\udce9.rkv")
        with open(SONG, "rb") as src, open(name, "wb") as dst:
            dst.write(src.read())
        for args in (["--json", name], ["--json", name, SONG], [name]):
            r = self.run_rkv("info", *args)
            self.assertEqual(r.returncode, 0, r.stderr)
        report = json.loads(self.run_rkv("info", "--json", name).stdout)
        self.assertEqual(bytes.fromhex(report["file_hex"]), os.fsencode(name))
        self.assertTrue(report["playable"])

    def test_long_names_and_symlinks(self):
        for length in range(248, 256):
            path = os.path.join(self.out, "n" * (length - 4) + ".wav")
            r = self.run_rkv("render", SONG, "-o", path, "--seconds", "0.1")
            self.assertEqual(r.returncode, 0, (length, r.stderr))
            os.remove(path)
        real, link = os.path.join(self.out, "real.wav"), os.path.join(self.out, "link.wav")
        open(real, "wb").close()
        os.symlink("real.wav", link)
        self.assertEqual(self.run_rkv("render", SONG, "-o", link).returncode, 0)
        self.assertTrue(os.path.islink(link))
        with open(real, "rb") as f:
            self.assertEqual(f.read(), self.reference())
        self.assertEqual(sorted(os.listdir(self.out)), ["link.wav", "real.wav"])
        # A FIFO or a device is never replaced by a file.
        fifo = os.path.join(self.out, "pipe.wav")
        os.mkfifo(fifo)
        self.assertEqual(self.run_rkv("render", SONG, "-o", fifo).returncode, 4)
        self.assertFalse(os.path.isfile(fifo))

    def test_readable_limits(self):
        for args in (["--seconds", "inf"], ["--loops", "-1"], ["--fade", "1e400"]):
            r = self.run_rkv("render", SONG, "-o", self.out + "/x.wav", *args)
            self.assertEqual(r.returncode, 1, args)
            self.assertLess(len(r.stderr), 160, r.stderr)


class Reading(Case):
    def test_pipes_and_fifos_are_read_once(self):
        want = self.reference()
        fifo = os.path.join(self.dir, "song.fifo")
        os.mkfifo(fifo)

        def feed():
            with open(fifo, "wb") as f, open(SONG, "rb") as s:
                f.write(s.read())
        cases = [("-", "pipe"), ("/dev/stdin", "pipe"), (fifo, "fifo")]
        for song, how in cases:
            out = os.path.join(self.out, "x.wav")
            with open(SONG, "rb") as s:
                if how == "fifo":
                    threading.Thread(target=feed, daemon=True).start()
                cat = subprocess.Popen(["cat"], stdin=s, stdout=subprocess.PIPE)
                r = self.run_rkv("render", song, "-o", out, stdin=cat.stdout)
                cat.wait()
            self.assertEqual(r.returncode, 0, (song, r.stderr))
            with open(out, "rb") as f:
                self.assertEqual(f.read(), want, song)
        with open(SONG, "rb") as s:
            r = self.run_rkv("info", "--json", "-", stdin=s)
        self.assertEqual(json.loads(r.stdout)["step_count"], 320)

    def test_reads_are_bounded(self):
        base = peak_kib(["info", SONG])[1]
        no_magic = os.path.join(self.dir, "no-magic")
        sparse(no_magic, 1 << 30, b"XYZ\0", 1 << 26)
        code, peak, err = peak_kib(["info", no_magic])
        self.assertEqual(code, 3, err)
        self.assertIn("not a song file", err)
        self.assertLess(peak, base + 16 * 1024)
        # /dev/zero has no magic either: answered after three bytes, not read for ever.
        self.assertEqual(peak_kib(["info", "/dev/zero"])[0], 3)
        if SANITIZED:
            return
        size = 64 << 20  # a song whose tracks really hold what its step count claims
        big = os.path.join(self.dir, "big.rkv")
        sparse(big, size, b"RKV\0", (size - 1048) // 16)
        for args in (["info"], ["render", "-o", self.out + "/b.wav", "--seconds", "1"]):
            fixed = peak_kib([*args, SONG])[1]  # the command's own base, on a small song
            code, peak, err = peak_kib([*args, big])
            self.assertEqual(code, 0, err)
            self.assertLess(peak, fixed + 1.2 * size / 1024, args)
        # Memory running out is said as such, with its own code.
        huge = os.path.join(self.dir, "huge.rkv")
        sparse(huge, 1 << 30, b"RKV\0", (1 << 30) // 16)

        def small_memory():
            resource.setrlimit(resource.RLIMIT_AS, (512 << 20, 512 << 20))
        r = self.run_rkv("info", huge, preexec_fn=small_memory)
        self.assertEqual((r.returncode, r.stderr), (6, b"rkv: out of memory\n"))

    def test_stdout_streams_with_bounded_memory(self):
        base = peak_kib(["render", SONG, "-o", "-", "--seconds", "1"])[1]
        with tempfile.NamedTemporaryFile() as peak:
            # Like `| head -c 100`: the reader goes away after 100 bytes, so rkv ends with 4.
            p = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak.name, RKV, "render",
                                  SONG, "--float", "--seconds", "3600", "-o", "-"],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            head = p.stdout.read(100)
            p.stdout.close()
            self.assertEqual(p.wait(timeout=120), 4)
            self.assertEqual(head[:4], b"RIFF")
            self.assertLess(int(peak.read().split()[-1]), base + 16 * 1024)
        for args in ([], ["--rate", "44100"], ["--float", "--rate", "48000"]):
            path = os.path.join(self.out, "f.wav")
            self.assertEqual(self.run_rkv("render", SONG, "-o", path, *args).returncode, 0)
            streamed = self.run_rkv("render", SONG, "-o", "-", *args).stdout
            with open(path, "rb") as f:
                self.assertEqual(streamed, f.read(), args)

    def test_output_errors_exit_4(self):
        with open("/dev/full", "wb") as full:
            for args in (["info", SONG], ["info", "--json", SONG], ["--help"],
                         ["render", SONG, "-o", "-"]):
                r = subprocess.run([RKV, *args], stdout=full, stderr=subprocess.PIPE,
                                   timeout=120)
                self.assertEqual(r.returncode, 4, (args, r.stderr))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
