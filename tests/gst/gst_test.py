#!/usr/bin/python3
"""The GStreamer plugin against `rkv render` and `rkv info`: gst-launch pipelines, the
discoverer's duration, seeks through the API, and playbin to the end.

Run one group: gst_test.py Seek (RKV_BIN, RKV_SOURCE_DIR and GST_PLUGIN_PATH in the environment).
Each run uses a private plugin registry.
"""

import json
import os
import subprocess
import sys
import tempfile
import unittest

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

RKV = os.environ.get("RKV_BIN", "rkv")
SOURCE = os.environ.get("RKV_SOURCE_DIR", ".")
DEMOS = [os.path.join(SOURCE, "demo", n + ".rkv") for n in ("daybreak", "lantern", "orbit")]
CORPUS = os.path.join(SOURCE, "tests", "fuzz", "corpus")
# The songs at the engine's edges that the player plays (the demo songs are there too).
ENGINE_SONGS = [os.path.join(CORPUS, n) for n in sorted(os.listdir(CORPUS))
                if n.endswith(".rkv") and n != "step_count_zero.rkv"
                and os.path.join(SOURCE, "demo", n) not in DEMOS]
RATE = 22050
TMP = tempfile.TemporaryDirectory()
os.environ["GST_REGISTRY"] = os.path.join(TMP.name, "registry.bin")
Gst.init(None)


