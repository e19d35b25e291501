#!/usr/bin/python3
"""rkv: the warning for a file cut off inside its tracks, and help in clean columns.
RKV_BIN and RKV_SOURCE_DIR in the environment."""
import json, os, re, subprocess, tempfile, unittest

RKV = os.environ.get("RKV_BIN", "rkv")
ORBIT = os.path.join(os.environ.get("RKV_SOURCE_DIR", "."), "demo", "orbit.rkv")


def rkv(*args):
    return subprocess.run([RKV, *args], capture_output=True, text=True, timeout=60)


class InfoAndHelp(unittest.TestCase):
    def test_words_missing_per_track(self):
        song = open(ORBIT, "rb").read()
        n = int.from_bytes(song[20:24], "little")
        self.assertEqual(len(song), 1048 + 16 * n)
        # (bytes kept, words each track lacks); a word cut in two is missing.
        cases = [(len(song), None), (1048 + 12 * n + 42, [0, 0, 0, n - 10]),
                 (1048 + 4 * n, [0, n, n, n]), (1048 + 6, [n - 1, n, n, n]), (1048, [n] * 4)]
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "cut.rkv")
            for size, lacks in cases:
                open(path, "wb").write(song[:size])
                out = rkv("info", "--json", path)
                self.assertEqual(out.returncode, 0, out.stderr)
                cut = [w["message"] for w in json.loads(out.stdout)["warnings"]
                       if w["kind"] == "truncated"]
                self.assertEqual(len(cut), 0 if lacks is None else 1, size)
                if cut:
                    found = [int(k) for k in re.findall(r"track \d lacks (\d+)", cut[0])]
                    self.assertEqual(found, lacks, size)
                    self.assertIn("warning: truncated:", rkv("info", path).stdout)

    def test_help_columns(self):
        for command in ([], ["info"], ["render"], ["play"]):
            rows = [l for l in rkv(*command, "--help").stdout.splitlines() if l.startswith("  -")]
            # Option and value type, two spaces or more, then the description, in one column.
            starts = {re.match(r"^  \S+( \S+)* {2,}(?=\S)", row).end() for row in rows}
            self.assertEqual(len(starts), 1, rows)
            self.assertFalse([row for row in rows if "Excludes:" in row], rows)


if __name__ == "__main__":
    unittest.main()
