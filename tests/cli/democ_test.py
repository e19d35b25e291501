#!/usr/bin/python3
"""Tests of the demo song compiler: refusals name the line, the committed demo songs are what
their sources compile to, and the encoding puts every field where the player reads it.

Run one group: democ_test.py Refusals (RKV_DEMOC and RKV_SOURCE_DIR in the environment).
"""

import os
import struct
import subprocess
import tempfile
import unittest

DEMOC = os.environ.get("RKV_DEMOC", "democ.py")
SOURCE = os.environ.get("RKV_SOURCE_DIR", ".")

INSTRUMENTS = """\
instrument 0 lead
  octave 3
  length 1000
  wave sine
  envelope 0:127
end
instrument 1 keys
  octave 2
  length 100ms
  volume 200
  wave square 0.25
  gain 0.5
  envelope 0:0 4:100 8:50 63:50
end
instrument 2 bass
  octave 1
  length 500
  wave list 0 1 2 3
    """ + " ".join(map(str, list(range(4, 128)) + list(range(-128, 0)))) + """
  envelope list """ + "100 " * 48 + """
    """ + "100 " * 15 + """-100
end
"""


# The line of the last instrument's `end` when a test text starts with one line and then these.
HEAD = "step 100\n" + INSTRUMENTS
AFTER = HEAD.count("\n")


def democ(src, out):
    return subprocess.run(["/usr/bin/python3", DEMOC, src, "-o", out], capture_output=True,
                          timeout=30)


def compile_text(text, directory):
    src, out = os.path.join(directory, "song.rkvt"), os.path.join(directory, "song.rkv")
    with open(src, "w") as f:
        f.write(text)
    r = democ(src, out)
    return r, src, open(out, "rb").read() if os.path.exists(out) else None


class Case(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)


class Refusals(Case):
    CASES = [
        # (text, line, reason)
        ("step 120\nbogus 3\n", 2, "unknown keyword 'bogus'"),
        ("step abc\n", 1, "step time must be a whole number"),
        ("step -1\n", 1, "step time -1 is outside"),
        ("step 100\ninstrument 3 x\n", 2, "instrument 3 is outside 0..2"),
        ("step 100\ninstrument 0 lead\n  octave 3\n", 2, "instrument lead has no 'end'"),
        ("step 100\ninstrument 0 lead\n  wave sine\nend\n", 2, "has no envelope"),
        ("step 100\ninstrument 0 lead\n  wave wobble\n", 3, "unknown wave 'wobble'"),
        ("step 100\ninstrument 0 lead\n  wave square 1.5\n", 3, "duty 1.5"),
        ("step 100\ninstrument 0 lead\n  envelope 5:10 3:20\n", 3, "index 3 does not follow 5"),
        ("step 100\ninstrument 0 lead\n  envelope 0:200\n", 3, "envelope value 200"),
        ("step 100\ninstrument 0 lead\n  wave list 1 2 3\nend\n", 3,
         "wave list has 3 values, needs 256"),
        ("step 100\ninstrument 0 lead\n  octave 300\n", 3, "octave 300 is outside 0..255"),
        ("step 100\ninstrument 0 lead\n  volume 1.5\n", 3, "volume must be a whole number"),
        # Pattern and song mistakes, after the instruments.
        (HEAD + "pattern p lead\n  C3\nend\n", AFTER + 2, "C3 is outside lead's range C4..B5"),
        (HEAD + "pattern p lead\n  Q4\nend\n", AFTER + 2, "'Q4' is not a note"),
        (HEAD + "pattern p drums\n  K X\nend\n", AFTER + 2, "'X' is not a drum"),
        (HEAD + "pattern p lead bass\n  C4\nend\n", AFTER + 2, "expected 2 cells, found 1"),
        (HEAD + "pattern p lead\n  C4+@7+@3\nend\n", AFTER + 2, "two pan codes"),
        (HEAD + "pattern p lead\n  C4+C4\nend\n", AFTER + 2, "appears twice"),
        (HEAD + "pattern p lead\n  @256\nend\n", AFTER + 2, "pan code 256"),
        (HEAD + "pattern p flute\n  C4\nend\n", AFTER + 1, "no instrument or drums"),
        (HEAD + "pattern p lead\n  C4\nend\nsong\n  q\nend\n", AFTER + 5, "no pattern named 'q'"),
        (HEAD + "pattern p lead\n  C4\nend\npattern r lead\n  D4\nend\nsong\n  p + r\nend\n",
         AFTER + 8, "both fill the same track"),
        (HEAD + "pattern p lead\n  C4\nend\nsong\n  |: p\n  |: p\nend\n", AFTER + 6,
         "a second loop start"),
        (HEAD + "pattern p lead\n  C4\nend\nsong\n  p p\nend\n", AFTER + 5, "a song line is"),
        (HEAD + "pattern p lead\n  C4\nend\n", AFTER + 3, "no song section"),
        (INSTRUMENTS + "pattern p lead\n  C4\nend\nsong\n  p\nend\n", AFTER + 5, "no step time"),
    ]

    def test_malformed_text_is_refused_with_its_line_and_a_missing_file_by_name(self):
        for text, line, reason in self.CASES:
            with self.subTest(reason=reason):
                r, src, data = compile_text(text, self.tmp.name)
                self.assertEqual(r.returncode, 1)
                err = r.stderr.decode().splitlines()
                self.assertEqual(len(err), 1, err)
                self.assertTrue(err[0].startswith(f"{src}:{line}: "), err[0])
                self.assertIn(reason, err[0])
                self.assertIsNone(data, "no output for a refused song")
        r = democ("/nonexistent.rkvt", os.path.join(self.tmp.name, "x.rkv"))
        self.assertEqual(r.returncode, 1)
        self.assertIn("/nonexistent.rkvt: cannot read", r.stderr.decode())


