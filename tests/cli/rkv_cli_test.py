#!/usr/bin/python3
"""End-to-end tests of the rkv binary: errors, help, formats read back by sox, --loops lengths
against `rkv info --json`, and bad input, signals, limits and full disks.

Run one group: rkv_cli_test.py Errors (RKV_BIN, RKV_DEMOC and RKV_SOURCE_DIR in the environment).
"""

import json
import os
import re
import resource
import signal
import struct
import subprocess
import tempfile
import threading
import time
import unittest

RKV = os.environ.get("RKV_BIN", "rkv")
SANITIZED = "ASAN_OPTIONS" in os.environ  # sanitizers reserve memory of their own
SOURCE = os.environ.get("RKV_SOURCE_DIR", ".")
DEMOS = [os.path.join(SOURCE, "demo", n + ".rkv") for n in ("daybreak", "lantern", "orbit")]


def rkv(*args, env=None, **kw):
    return subprocess.run([RKV, *args], capture_output=True, env=dict(os.environ, **(env or {})),
                          timeout=120, **kw)


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def header_song(step_time=20, loop_start=0, loop_end=4, step_count=4, tracks=None):
    """A song file with any header values; instrument waves are triangles."""
    header = bytearray(1048)
    header[0:3] = b"RKV"
    struct.pack_into("<Iiii", header, 8, step_time, loop_start, loop_end, step_count)
    for k in range(3):
        base = 24 + 340 * k
        header[base] = 2 + k
        struct.pack_into("<Ii", header, base + 4, 1500, 240)
        header[base + 20:base + 276] = bytes((i - 64 if i < 128 else 191 - i) & 0xFF
                                             for i in range(256))
        header[base + 276:base + 340] = bytes([100]) * 64
    struct.pack_into("<i", header, 1044, 240)
    n = max(step_count, 0)
    return bytes(header) + b"".join(struct.pack("<I", (t + [0] * n)[i])
                                    for t in tracks or [[]] * 4 for i in range(n))


def sox(*args):
    r = subprocess.run(list(args), capture_output=True, timeout=60, text=True)
    assert r.returncode == 0, r.stderr
    return r


def wait_for(condition, what, seconds=30):
    """Polls until `condition` gives a true value, and returns it."""
    deadline = time.monotonic() + seconds
    while not (value := condition()):
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)
    return value


def written(pid):
    try:
        with open(f"/proc/{pid}/io") as f:
            return int(dict(line.split(": ") for line in f.read().splitlines())["wchar"])
    except (OSError, KeyError):
        return 0


def peak_kib(args, **kw):
    """Runs rkv; returns (exit code, peak resident KiB, stderr). Measured by a small parent: a
    child forked from Python would carry Python's own peak along."""
    with tempfile.NamedTemporaryFile() as peak:
        r = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak.name, RKV, *args],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=120, **kw)
        return r.returncode, int(peak.read().split()[-1]), r.stderr.decode(errors="replace")


def sparse(path, size, magic, steps):
    with open(path, "wb") as f:
        f.write(magic + bytes(16) + steps.to_bytes(4, "little"))
        f.truncate(size)
    return path


def without_leading_silence(pcm):
    i = 0
    while pcm[i:i + 4] == b"\0\0\0\0":
        i += 4
    return pcm[i:]


