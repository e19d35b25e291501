#!/usr/bin/python3
"""rkv: the warning for a file cut off inside its tracks, --version, and help in clean columns.
RKV_BIN and RKV_SOURCE_DIR in the environment."""

import json
import os
import re
import subprocess
import tempfile
import unittest

RKV = os.environ.get("RKV_BIN", "rkv")
ORBIT = os.path.join(os.environ.get("RKV_SOURCE_DIR", "."), "demo", "orbit.rkv")


def rkv(*args):
    return subprocess.run([RKV, *args], capture_output=True, text=True, timeout=60)


class Truncated(unittest.TestCase):
    def test_words_missing_per_track(self):
        with open(ORBIT, "rb") as f:
            song = f.read()
        steps = int.from_bytes(song[20:24], "little")
        self.assertEqual(len(song), 1048 + 16 * steps)
        track = 4 * steps
        # (bytes kept, words each track lacks); a word cut in two is missing.
        cases = [(len(song), None),
                 (1048 + 3 * track + 40 + 2, [0, 0, 0, steps - 10]),
                 (1048 + track, [0, steps, steps, steps]),
                 (1048 + 6, [steps - 1, steps, steps, steps]),
                 (1048, [steps] * 4)]
        with tempfile.TemporaryDirectory() as work:
            for size, lacks in cases:
                path = os.path.join(work, "cut.rkv")
                with open(path, "wb") as f:
                    f.write(song[:size])
                out = rkv("info", "--json", path)
                self.assertEqual(out.returncode, 0, out.stderr)
                cut = [w["message"] for w in json.loads(out.stdout)["warnings"]
                       if w["kind"] == "truncated"]
                if lacks is None:
                    self.assertEqual(cut, [], size)
                    continue
                self.assertEqual(len(cut), 1, size)
                found = [int(n) for n in re.findall(r"track \d lacks (\d+)", cut[0])]
                self.assertEqual(found, lacks, size)
                self.assertIn("warning: truncated:", rkv("info", path).stdout)


class Help(unittest.TestCase):
    def test_version(self):
        out = rkv("--version")
        self.assertEqual(out.returncode, 0)
        self.assertRegex(out.stdout, r"^rkv \d+\.\d+\.\d+\n$")

    def test_columns(self):
        for command in ([], ["info"], ["render"], ["play"]):
            text = rkv(*command, "--help").stdout
            rows = [line for line in text.splitlines() if re.match(r"^  -", line)]
            self.assertTrue(rows, command)
            for row in rows:
                # The option and its value type, at least two spaces, then the description
                # from one column for all.
                self.assertRegex(row, r"^  \S+( \S+)* {2,}\S", row)
                self.assertNotIn("Excludes:", row)
            starts = {re.match(r"^  \S+( \S+)* {2,}", row).end() for row in rows}
            self.assertEqual(len(starts), 1, rows)


if __name__ == "__main__":
    unittest.main()