def run(*args):
    r = subprocess.run(list(args), capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, f"{args}: {r.stdout}{r.stderr}"
    return r.stdout


def pcm(path):
    """Channels, rate and sample bytes of a WAV file: headers differ between writers, samples
    must not."""
    with open(path, "rb") as f:
        data = f.read()
    chunks, at = {}, 12
    while at + 8 <= len(data):
        size = int.from_bytes(data[at + 4:at + 8], "little")
        chunks[data[at:at + 4]] = data[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    fmt = chunks[b"fmt "]
    return (int.from_bytes(fmt[2:4], "little"), int.from_bytes(fmt[4:8], "little"),
            chunks[b"data"])


_renders = {}


def render(song, *options):
    key = (song, options)
    if key not in _renders:
        out = os.path.join(TMP.name, f"render{len(_renders)}.wav")
        run(RKV, "render", song, "-o", out, *options)
        _renders[key] = pcm(out)
    return _renders[key]


def info(song):
    return json.loads(run(RKV, "info", "--json", song))


def frame_time(frame, rate=RATE):
    """The element's rule: a frame's time is rounded down to the nanosecond."""
    return frame * Gst.SECOND // rate


class Launch(unittest.TestCase):
    def launch(self, song, element):
        out = os.path.join(TMP.name, "gst.wav")
        run("gst-launch-1.0", "-q", "filesrc", f"location={song}", "!", *element.split(), "!",
            "wavenc", "!", "filesink", f"location={out}")
        return pcm(out)

    def test_same_samples_as_render(self):
        s16 = "! audioconvert ! audio/x-raw,format=S16LE"
        # (songs, elements, render options)
        cases = [(DEMOS + ENGINE_SONGS, "rkvdec " + s16, ()),
                 (DEMOS[:1] + ENGINE_SONGS, "decodebin " + s16, ()),  # by the typefinder
                 (DEMOS[1:2], "rkvdec loops=2 " + s16, ("--loops", "2")),
                 (DEMOS[2:], "rkvdec ! audio/x-raw,format=F32LE", ("--float",)),
                 (ENGINE_SONGS[:1], f"rkvdec {s16},rate=48000", ("--rate", "48000"))]
        for songs, element, options in cases:
            for song in songs:
                with self.subTest(song=os.path.basename(song), element=element):
                    got, want = self.launch(song, element), render(song, *options)
                    self.assertEqual(got[:2], want[:2])
                    self.assertEqual(len(got[2]), len(want[2]))
                    self.assertTrue(got[2] == want[2], "samples differ")

    def test_refusals_name_the_reason(self):
        for name, reason in (("no_magic.bin", "RKV"), ("step_count_zero.rkv", "step count")):
            with self.subTest(name):
                pipeline = Gst.parse_launch(
                    f"filesrc location={os.path.join(CORPUS, name)} ! rkvdec ! fakesink")
                pipeline.set_state(Gst.State.PAUSED)
                msg = pipeline.get_bus().timed_pop_filtered(
                    30 * Gst.SECOND, Gst.MessageType.ERROR | Gst.MessageType.ASYNC_DONE)
                pipeline.set_state(Gst.State.NULL)
                self.assertEqual(msg.type, Gst.MessageType.ERROR)
                self.assertIn(reason, msg.parse_error()[0].message)


class Discoverer(unittest.TestCase):
    def test_duration_and_tags_are_the_info_facts(self):
        for song in DEMOS + ENGINE_SONGS:
            with self.subTest(os.path.basename(song)):
                out, facts = run("gst-discoverer-1.0", "-v", song), info(song)
                line = next(l for l in out.splitlines() if "Duration:" in l)
                h, m, s = line.split()[-1].split(":")
                ns = (int(h) * 3600 + int(m) * 60) * Gst.SECOND + int(s.replace(".", ""))
                self.assertEqual(ns, frame_time(facts["render"]["frames"]))
                self.assertIn("Seekable: yes", out)
                self.assertIn(f"comment: {facts['step_count']} steps of "
                              f"{facts['step_time_ms']} ms; the loop plays steps "
                              f"{facts['loop']['wraps_to']} to {facts['loop']['last_step']}", out)


def wait_for(pipeline, *types, seconds=30):
    """The first bus message of the given types (or an error), within the deadline."""
    mask = Gst.MessageType.ERROR
    for t in types:
        mask |= t
    msg = pipeline.get_bus().timed_pop_filtered(seconds * Gst.SECOND, mask)
    assert msg is not None, f"no {types} within {seconds} s"
    assert msg.type != Gst.MessageType.ERROR, msg.parse_error()
    return msg


class Seek(unittest.TestCase):
    def test_seek_lands_on_the_frame(self):
        song = DEMOS[2]
        want = render(song)[2]
        length = len(want) // 4
        pipeline = Gst.parse_launch(
            f"filesrc location={song} ! rkvdec name=dec ! appsink name=sink sync=false "
            "caps=audio/x-raw,format=S16LE,rate=22050,channels=2")
        self.addCleanup(pipeline.set_state, Gst.State.NULL)
        sink = pipeline.get_by_name("sink")
        pipeline.set_state(Gst.State.PAUSED)
        wait_for(pipeline, Gst.MessageType.ASYNC_DONE)  # its duration: Discoverer's check
        # A frame's own time, a time between two frames (the nearest one wins), far and back.
        for frame, time in ((1, frame_time(1)), (12345, frame_time(12345) + 15000),
                            (length - 7, frame_time(length - 7)), (300000, frame_time(300000)),
                            (0, 0), (RATE, Gst.SECOND)):
            with self.subTest(frame=frame):
                self.assertTrue(pipeline.seek_simple(
                    Gst.Format.TIME, Gst.SeekFlags.FLUSH | Gst.SeekFlags.ACCURATE, time))
                wait_for(pipeline, Gst.MessageType.ASYNC_DONE)
                buf = sink.emit("pull-preroll").get_buffer()
                self.assertEqual(buf.pts, frame_time(frame))
                got = buf.extract_dup(0, buf.get_size())
                self.assertGreater(len(got), 0)
                self.assertEqual(got, want[frame * 4:frame * 4 + len(got)])
                dec = pipeline.get_by_name("dec")
                ok, position = dec.query_position(Gst.Format.DEFAULT)
                self.assertTrue(ok)
                self.assertEqual(position, frame + len(got) // 4)


class Playbin(unittest.TestCase):
    def test_plays_to_the_end(self):
        song = ENGINE_SONGS[0]
        playbin = Gst.ElementFactory.make("playbin")
        playbin.set_property("uri", Gst.filename_to_uri(song))
        playbin.set_property("audio-sink", Gst.ElementFactory.make("fakesink"))
        playbin.get_property("audio-sink").set_property("sync", False)
        self.addCleanup(playbin.set_state, Gst.State.NULL)
        playbin.set_state(Gst.State.PLAYING)
        wait_for(playbin, Gst.MessageType.EOS)
        ok, duration = playbin.query_duration(Gst.Format.TIME)
        self.assertTrue(ok)
        self.assertEqual(duration, frame_time(info(song)["render"]["frames"]))


if __name__ == "__main__":
    group = sys.argv[1] if len(sys.argv) > 1 else None
    loader = unittest.TestLoader()
    suite = loader.loadTestsFromName(group, sys.modules[__name__]) if group \
        else loader.loadTestsFromModule(sys.modules[__name__])
    ok = unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful()
    TMP.cleanup()
    sys.exit(0 if ok else 1)
