#!/usr/bin/python3
"""End-to-end tests of the rkv binary: errors, help, formats read back by sox, --loops lengths
against `rkv info --json`, standard output, and `rkv play` through SDL's disk driver.

Run one group: rkv_cli_test.py Errors (RKV_BIN, RKV_DEMOC and RKV_SOURCE_DIR in the environment).
"""

import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

RKV = os.environ.get("RKV_BIN", "rkv")
DEMOC = os.environ.get("RKV_DEMOC", "")
SOURCE = os.environ.get("RKV_SOURCE_DIR", ".")
DEMOS = [os.path.join(SOURCE, "demo", n + ".rkv") for n in ("daybreak", "lantern", "orbit")]


def rkv(*args, env=None, stdin=None):
    full_env = dict(os.environ)
    full_env.update(env or {})
    return subprocess.run([RKV, *args], capture_output=True, env=full_env, stdin=stdin,
                          timeout=60)


def header_song(step_time=20, loop_start=0, loop_end=4, step_count=4, tracks=None,
                note_length=1500, magic=b"RKV"):
    """A song file with any header values; instrument waves are triangles."""
    header = bytearray(1048)
    header[0:3] = magic
    struct.pack_into("<Iiii", header, 8, step_time, loop_start, loop_end, step_count)
    for k in range(3):
        base = 24 + 340 * k
        header[base] = 2 + k
        struct.pack_into("<Ii", header, base + 4, note_length, 240)
        for i in range(256):
            header[base + 20 + i] = (i - 64 if i < 128 else 191 - i) & 0xFF
        header[base + 276:base + 340] = bytes([100]) * 64
    struct.pack_into("<i", header, 1044, 240)
    tracks = tracks or [[], [], [], []]
    body = b"".join(struct.pack("<I", (t + [0] * max(step_count, 0))[i])
                    for t in tracks for i in range(max(step_count, 0)))
    return bytes(header) + body