class DemoSongs(Case):
    def test_committed_songs_are_what_their_sources_compile_to(self):
        demo = os.path.join(SOURCE, "demo")
        names = sorted(n[:-5] for n in os.listdir(demo) if n.endswith(".rkvt"))
        self.assertGreaterEqual(len(names), 3)
        for name in names:
            with self.subTest(song=name):
                out = os.path.join(self.tmp.name, name + ".rkv")
                r = democ(os.path.join(demo, name + ".rkvt"), out)
                self.assertEqual(r.returncode, 0, r.stderr.decode())
                with open(out, "rb") as f, open(os.path.join(demo, name + ".rkv"), "rb") as g:
                    self.assertEqual(f.read(), g.read())


class Songs(Case):
    def compile(self, body, header="step 140\ndrums 250\n"):
        r, _, data = compile_text(header + INSTRUMENTS + body, self.tmp.name)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        return data

    @staticmethod
    def track(data, t):
        count = struct.unpack_from("<i", data, 20)[0]
        return list(struct.unpack_from(f"<{count}I", data, 1048 + 4 * count * t))

    def test_header_and_instruments_land_where_the_player_reads_them(self):
        data = self.compile("pattern p lead\n  C4 . . .\nend\nsong\n  p\n  |: p x2 :|\n  p\nend\n")
        self.assertEqual(data[0:3], b"RKV")
        self.assertEqual(struct.unpack_from("<Iiii", data, 8), (140, 4, 12, 16))
        self.assertEqual(len(data), 1048 + 16 * 16)
        self.assertEqual(struct.unpack_from("<i", data, 1044)[0], 250)
        lead, keys, bass = (24 + 340 * k for k in range(3))
        self.assertEqual(data[lead], 3)
        self.assertEqual(struct.unpack_from("<Ii", data, lead + 4), (1000, 300))
        self.assertEqual(struct.unpack_from("<Ii", data, keys + 4), (2205, 200))  # 100 ms
        sine = struct.unpack_from("<256b", data, lead + 20)
        self.assertEqual((max(sine), min(sine), sine[0], sine[64]), (114, -114, 0, 114))
        square = struct.unpack_from("<256b", data, keys + 20)
        self.assertEqual(square, (64,) * 64 + (-64,) * 192)  # duty 0.25, gain 0.5
        self.assertEqual(struct.unpack_from("<256b", data, bass + 20), tuple(range(128)) +
                         tuple(range(-128, 0)))
        env = struct.unpack_from("<64b", data, keys + 276)
        self.assertEqual(env, (0, 25, 50, 75, 100, 88, 75, 62) + (50,) * 56)
        self.assertEqual(struct.unpack_from("<64b", data, bass + 276)[63], -100)

    def test_notes_drums_and_pans_become_step_words(self):
        data = self.compile(
            "pattern m lead keys bass drums\n"
            "  C4+C#5+@2  C3+B4  C2  K+k+@7\n"
            "  B5         .      B3  H+h+C+c+O+o+S+s+B+b+#6\n"
            "end\n"
            "pattern beat drums\n  K\nend\n"
            "pattern solo lead\n  E4 | F4 G4\nend\n"
            "song\n  m\n  solo + beat\nend\n")
        self.assertEqual(self.track(data, 0), [1 | 1 << 13 | 2 << 24, 1 << 23, 1 << 4, 1 << 5,
                                               1 << 7])
        self.assertEqual(self.track(data, 1), [1 | 1 << 23, 0, 0, 0, 0])
        self.assertEqual(self.track(data, 2), [1, 1 << 23, 0, 0, 0])
        all_drums = sum(1 << k for k in (10, 11, 12, 13, 8, 9, 4, 5, 2, 3, 6))
        # The one-step beat repeats under the three-step solo.
        self.assertEqual(self.track(data, 3), [1 | 1 << 1 | 7 << 24, all_drums, 1, 1, 1])
        self.assertEqual(struct.unpack_from("<ii", data, 12), (0, 5), "whole song by default")

    def test_raw_header_values_for_odd_songs(self):
        body = "pattern p lead\n  C4 D4\nend\nsong\n  p\nend\n"
        data = self.compile(body, header="step 0\nloop -3 99\nsteps 5\ndrums -7\n")
        self.assertEqual(struct.unpack_from("<Iiii", data, 8), (0, -3, 99, 5))
        self.assertEqual(self.track(data, 0), [1, 4, 0, 0, 0])
        data = self.compile(body, header="step 4294967295\nsteps 0\n")
        self.assertEqual(len(data), 1048)
        self.assertEqual(struct.unpack_from("<Ii", data, 8), (4294967295, 0))


if __name__ == "__main__":
    unittest.main(verbosity=2)  # a group by name: democ_test.py Refusals
