#!/usr/bin/python3
"""End-to-end tests of the rkv binary: errors, help, formats read back by sox, --loops lengths
against `rkv info --json`, standard output, and `rkv play` through SDL's disk driver.

Run one group: rkv_cli_test.py Errors (RKV_BIN, RKV_DEMOC and RKV_SOURCE_DIR in the environment).
"""

import json
import os
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

RKV = os.environ.get("RKV_BIN", "rkv")
SOURCE = os.environ.get("RKV_SOURCE_DIR", ".")
DEMOS = [os.path.join(SOURCE, "demo", n + ".rkv") for n in ("daybreak", "lantern", "orbit")]


def rkv(*args, env=None):
    return subprocess.run([RKV, *args], capture_output=True, env=dict(os.environ, **(env or {})),
                          timeout=60)


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


def wav_frames(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data[0:4] == b"RIFF" and data[36:40] == b"data", path
    return (len(data) - 44) // 4


def sox(*args):
    r = subprocess.run(list(args), capture_output=True, timeout=60, text=True)
    assert r.returncode == 0, r.stderr
    return r


def sox_stat(path):
    lines = sox("sox", path, "-n", "stat").stderr.splitlines()
    return {k.strip(): float(v) for k, v in (line.split(":", 1) for line in lines if ":" in line)
            if v.strip().lstrip("-").replace(".", "").isdigit()}


class Case(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.song = self.write("good.rkv", header_song())

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
        self.assertTrue(err.startswith("rkv: "), err)
        for w in words:
            self.assertIn(w, err)

    def assert_no_output(self, inputs):
        self.assertEqual(sorted(os.listdir(self.tmp.name)), sorted(inputs))


class Errors(Case):
    def test_each_error_is_one_line_with_its_code_and_leaves_no_output(self):
        os.mkdir(self.path("folder.rkv"))
        os.mkdir(self.path("folder.wav"))
        inputs = ["good.rkv", "folder.rkv", "folder.wav", "plainfile"]
        open(self.path("plainfile"), "w").close()
        for name, data, code, why in [
                ("missing.rkv", None, 2, "cannot open"), ("folder.rkv", None, 2, "cannot read"),
                ("nomagic.rkv", b"RKX" + header_song()[3:], 3, "no RKV magic"),
                ("empty.rkv", b"", 3, "no RKV magic"),
                ("zero.rkv", header_song(step_count=0), 3, "step count 0"),
                ("negative.rkv", header_song(step_count=-3), 3, "step count -3")]:
            song = self.write(name, data) if data is not None else self.path(name)
            inputs += [name] if data is not None else []
            for args in (["render", song, "-o", self.path("out.wav")],
                         ["render", song, "-o", self.path("out.flac"), "--loops", "2"],
                         ["info", song], ["info", "--json", song],
                         ["play", song]):  # play reports the file before it looks for a device
                with self.subTest(args=args):
                    self.assert_one_error(rkv(*args, env={"SDL_AUDIODRIVER": "bogus"}), code,
                                          song, why)
                    self.assert_no_output(inputs)
        for out in (self.path("no/such/dir/out.wav"), self.path("plainfile/out.wav"),
                    self.path("folder.wav")):
            self.assert_one_error(rkv("render", self.song, "-o", out), 4, out, "cannot write")
            self.assert_no_output(inputs)
        self.assertEqual(os.listdir(self.path("folder.wav")), [])
        for args, words in [
                (["-o", self.path("o.wav"), "--bogus"], ["--bogus"]), ([], ["--output"]),
                (["-o", self.path("o.mp3")], ["o.mp3", "unknown output format"]),
                (["-o", self.path("owav")], ["owav", "unknown output format"]),
                (["-o", self.path("o.flac"), "--float"], ["--float"]),
                (["-o", self.path("o.wav"), "--rate", "32000"], ["32000"]),
                (["-o", self.path("o.wav"), "--seconds", "1", "--loops", "1"], ["excludes"]),
                (["-o", self.path("o.wav"), "--seconds", "-1"], ["-1"])]:
            self.assert_one_error(rkv("render", self.song, *args), 1, *words)
            self.assert_no_output(inputs)
        self.assert_one_error(rkv("bogus"), 1, "bogus")
        self.assert_one_error(rkv(), 1, "subcommand")
        for driver in ("alsa", "bogus"):
            for args in (["play", self.song], ["play"]):
                self.assert_one_error(rkv(*args, env={"SDL_AUDIODRIVER": driver}), 5,
                                      "no sound device")
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


class Formats(Case):
    def test_sox_reads_every_format_written(self):
        for name, extra, rate, encoding in [
                ("a.wav", [], "22050", "Signed Integer PCM"),
                ("b.wav", ["--float"], "22050", "Floating Point PCM"),
                ("c.flac", [], "22050", "FLAC"), ("d.ogg", [], "22050", "Vorbis"),
                ("e.wav", ["--rate", "44100"], "44100", "Signed Integer PCM"),
                ("f.flac", ["--rate", "48000"], "48000", "FLAC"),
                ("g.wav", ["--rate", "48000", "--float", "--fade", "2"], "48000", "Floating")]:
            with self.subTest(name=name):
                out = self.path(name)
                r = rkv("render", DEMOS[0], "-o", out, "--seconds", "4", *extra)
                self.assertEqual(r.returncode, 0, r.stderr.decode())
                info = sox("soxi", out).stdout
                self.assertIn("Sample Rate    : " + rate, info)
                self.assertIn("Channels       : 2", info)
                self.assertIn(encoding, info)
                self.assertAlmostEqual(float(sox("soxi", "-D", out).stdout), 4.0, delta=0.01)
                stat = sox_stat(out)
                self.assertGreater(stat["RMS     amplitude"], 0.02)
                self.assertLess(stat["Maximum amplitude"], 1.0)

    def test_demo_songs_have_body_and_are_not_clipped_and_fades_end_in_silence(self):
        out = self.path("demo.wav")
        for song in DEMOS:
            self.assertEqual(rkv("render", song, "-o", out, "--loops", "1").returncode, 0)
            stat = sox_stat(out)
            self.assertLess(max(stat["Maximum amplitude"], -stat["Minimum amplitude"]), 0.9)
            self.assertGreater(stat["RMS     amplitude"], 0.08)
            self.assertGreater(stat["Length (seconds)"], 20)
        self.assertEqual(rkv("render", DEMOS[2], "-o", out, "--seconds", "3", "--fade", "1")
                         .returncode, 0)
        with open(out, "rb") as f:
            self.assertEqual(struct.unpack("<2h", f.read()[-4:]), (0, 0))
        self.assertEqual(wav_frames(out), 3 * 22050)


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
                    self.assertEqual(wav_frames(out), render["frames"])
                    self.assertEqual(render["frames"],
                                     render["end_frame"] + render["ring_out_frames"])
                    if report["clock_ticks"]:
                        self.assertEqual(render["ticks"], report["first_pass"]["steps"] +
                                         report["loop_pass"]["steps"] * loops)
                        self.assertGreaterEqual(render["end_frame"], report["first_pass"]["frames"])
                    else:
                        self.assertEqual(render["end_frame"], 0)


class Stdout(Case):
    def test_standard_output_gets_the_same_bytes_as_a_file(self):
        for extra in ([], ["--loops", "1", "--float"], ["--seconds", "2.5", "--rate", "44100"]):
            out = self.path("file.wav")
            self.assertEqual(rkv("render", DEMOS[0], "-o", out, *extra).returncode, 0)
            piped = rkv("render", DEMOS[0], "-o", "-", *extra)
            self.assertEqual(piped.returncode, 0, piped.stderr.decode())
            with open(out, "rb") as f:
                self.assertEqual(piped.stdout, f.read(), extra)
        p = subprocess.Popen([RKV, "render", DEMOS[0], "-o", "-", "--seconds", "60"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        p.stdout.close()  # a closed pipe is a write error
        err = p.stderr.read().decode()
        self.assertEqual(p.wait(timeout=60), 4, err)
        self.assertIn("standard output: cannot write", err)


class Info(Case):
    def test_text_and_json_describe_the_song(self):
        text = rkv("info", DEMOS[0]).stdout.decode()
        for words in ("step time     120 ms, 500.00 steps per minute", "loop start 32",
                      "instrument 0", "instrument 2", "drum keys", "pan codes     3 5 6"):
            self.assertIn(words, text)
        report = json.loads(rkv("info", "--json", DEMOS[0]).stdout)
        self.assertEqual([report["step_count"], report["intro"]["steps"],
                          report["loop_pass"]["steps"], report["loop_pass"]["seconds"],
                          report["tracks_used"], report["warnings"]],
                         [288, 32, 256, 30.72, [0, 1, 2, 3], []])
        self.assertEqual([m["file"] for m in json.loads(rkv("info", "--json", *DEMOS).stdout)],
                         DEMOS)
        twice = json.loads(rkv("info", "--json", "--loops", "2", DEMOS[1]).stdout)
        once = json.loads(rkv("info", "--json", DEMOS[1]).stdout)
        self.assertEqual(twice["render"]["ticks"] - once["render"]["ticks"],
                         2 * twice["loop_pass"]["steps"])

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
        text = " | ".join(w["message"] for w in warnings)
        for kind, words in [("ignored", "volume 301 is above full"),
                            ("ignored", "volume -951 is below -100 dB"),
                            ("silent", "note length 3"), ("silent", "past 1 GiB"),
                            ("wraps", "octave 21"), ("ignored", "pan codes 9, 200"),
                            ("clamped", "loop start 77"), ("loop", "loop end 0"),
                            ("no ticks", "step time 2000000"), ("silent", "key 6")]:
            self.assertIn(kind, [w["kind"] for w in warnings])
            self.assertIn(words, text)
        self.assertIn("warning: clamped: loop start 77", rkv("info", song).stdout.decode())
        refused = rkv("info", "--json", self.write("zero.rkv", header_song(step_count=0)))
        self.assertEqual(refused.returncode, 3)
        self.assertEqual(json.loads(refused.stdout)["warnings"][0]["kind"], "refused")


def without_leading_silence(pcm):
    i = 0
    while pcm[i:i + 4] == b"\0\0\0\0":
        i += 4
    return pcm[i:]


class Play(Case):
    def disk(self, delay="0"):
        return {"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": self.path("capture.raw"),
                "SDL_DISKAUDIODELAY": delay}

    def test_play_sends_the_device_what_render_writes(self):
        # No song: the built-in demo, which is the first demo song.
        for args, song, loops in (([DEMOS[0]], DEMOS[0], 0), ([DEMOS[2]], DEMOS[2], 1),
                                  ([], DEMOS[0], 0)):
            r = rkv("play", *args, "--loops", str(loops), env=self.disk())
            self.assertEqual(r.returncode, 0, r.stderr.decode())
            with open(self.path("capture.raw"), "rb") as f:
                played = without_leading_silence(f.read())
            out = self.path("render.wav")
            self.assertEqual(rkv("render", song, "-o", out, "--loops", str(loops)).returncode, 0)
            with open(out, "rb") as f:
                expected = without_leading_silence(f.read()[44:])
            self.assertGreater(len(expected), 22050 * 4)
            self.assertEqual(played[:len(expected)], expected, args)
            # Past the end the device only ever got silence.
            self.assertEqual(played[len(expected):].count(0), len(played) - len(expected))

    def test_interrupt_stops_cleanly(self):
        p = subprocess.Popen([RKV, "play", DEMOS[1]], env=dict(os.environ, **self.disk("10")),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # Sound reaches the device only once playback runs (the paused device gets silence).
        capture, deadline = self.path("capture.raw"), time.monotonic() + 30
        while not os.path.exists(capture) or not any(open(capture, "rb").read()):
            self.assertLess(time.monotonic(), deadline, "nothing played")
            self.assertIsNone(p.poll(), "plays on until stopped")
            time.sleep(0.02)
        p.send_signal(signal.SIGINT)
        self.assertEqual(p.wait(timeout=10), 130)  # 128 + SIGINT
        self.assertEqual(p.stderr.read(), b"")


if __name__ == "__main__":
    group = sys.argv[1] if len(sys.argv) > 1 else None
    loader = unittest.TestLoader()
    suite = loader.loadTestsFromName(group, sys.modules[__name__]) if group \
        else loader.loadTestsFromModule(sys.modules[__name__])
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