def wav_frames(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data[0:4] == b"RIFF" and data[36:40] == b"data", path
    return (len(data) - 44) // 4


class Case(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        p = self.path(name)
        with open(p, "wb") as f:
            f.write(data)
        return p

    def assert_one_error(self, result, code, *words):
        err = result.stderr.decode()
        self.assertEqual(result.returncode, code, err)
        lines = err.splitlines()
        self.assertEqual(len(lines), 1, err)
        self.assertTrue(lines[0].startswith("rkv: "), err)
        for w in words:
            self.assertIn(w, lines[0])


class Errors(Case):
    def check_no_output(self):
        self.assertEqual(os.listdir(self.dir) and sorted(os.listdir(self.dir)),
                         sorted(self.inputs))

    def setUp(self):
        super().setUp()
        self.song = self.write("good.rkv", header_song())
        os.mkdir(self.path("folder.rkv"))
        os.mkdir(self.path("folder.wav"))
        self.inputs = ["good.rkv", "folder.rkv", "folder.wav"]

    def bad_input(self, name, data):
        self.inputs.append(name)
        return self.write(name, data)

    def test_input_errors_name_the_file_and_leave_no_output(self):
        cases = [
            (self.path("missing.rkv"), 2, "cannot open"),
            (self.path("folder.rkv"), 2, "cannot read"),
            (self.bad_input("nomagic.rkv", b"RKX" + header_song()[3:]), 3, "no RKV magic"),
            (self.bad_input("empty.rkv", b""), 3, "no RKV magic"),
            (self.bad_input("zero.rkv", header_song(step_count=0)), 3, "step count 0"),
            (self.bad_input("negative.rkv", header_song(step_count=-3)), 3, "step count -3"),
        ]
        for song, code, why in cases:
            with self.subTest(song=song):
                for args in (["render", song, "-o", self.path("out.wav")],
                             ["render", song, "-o", self.path("out.flac"), "--loops", "2"],
                             ["info", song], ["info", "--json", song]):
                    self.assert_one_error(rkv(*args), code, song, why)
                self.check_no_output()
                # Play reports the file before it looks for a device.
                self.assert_one_error(rkv("play", song, env={"SDL_AUDIODRIVER": "bogus"}),
                                      code, song, why)

    def test_info_reports_every_file_and_exits_with_the_first_failure(self):
        missing = self.path("missing.rkv")
        r = rkv("info", self.song, missing, self.song)
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stdout.decode().count("step time"), 2)
        self.assertEqual(len(r.stderr.decode().splitlines()), 1)

    def test_unwritable_outputs(self):
        open(self.path("plainfile"), "w").close()
        self.inputs.append("plainfile")
        for out in (self.path("no/such/dir/out.wav"), self.path("plainfile/out.wav"),
                    self.path("folder.wav")):
            with self.subTest(out=out):
                self.assert_one_error(rkv("render", self.song, "-o", out), 4, out,
                                      "cannot write")
                self.check_no_output()
        self.assertEqual(os.listdir(self.path("folder.wav")), [])

    def test_usage_errors(self):
        for args, words in [
            (["render", self.song, "-o", self.path("o.wav"), "--bogus"], ["--bogus"]),
            (["render", self.song], ["--output"]),
            (["render", self.song, "-o", self.path("o.mp3")], ["o.mp3", "unknown output format"]),
            (["render", self.song, "-o", self.path("o.flac"), "--float"], ["--float"]),
            (["render", self.song, "-o", self.path("o.wav"), "--rate", "32000"], ["32000"]),
            (["render", self.song, "-o", self.path("o.wav"), "--seconds", "1", "--loops", "1"],
             ["excludes"]),
            (["render", self.song, "-o", self.path("o.wav"), "--seconds", "-1"], ["-1"]),
            (["bogus"], ["bogus"]),
            ([], ["subcommand"]),
        ]:
            with self.subTest(args=args):
                self.assert_one_error(rkv(*args), 1, *words)
                self.check_no_output()

    def test_no_sound_device_is_one_line(self):
        for driver in ("alsa", "bogus"):
            with self.subTest(driver=driver):
                self.assert_one_error(rkv("play", self.song, env={"SDL_AUDIODRIVER": driver}),
                                      5, "no sound device")
                self.assert_one_error(rkv("play", env={"SDL_AUDIODRIVER": driver}), 5,
                                      "no sound device")


class Help(Case):
    def test_every_subcommand_lists_every_option_and_the_exit_codes(self):
        for sub, options in [
            ("info", ["--json", "--loops"]),
            ("render", ["--output", "--seconds", "--loops", "--fade", "--float", "--rate"]),
            ("play", ["--loops"]),
            (None, ["info", "render", "play"]),
        ]:
            with self.subTest(sub=sub):
                r = rkv(*([sub] if sub else []), "--help")
                self.assertEqual(r.returncode, 0)
                text = r.stdout.decode()
                for o in options + ["--help"]:
                    self.assertIn(o, text)
                for code in ("0  success", "1  usage", "2  a file cannot", "3  a file is refused",
                             "4  the output", "5  no sound device"):
                    self.assertIn(code, text)


def sox_stat(path):
    r = subprocess.run(["sox", path, "-n", "stat"], capture_output=True, timeout=60)
    assert r.returncode == 0, r.stderr.decode()
    stat = {}
    for line in r.stderr.decode().splitlines():
        if ":" in line:
            k, v = line.split(":", 1)
            stat[k.strip()] = v.strip()
    return stat


def soxi(path, flag):
    r = subprocess.run(["soxi", flag, path], capture_output=True, timeout=60)
    assert r.returncode == 0, r.stderr.decode()
    return r.stdout.decode().strip()


class Formats(Case):
    def test_sox_reads_every_format_written(self):
        song = DEMOS[0]
        for name, extra, rate, encoding in [
            ("a.wav", [], "22050", "Signed Integer PCM"),
            ("b.wav", ["--float"], "22050", "Floating Point PCM"),
            ("c.flac", [], "22050", "FLAC"),
            ("d.ogg", [], "22050", "Vorbis"),
            ("e.wav", ["--rate", "44100"], "44100", "Signed Integer PCM"),
            ("f.flac", ["--rate", "48000"], "48000", "FLAC"),
            ("g.wav", ["--rate", "48000", "--float", "--fade", "2"], "48000", "Floating Point"),
        ]:
            with self.subTest(name=name):
                out = self.path(name)
                r = rkv("render", song, "-o", out, "--seconds", "4", *extra)
                self.assertEqual(r.returncode, 0, r.stderr.decode())
                self.assertEqual(soxi(out, "-r"), rate)
                self.assertEqual(soxi(out, "-c"), "2")
                self.assertIn(encoding, soxi(out, "-e"))
                seconds = float(soxi(out, "-D"))
                self.assertAlmostEqual(seconds, 4.0, delta=0.01)
                stat = sox_stat(out)
                self.assertGreater(float(stat["RMS     amplitude"]), 0.02)
                self.assertLess(float(stat["Maximum amplitude"]), 1.0)

    def test_demo_songs_are_not_clipped_and_have_body(self):
        for song in DEMOS:
            with self.subTest(song=song):
                out = self.path("demo.wav")
                self.assertEqual(rkv("render", song, "-o", out, "--loops", "1").returncode, 0)
                stat = sox_stat(out)
                self.assertLess(float(stat["Maximum amplitude"]), 0.9)
                self.assertLess(-float(stat["Minimum amplitude"]), 0.9)
                self.assertGreater(float(stat["RMS     amplitude"]), 0.08)
                self.assertGreater(float(stat["Length (seconds)"]), 20)

    def test_fade_ends_in_silence(self):
        out = self.path("fade.wav")
        self.assertEqual(rkv("render", DEMOS[2], "-o", out, "--seconds", "3", "--fade", "1")
                         .returncode, 0)
        with open(out, "rb") as f:
            data = f.read()
        last = struct.unpack("<2h", data[-4:])
        self.assertEqual(last, (0, 0))
        self.assertEqual(wav_frames(out), 3 * 22050)


ODD_SONGS = {
    "plain": dict(loop_start=1, loop_end=4, step_count=4),
    "end_past_song": dict(loop_start=2, loop_end=100, step_count=6),
    "end_zero": dict(loop_start=2, loop_end=0, step_count=6),
    "end_negative": dict(loop_start=1, loop_end=-7, step_count=6),
    "start_negative": dict(loop_start=-9, loop_end=6, step_count=6),
    "start_past_song": dict(loop_start=99, loop_end=6, step_count=6),
    "start_after_end": dict(loop_start=5, loop_end=3, step_count=6),
    "no_clock": dict(step_time=0, loop_start=0, loop_end=6, step_count=6),
    "slow_uneven": dict(step_time=37, loop_start=1, loop_end=5, step_count=5),
}


class Loops(Case):
    def test_loops_length_equals_what_info_reports(self):
        tracks = [[1, 0, 2, 0, 4, 8], [0, 1 << 12, 0, 0, 0, 1], [], [1, 1 << 10, 0, 1 << 4, 0, 1]]
        for name, fields in ODD_SONGS.items():
            fields = dict(fields)
            song = self.write(name + ".rkv", header_song(tracks=tracks, **fields))
            for loops in (0, 1, 3):
                with self.subTest(song=name, loops=loops):
                    info = rkv("info", "--json", "--loops", str(loops), song)
                    self.assertEqual(info.returncode, 0, info.stderr.decode())
                    report = json.loads(info.stdout)
                    out = self.path(name + ".wav")
                    args = ["render", song, "-o", out] + (["--loops", str(loops)] if loops else [])
                    r = rkv(*args)
                    self.assertEqual(r.returncode, 0, r.stderr.decode())
                    self.assertEqual(wav_frames(out), report["render"]["frames"])
                    render = report["render"]
                    self.assertEqual(render["frames"],
                                     render["end_frame"] + render["ring_out_frames"])
                    if report["clock_ticks"]:
                        first = report["first_pass"]["frames"]
                        passes = report["loop_pass"]["steps"] * loops
                        self.assertEqual(render["ticks"], report["first_pass"]["steps"] + passes)
                        self.assertGreaterEqual(render["end_frame"], first)
                    else:
                        self.assertEqual(render["end_frame"], 0)

    def test_more_loops_make_longer_renders_by_whole_passes(self):
        info = json.loads(rkv("info", "--json", "--loops", "2", DEMOS[1]).stdout)
        once = json.loads(rkv("info", "--json", DEMOS[1]).stdout)
        steps = info["render"]["ticks"] - once["render"]["ticks"]
        self.assertEqual(steps, 2 * info["loop_pass"]["steps"])


class Stdout(Case):
    def test_standard_output_gets_the_same_bytes_as_a_file(self):
        for extra in ([], ["--loops", "1", "--float"], ["--seconds", "2.5", "--rate", "44100"]):
            with self.subTest(extra=extra):
                out = self.path("file.wav")
                self.assertEqual(rkv("render", DEMOS[0], "-o", out, *extra).returncode, 0)
                piped = rkv("render", DEMOS[0], "-o", "-", *extra)
                self.assertEqual(piped.returncode, 0, piped.stderr.decode())
                with open(out, "rb") as f:
                    self.assertEqual(piped.stdout, f.read())

    def test_a_closed_pipe_is_a_write_error(self):
        p = subprocess.Popen([RKV, "render", DEMOS[0], "-o", "-", "--seconds", "60"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        p.stdout.close()
        err = p.stderr.read().decode()
        self.assertEqual(p.wait(timeout=60), 4, err)
        self.assertIn("standard output: cannot write", err)


class Info(Case):
    def test_text_and_json_describe_the_song(self):
        r = rkv("info", DEMOS[0])
        self.assertEqual(r.returncode, 0)
        text = r.stdout.decode()
        for words in ("step time     120 ms, 500.00 steps per minute", "loop start 32",
                      "instrument 0", "instrument 2", "drum keys", "pan codes     3 5 6"):
            self.assertIn(words, text)
        report = json.loads(rkv("info", "--json", DEMOS[0]).stdout)
        self.assertEqual(report["step_count"], 288)
        self.assertEqual(report["intro"]["steps"], 32)
        self.assertEqual(report["loop_pass"]["steps"], 256)
        self.assertEqual(report["loop_pass"]["seconds"], 30.72)
        self.assertEqual(report["tracks_used"], [0, 1, 2, 3])
        self.assertEqual(report["warnings"], [])
        many = json.loads(rkv("info", "--json", *DEMOS).stdout)
        self.assertEqual([m["file"] for m in many], DEMOS)

    def test_warns_about_every_value_the_player_treats_specially(self):
        data = bytearray(header_song(step_time=2000000, loop_start=77, loop_end=0, step_count=4,
                                     tracks=[[0, 0, 0, 1 | (9 << 24)], [], [],
                                             [0, 0, 0, 1 << 6 | 200 << 24]]))
        struct.pack_into("<Ii", data, 24 + 4, 3, 301)          # instrument 0: short, too loud
        struct.pack_into("<Ii", data, 364 + 4, 0x0FFFFFFF, 240)  # instrument 1: past 1 GiB
        data[704] = 21                                          # instrument 2: octave wraps
        struct.pack_into("<i", data, 708 + 4, -951)             # below -100 dB
        song = self.write("odd.rkv", bytes(data))
        report = json.loads(rkv("info", "--json", song).stdout)
        kinds = [w["kind"] for w in report["warnings"]]
        text = " | ".join(w["message"] for w in report["warnings"])
        for kind, words in [("ignored", "volume 301 is above full"),
                            ("ignored", "volume -951 is below -100 dB"),
                            ("silent", "note length 3"), ("silent", "past 1 GiB"),
                            ("wraps", "octave 21"), ("ignored", "pan codes 9, 200"),
                            ("clamped", "loop start 77"), ("loop", "loop end 0"),
                            ("no ticks", "step time 2000000"), ("silent", "key 6")]:
            self.assertIn(kind, kinds)
            self.assertIn(words, text)
        self.assertIn("warning: clamped: loop start 77", rkv("info", song).stdout.decode())
        refused = rkv("info", "--json", self.write("zero.rkv", header_song(step_count=0)))
        self.assertEqual(refused.returncode, 3)
        self.assertEqual(json.loads(refused.stdout)["warnings"][0]["kind"], "refused")


def strip_leading_silence(pcm):
    i = 0
    while i + 4 <= len(pcm) and pcm[i:i + 4] == b"\0\0\0\0":
        i += 4
    return pcm[i:]


class Play(Case):
    def play_capture(self, *args):
        capture = self.path("capture.raw")
        r = rkv("play", *args, env={"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": capture,
                                    "SDL_DISKAUDIODELAY": "0"})
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        with open(capture, "rb") as f:
            return strip_leading_silence(f.read())

    def rendered(self, song, loops):
        out = self.path("render.wav")
        self.assertEqual(rkv("render", song, "-o", out, "--loops", str(loops)).returncode, 0)
        with open(out, "rb") as f:
            return strip_leading_silence(f.read()[44:])

    def test_play_sends_the_device_what_render_writes(self):
        for song, loops in ((DEMOS[0], 0), (DEMOS[2], 1)):
            with self.subTest(song=song, loops=loops):
                played = self.play_capture(song, "--loops", str(loops))
                expected = self.rendered(song, loops)
                self.assertGreater(len(expected), 22050 * 4)
                self.assertEqual(played[:len(expected)], expected)
                # Past the end the device only ever got silence.
                self.assertEqual(played[len(expected):].count(0), len(played) - len(expected))

    def test_without_a_song_it_plays_the_built_in_demo(self):
        played = self.play_capture("--loops", "0")
        expected = self.rendered(DEMOS[0], 0)
        self.assertEqual(played[:len(expected)], expected)

    def test_interrupt_stops_cleanly(self):
        import signal
        import time
        env = dict(os.environ, SDL_AUDIODRIVER="dummy")
        p = subprocess.Popen([RKV, "play", DEMOS[1]], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        time.sleep(0.5)
        self.assertIsNone(p.poll(), "plays on until stopped")
        p.send_signal(signal.SIGINT)
        self.assertEqual(p.wait(timeout=10), 130)  # 128 + SIGINT
        self.assertEqual(p.stderr.read(), b"")


if __name__ == "__main__":
    group = sys.argv[1] if len(sys.argv) > 1 else None
    suite = unittest.TestLoader().loadTestsFromName(group, sys.modules[__name__]) if group \
        else unittest.TestLoader().loadTestsFromModule(sys.modules[__name__])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