class Case(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.song = self.write("good.rkv", header_song())
        self.out = self.path("out")  # an empty folder for what rkv writes
        os.mkdir(self.out)

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def assert_one_error(self, result, code, *words):
        err = result.stderr.decode()
        self.assertEqual(result.returncode, code, err)
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertLess(len(err), 200, err)
        self.assertTrue(err.startswith("rkv: "), err)
        for w in words:
            self.assertIn(w, err)

    def assert_no_output(self, inputs):
        self.assertEqual(sorted(os.listdir(self.tmp.name)), sorted(inputs + ["good.rkv", "out"]))
        self.assertEqual(os.listdir(self.out), [])

    def reference(self):
        ref = self.path("ref.wav")
        self.assertEqual(rkv("render", DEMOS[1], "-o", ref).returncode, 0)
        return read(ref)


class Errors(Case):
    def test_each_error_is_one_line_with_its_code_and_leaves_no_output(self):
        inputs = ["folder.rkv", "folder.wav", "plainfile"]
        os.mkdir(self.path("folder.rkv"))
        os.mkdir(self.path("folder.wav"))
        self.write("plainfile", b"")
        for name, data, code, why in [
                ("missing.rkv", None, 2, "cannot open"), ("folder.rkv", None, 2, "cannot read"),
                ("nomagic.rkv", b"RKX" + header_song()[3:], 3, "no RKV magic"),
                ("empty.rkv", b"", 3, "no RKV magic"),
                ("zero.rkv", header_song(step_count=0), 3, "step count 0"),
                ("negative.rkv", header_song(step_count=-3), 3, "step count -3")]:
            song = self.write(name, data) if data is not None else self.path(name)
            inputs += [name] if data is not None else []
            for args in (["render", song, "-o", self.path("out/o.wav")],
                         ["render", song, "-o", self.path("out/o.flac"), "--loops", "2"],
                         ["info", song], ["info", "--json", song],
                         ["play", song]):  # play reports the file before it looks for a device
                with self.subTest(args=args):
                    r = rkv(*args, env={"SDL_AUDIODRIVER": "bogus"})
                    self.assert_one_error(r, code, song, why)
                    if code == 2:  # a file not read has no report, not even an empty array
                        self.assertEqual(r.stdout, b"")
                    self.assert_no_output(inputs)
        render = ["render", self.song, "-o"]
        for args, code, words in [
                *[([*render, out], 4, [out, "cannot write"])
                  for out in ("out/no/such/dir/o.wav", "plainfile/o.wav", "folder.wav")],
                ([*render, "out/o.wav", "--bogus"], 1, ["--bogus"]),
                (["render", self.song], 1, ["--output"]),
                ([*render, "out/o.mp3"], 1, ["o.mp3", "unknown output format"]),
                ([*render, "out/owav"], 1, ["owav", "unknown output format"]),
                ([*render, "out/o.flac", "--float"], 1, ["--float"]),
                ([*render, "out/o.wav", "--rate", "32000"], 1, ["32000"]),
                ([*render, "out/o.wav", "--seconds", "1", "--loops", "1"], 1, ["excludes"]),
                ([*render, "out/o.wav", "--seconds", "-1"], 1, ["-1"]),
                ([*render, "out/o.wav", "--seconds", "inf"], 1, ["inf"]),
                ([*render, "out/o.wav", "--loops", "-1"], 1, ["-1"]),
                ([*render, "out/o.wav", "--fade", "1e400"], 1, ["1e400"]),
                (["bogus"], 1, ["bogus"]), ([], 1, ["subcommand"]),
                (["play", self.song], 5, ["no sound device"]), (["play"], 5, ["no sound device"])]:
            for driver in ("bogus", "alsa") if code == 5 else ("bogus",):
                with self.subTest(args=args, driver=driver):
                    r = rkv(*args, cwd=self.tmp.name, env={"SDL_AUDIODRIVER": driver})
                    self.assert_one_error(r, code, *words)
                    self.assert_no_output(inputs)
        self.assertEqual(os.listdir(self.path("folder.wav")), [])
        # info reports every file and exits with the code of the first failure
        r = rkv("info", self.song, self.path("missing.rkv"), self.song)
        self.assertEqual((r.returncode, r.stdout.decode().count("step time")), (2, 2))
        self.assertEqual(len(r.stderr.decode().splitlines()), 1)


class Help(Case):
    def test_every_subcommand_lists_every_option_and_the_exit_codes(self):
        for sub, options in [
                ("info", ["--json", "--loops"]), ("play", ["--loops"]),
                ("render", ["--output", "--seconds", "--loops", "--fade", "--float", "--rate"]),
                (None, ["info", "render", "play"])]:
            r = rkv(*([sub] if sub else []), "--help")
            self.assertEqual(r.returncode, 0)
            for o in options + ["--help", "0  success", "1  usage", "2  a file cannot",
                                "3  a file is refused", "4  the output", "5  no sound device"]:
                self.assertIn(o, r.stdout.decode(), sub)
            # Option and value type, two spaces or more, then the description, in one column.
            rows = [row for row in r.stdout.decode().splitlines() if row.startswith("  -")]
            starts = {re.match(r"^  \S+( \S+)* {2,}(?=\S)", row).end() for row in rows}
            self.assertEqual(len(starts), 1, rows)
            self.assertFalse([row for row in rows if "Excludes:" in row], rows)


class Formats(Case):
    def test_sox_reads_every_format_written(self):
        for name, extra, rate, encoding in [
                ("a.wav", [], "22050", "16-bit Signed Integer PCM"),
                ("b.wav", ["--rate", "48000", "--float", "--fade", "2"], "48000",
                 "32-bit Floating Point PCM"),
                ("c.flac", ["--rate", "44100"], "44100", "FLAC"), ("d.ogg", [], "22050", "Vorbis")]:
            with self.subTest(name=name):
                out = self.path(name)
                r = rkv("render", DEMOS[0], "-o", out, "--seconds", "4", *extra)
                self.assertEqual(r.returncode, 0, r.stderr.decode())
                info = sox("soxi", out).stdout
                for line in ("Sample Rate    : " + rate, "Channels       : 2", encoding):
                    self.assertIn(line, info)
                stat = dict(re.findall(r"^(.+?):\s+(-?[\d.]+)$", sox("sox", out, "-n", "stat")
                                       .stderr, re.M))
                self.assertAlmostEqual(float(stat["Length (seconds)"]), 4.0, delta=0.01)
                self.assertGreater(float(stat["RMS     amplitude"]), 0.02)
                self.assertLess(float(stat["Maximum amplitude"]), 1.0)


class Loops(Case):
    def test_loops_length_equals_what_info_reports(self):
        tracks = [[1, 0, 2, 0, 4, 8], [0, 1 << 12, 0, 0, 0, 1], [], [1, 1 << 10, 0, 1 << 4, 0, 1]]
        for fields in [(20, 1, 4, 4), (20, 2, 100, 6), (20, 2, 0, 6), (20, 1, -7, 6),
                       (20, -9, 6, 6), (20, 99, 6, 6), (20, 5, 3, 6), (0, 0, 6, 6),
                       (37, 1, 5, 5)]:
            song = self.write("odd.rkv", header_song(*fields, tracks=tracks))
            for loops in (0, 1, 3):
                with self.subTest(fields=fields, loops=loops):
                    info = rkv("info", "--json", "--loops", str(loops), song)
                    self.assertEqual(info.returncode, 0, info.stderr.decode())
                    report = json.loads(info.stdout)
                    render = report["render"]
                    out = self.path("odd.wav")
                    r = rkv("render", song, "-o", out, *(["--loops", str(loops)] if loops else []))
                    self.assertEqual(r.returncode, 0, r.stderr.decode())
                    data = read(out)
                    self.assertEqual(data[36:40], b"data")
                    self.assertEqual((len(data) - 44) // 4, render["frames"])
                    self.assertEqual(render["frames"],
                                     render["end_frame"] + render["ring_out_frames"])
                    if report["clock_ticks"]:
                        self.assertEqual(render["ticks"], report["first_pass"]["steps"] +
                                         report["loop_pass"]["steps"] * loops)
                        self.assertGreaterEqual(render["end_frame"], report["first_pass"]["frames"])
                    else:
                        self.assertEqual(render["end_frame"], 0)


class Info(Case):
    def test_text_and_json_describe_the_song(self):
        text = rkv("info", DEMOS[0]).stdout.decode()
        for words in ("step time     120 ms, 500.00 steps per minute", "loop start 32",
                      "intro         32 steps", "instrument 0", "instrument 2", "drum keys",
                      "pan codes     3 5 6"):
            self.assertIn(words, text)
        report = json.loads(rkv("info", "--json", DEMOS[0]).stdout)
        self.assertEqual([report["step_count"], report["intro"]["steps"],
                          report["loop_pass"]["steps"], report["loop_pass"]["seconds"],
                          report["tracks_used"], report["warnings"],
                          [i["voices"] for i in report["instruments"]]],
                         [288, 32, 256, 30.72, [0, 1, 2, 3], [], ["sounding"] * 3])
        self.assertEqual([m["file"] for m in json.loads(rkv("info", "--json", *DEMOS).stdout)],
                         DEMOS)

    def test_warns_about_every_value_the_player_treats_specially(self):
        data = bytearray(header_song(step_time=2000000, loop_start=77, loop_end=0, step_count=4,
                                     tracks=[[0, 0, 0, 1 | (9 << 24)], [], [],
                                             [0, 0, 0, 1 << 6 | 200 << 24]]))
        struct.pack_into("<Ii", data, 24 + 4, 3, 301)          # instrument 0: short, too loud
        struct.pack_into("<Ii", data, 364 + 4, 0x0FFFFFFF, 240)  # instrument 1: past 1 GiB
        data[704] = 21                                          # instrument 2: octave wraps
        struct.pack_into("<i", data, 708 + 4, -951)             # below -100 dB
        song = self.write("odd.rkv", bytes(data))
        warnings = json.loads(rkv("info", "--json", song).stdout)["warnings"]
        for kind, words in [("ignored", "volume 301 is above full"),
                            ("ignored", "volume -951 is below -100 dB"),
                            ("silent", "note length 3"), ("silent", "past 1 GiB"),
                            ("wraps", "octave 21"), ("ignored", "pan codes 9, 200"),
                            ("clamped", "loop start 77"), ("loop", "loop end 0"),
                            ("no ticks", "step time 2000000"), ("silent", "key 6")]:
            self.assertTrue([w for w in warnings if w["kind"] == kind and words in w["message"]],
                            (kind, words, warnings))
        self.assertIn("warning: clamped: loop start 77", rkv("info", song).stdout.decode())
        refused = rkv("info", "--json", self.write("zero.rkv", header_song(step_count=0)))
        self.assertEqual(refused.returncode, 3)
        self.assertEqual(json.loads(refused.stdout)["warnings"][0]["kind"], "refused")

    def test_values_on_the_limits(self):
        # One step only, a volume of exactly -100 dB (applied, not warned about), octave 32.
        edge = bytearray(header_song(step_count=1, loop_end=1, tracks=[[1], [], [], []]))
        struct.pack_into("<i", edge, 364 + 8, -950)
        edge[704] = 32
        report = json.loads(rkv("info", "--json", self.write("edge.rkv", bytes(edge))).stdout)
        self.assertEqual(report["tracks_used"], [0])
        self.assertTrue(report["instruments"][1]["volume"]["applied"])
        self.assertEqual(report["warnings"], [{"kind": "wraps", "message":
                                               "instrument 2: octave 32 acts as octave 0"}])

    def test_warns_about_the_words_each_track_lacks_in_a_cut_file(self):
        song = read(DEMOS[2])
        n = int.from_bytes(song[20:24], "little")
        self.assertEqual(len(song), 1048 + 16 * n)
        # (bytes kept, words each track lacks); a word cut in two is missing.
        for size, lacks in [(len(song), None), (1048 + 12 * n + 42, [0, 0, 0, n - 10]),
                            (1048 + 4 * n, [0, n, n, n]), (1048 + 6, [n - 1, n, n, n]),
                            (1048, [n] * 4)]:
            path = self.write("cut.rkv", song[:size])
            out = rkv("info", "--json", path)
            self.assertEqual(out.returncode, 0, out.stderr)
            cut = [w["message"] for w in json.loads(out.stdout)["warnings"]
                   if w["kind"] == "truncated"]
            self.assertEqual([[int(k) for k in re.findall(r"track \d lacks (\d+)", c)]
                              for c in cut], [] if lacks is None else [lacks], size)
            if cut:
                self.assertIn("warning: truncated:", rkv("info", path).stdout.decode())


class Signals(Case):
    def test_killed_leaves_nothing(self):
        raw = self.path("device.raw")
        env = dict(os.environ, TMPDIR=self.out, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=raw,
                   SDL_DISKAUDIODELAY="10")
        render = [RKV, "render", DEMOS[1], "-o", os.path.join(self.out, "k.wav"), "--seconds",
                  "43200"]
        # Sound reaches the device only once playback runs (the paused device gets silence).
        for command, started in [(render, lambda p: written(p.pid) > 1 << 20),
                                 ([RKV, "play"], lambda p: os.path.exists(raw) and any(read(raw)))]:
            for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
                with self.subTest(command=command[1], sig=sig):
                    p = subprocess.Popen(command, env=env, stderr=subprocess.PIPE)
                    wait_for(lambda: p.poll() is not None or started(p), "it to start")
                    self.assertIsNone(p.poll(), "runs on until stopped")
                    p.send_signal(sig)
                    self.assertEqual(p.wait(timeout=30), 128 + sig)
                    self.assertEqual(p.stderr.read(), b"")
                    self.assertEqual(os.listdir(self.out), [])
                    if os.path.exists(raw):
                        os.remove(raw)

    def test_file_size_limit_is_a_write_error(self):
        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (512 * 1024, 512 * 1024))
        for name in ("big.wav", "big.ogg", "big.flac"):
            r = rkv("render", DEMOS[1], "-o", os.path.join(self.out, name), "--seconds",
                    "600", preexec_fn=limit)
            self.assert_one_error(r, 4, name, "File too large")
            self.assertEqual(os.listdir(self.out), [], name)


class Names(Case):
    def test_name_that_is_not_utf8(self):
        name = self.write("caf\udce9.rkv", read(DEMOS[1]))
        for args in (["--json", name, DEMOS[1]], [name]):
            self.assertEqual(rkv("info", *args).returncode, 0, args)
        report = json.loads(rkv("info", "--json", name).stdout)
        self.assertEqual(bytes.fromhex(report["file_hex"]), os.fsencode(name))
        self.assertTrue(report["playable"])

    def test_long_names_symlinks_and_fifos(self):
        for length in range(248, 256):
            path = os.path.join(self.out, "n" * (length - 4) + ".wav")
            r = rkv("render", DEMOS[1], "-o", path, "--seconds", "0.1")
            self.assertEqual(r.returncode, 0, (length, r.stderr))
            os.remove(path)
        real, link = os.path.join(self.out, "real.wav"), os.path.join(self.out, "link.wav")
        open(real, "wb").close()
        os.symlink("real.wav", link)
        self.assertEqual(rkv("render", DEMOS[1], "-o", link).returncode, 0)
        self.assertTrue(os.path.islink(link))
        self.assertEqual(read(real), self.reference())
        self.assertEqual(sorted(os.listdir(self.out)), ["link.wav", "real.wav"])
        # A FIFO or a device is never replaced by a file.
        fifo = os.path.join(self.out, "pipe.wav")
        os.mkfifo(fifo)
        self.assert_one_error(rkv("render", DEMOS[1], "-o", fifo), 4, fifo)
        self.assertFalse(os.path.isfile(fifo))
        # The unfinished file is made in the output's own folder, so that it can be linked into
        # place on whatever file system that folder is.
        with tempfile.TemporaryDirectory(dir="/dev/shm") as other:
            self.assertNotEqual(os.stat(other).st_dev, os.stat("/").st_dev)
            out = os.path.join(other, "x.wav")
            self.assertEqual(rkv("render", DEMOS[1], "-o", out).returncode, 0)
            self.assertEqual(read(out), self.reference())


class Reading(Case):
    def test_pipes_and_fifos_are_read_once(self):
        want = self.reference()
        fifo = self.path("song.fifo")
        os.mkfifo(fifo)
        out = os.path.join(self.out, "x.wav")
        for song in ("-", "/dev/stdin", fifo):
            if song == fifo:
                threading.Thread(target=lambda: open(fifo, "wb").write(read(DEMOS[1])),
                                 daemon=True).start()
            with open(DEMOS[1], "rb") as s:  # through cat: a pipe, not a file, on stdin
                cat = subprocess.Popen(["cat"], stdin=s, stdout=subprocess.PIPE)
                r = rkv("render", song, "-o", out, stdin=cat.stdout)
                cat.wait()
            self.assertEqual(r.returncode, 0, (song, r.stderr))
            self.assertEqual(read(out), want, song)
        with open(DEMOS[1], "rb") as s:
            r = rkv("info", "--json", "-", stdin=s)
        self.assertEqual(json.loads(r.stdout)["step_count"], 320)

    def test_reads_are_bounded(self):
        base = peak_kib(["info", DEMOS[1]])[1]
        code, peak, err = peak_kib(["info", sparse(self.path("no-magic"), 1 << 30, b"XYZ\0",
                                                   1 << 26)])
        self.assertEqual(code, 3, err)
        self.assertIn("not a song file", err)
        self.assertLess(peak, base + 16 * 1024)
        # /dev/zero has no magic either: answered after three bytes, not read for ever.
        self.assertEqual(peak_kib(["info", "/dev/zero"])[0], 3)
        if SANITIZED:
            return
        size = 64 << 20  # a song whose tracks really hold what its step count claims
        big = sparse(self.path("big.rkv"), size, b"RKV\0", (size - 1048) // 16)
        for args in (["info"], ["render", "-o", self.out + "/b.wav", "--seconds", "1"]):
            fixed = peak_kib([*args, DEMOS[1]])[1]  # the command's own base, on a small song
            code, peak, err = peak_kib([*args, big])
            self.assertEqual(code, 0, err)
            self.assertLess(peak, fixed + 1.2 * size / 1024, args)
        # Memory running out is said as such, with its own code.
        huge = sparse(self.path("huge.rkv"), 1 << 30, b"RKV\0", (1 << 30) // 16)
        r = rkv("info", huge, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS,
                                                                    (512 << 20, 512 << 20)))
        self.assertEqual((r.returncode, r.stderr), (6, b"rkv: out of memory\n"))

    def test_stdout_streams_with_bounded_memory_and_its_errors_exit_4(self):
        base = peak_kib(["render", DEMOS[1], "-o", "-", "--seconds", "1"])[1]
        with tempfile.NamedTemporaryFile() as peak:
            # Like `| head -c 100`: the reader goes away after 100 bytes, so rkv ends with 4.
            p = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak.name, RKV, "render",
                                  DEMOS[1], "--float", "--seconds", "3600", "-o", "-"],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                 start_new_session=True)
            # An rkv that does not stop would otherwise write on for an hour after the test.
            self.addCleanup(lambda: p.poll() is None and os.killpg(p.pid, signal.SIGKILL))
            head = p.stdout.read(100)
            p.stdout.close()
            self.assertEqual(p.wait(timeout=120), 4)
            self.assertEqual(head[:4], b"RIFF")
            self.assertLess(int(peak.read().split()[-1]), base + 16 * 1024)
        # The whole song on stdout: its length, known before the first byte, at any rate.
        for args in ([], ["--rate", "44100"], ["--float", "--rate", "48000"]):
            path = os.path.join(self.out, "f.wav")
            self.assertEqual(rkv("render", DEMOS[1], "-o", path, *args).returncode, 0)
            self.assertEqual(rkv("render", DEMOS[1], "-o", "-", *args).stdout, read(path), args)
        with open("/dev/full", "wb") as full:  # a full disk behind stdout
            for args in (["info", DEMOS[1]], ["info", "--json", DEMOS[1]], ["--help"],
                         ["render", DEMOS[1], "-o", "-"]):
                r = subprocess.run([RKV, *args], stdout=full, stderr=subprocess.PIPE, timeout=120)
                self.assertEqual(r.returncode, 4, (args, r.stderr))


if __name__ == "__main__":
    unittest.main(verbosity=2)  # a group by name: rkv_cli_test.py Errors
