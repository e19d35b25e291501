#!/usr/bin/python3
"""`rkv play` with one song, the built-in one or several, driven by keys in a real terminal (tmux),
its sound captured by SDL's disk driver and compared with `rkv render`. Run one group:
play_keys_test.py Keys."""

import os
import re
import shlex
import signal
import subprocess
import time
import unittest

from rkv_cli_test import DEMOS, RKV, Case, read, rkv, wait_for, without_leading_silence

DAYBREAK, LANTERN, ORBIT = DEMOS
STEP_MS = 120  # daybreak's step time


class Terminal(Case):
    """`rkv play ARGS` in a tmux pane; the script records the exit code and `stty -a` around it."""

    def start(self, *args, delay="10"):
        # A server of its own for each run: a name being shut down is not reused.
        self.tmux = ["tmux", "-L", "rkv-test-%d-%d" % (os.getpid(), time.monotonic_ns()), "-f",
                     "/dev/null"]
        self.addCleanup(subprocess.run, self.tmux + ["kill-server"], capture_output=True)
        env = "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=%s SDL_DISKAUDIODELAY=%s" % (
            self.path("capture.raw"), delay)
        for stale in ("rc", "after"):
            if os.path.exists(self.path(stale)):
                os.remove(self.path(stale))
        # `after` appears whole (renamed into place), once rkv has ended and `rc` is written.
        with open(self.path("run.sh"), "w") as f:
            f.write("stty -a >%s\nenv %s %s play %s\necho $? >%s\nstty -a >%s.tmp\n"
                    "mv %s.tmp %s\nexec sleep 300\n"
                    % (self.path("before"), env, RKV, shlex.join(args), self.path("rc"),
                       *[self.path("after")] * 3))
        subprocess.run(self.tmux + ["new-session", "-d", "-x", "160", "-y", "20", "bash " +
                                    self.path("run.sh")], check=True)

    def keys(self, *keys):
        subprocess.run(self.tmux + ["send-keys", *keys], check=True)

    def screen(self):
        return subprocess.run(self.tmux + ["capture-pane", "-p"], capture_output=True,
                              text=True).stdout

    def status(self, pattern):
        """Waits for the live line to match; returns the match."""
        last = lambda: (self.screen().rstrip().splitlines() or [""])[-1]
        return wait_for(lambda: re.search(pattern, last()), repr(pattern))

    def reach(self, step):
        """Waits for the live line to show `step` or a later one; returns the step shown."""
        shown = lambda: int(self.status(r"step (\d+) of").group(1))
        return wait_for(lambda: (s := shown()) >= step and s, "step %d" % step)

    def finished(self, code):
        rc = wait_for(lambda: os.path.exists(self.path("after")) and read(self.path("rc"), "r"),
                      "rkv to end")
        self.assertEqual(int(rc), code, self.screen())
        self.assertEqual(read(self.path("before"), "r"), read(self.path("after"), "r"))
        cursor = subprocess.run(self.tmux + ["display", "-p", "#{cursor_flag}"],
                                capture_output=True, text=True).stdout.strip()
        self.assertEqual(cursor, "1", "the cursor is shown again")


class Keys(Terminal):
    def test_next_previous_pause_volume_help_and_quit(self):
        self.start(DAYBREAK, LANTERN, ORBIT, "--loop-all")
        self.status(r"^\[1/3\] playing .*daybreak")
        for key, pattern in [("n", r"^\[2/3\] playing .*lantern"), ("p", r"^\[1/3\] .*daybreak"),
                             ("n", r"^\[2/3\]"), ("n", r"^\[3/3\] .*orbit"),
                             ("n", r"^\[1/3\]"),  # --loop-all starts the list again
                             ("Space", r"\(paused\)$"), ("Space", r"\d$"),
                             ("-", r"volume 90%$"), ("-", r"volume 80%$"), ("+", r"volume 90%$"),
                             ("+", r"\d$")]:
            self.keys(key)
            self.status(pattern)
        self.keys("h")
        wait_for(lambda: "keys: space pause" in self.screen(), "the keys line")
        self.keys("q")
        self.finished(0)

    def test_after_a_seek_the_device_gets_what_render_writes_from_there(self):
        self.start(DAYBREAK, "--loops", "0")
        self.reach(30)  # a few seconds in
        self.keys("Space")
        step = int(self.status(r"step (\d+) of .*\(paused\)$").group(1))
        # Paused, the stream holds still; a step back and two forward go to the start of the
        # next step.
        for key, shown in (("Left", step - 1), ("Right", step), ("Right", step + 1)):
            self.keys(key)
            self.status(r"step %d of .*\(paused\)$" % shown)
        self.keys("Space")
        self.reach(step + 40)
        self.keys("q")
        self.finished(0)
        out = self.path("render.wav")
        self.assertEqual(rkv("render", DAYBREAK, "-o", out, "--loops", "0").returncode, 0)
        rendered = read(out)[44:]
        played = without_leading_silence(read(self.path("capture.raw")))
        lead = len(rendered) - len(without_leading_silence(rendered))
        # Up to the pause, the render from the start; then silence; then the render from the
        # frame of the step the seek went to (tick k falls on frame floor(k * d * 441 / 20)).
        paused_at = next(i for i in range(0, len(played), 4)
                         if played[i:i + 4] != rendered[lead + i:lead + i + 4])
        target = step * STEP_MS * 441 // 20 * 4
        self.assertGreater(paused_at, 4 * 22050)
        self.assertLess(lead + paused_at, target)
        after = without_leading_silence(played[paused_at:])
        expected = without_leading_silence(rendered[target:])
        self.assertGreater(len(after), 4 * 22050 * 2)
        self.assertEqual(after, expected[:len(after)])

    def test_seeks_stop_on_the_last_step(self):
        self.start(DAYBREAK, "--loops", "0")
        self.status(r"^\[1/1\] playing")
        self.keys("Space")
        for _ in range(3):  # a loop pass forward each, past the end
            self.keys("Up")
        self.status(r"step 288 of 288 .*\(paused\)$")
        self.keys("q")
        self.finished(0)

    def test_every_way_out_gives_the_terminal_back(self):
        for how, code in [("q", 0), ("C-c", 130), ("SIGTERM", 143), ("end", 0)]:
            with self.subTest(how=how):
                self.start(ORBIT, "--loops", "0", delay="0" if how == "end" else "10")
                if how != "end":
                    self.status(r"^\[1/1\] playing")
                if how == "SIGTERM":
                    shell = subprocess.run(self.tmux + ["display", "-p", "#{pane_pid}"],
                                           capture_output=True, text=True).stdout.strip()
                    child = read("/proc/%s/task/%s/children" % (shell, shell), "r").split()
                    os.kill(int(child[0]), signal.SIGTERM)
                elif how != "end":
                    self.keys(how)
                self.finished(code)
                subprocess.run(self.tmux + ["kill-server"], capture_output=True)


class Playlist(Case):
    def test_the_device_gets_each_song_as_render_writes_it(self):
        env = {"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": self.path("capture.raw"),
               "SDL_DISKAUDIODELAY": "0"}
        missing = self.path("missing.rkv")
        # (play arguments, the options both commands get, exit code, songs played in order)
        for args, options, code, order in [
                ([DAYBREAK, missing, ORBIT, LANTERN], [], 2, [DAYBREAK, ORBIT, LANTERN]),
                (["--shuffle", *DEMOS], [], 0, None),
                ([], ["--loops", "0"], 0, [DAYBREAK]),  # no song: the built-in demo, daybreak
                ([ORBIT], ["--loops", "1"], 0, [ORBIT])]:
            renders = {}
            for song in order or DEMOS:
                out = self.path(os.path.basename(song) + ".wav")
                self.assertEqual(rkv("render", song, "-o", out, *options).returncode, 0)
                renders[song] = without_leading_silence(read(out)[44:])
                self.assertGreater(len(renders[song]), 22050 * 4)
            r = rkv("play", *args, *options, env=env)
            self.assertEqual(r.returncode, code, r.stderr)
            self.assertEqual(r.stderr.decode(), "rkv: %s: cannot open: No such file or directory\n"
                             % missing if code else "")
            played = read(self.path("capture.raw"))
            # Each song whole, in turn, with nothing but silence before, between and after.
            found = sorted((played.find(renders[s]), s) for s in order or DEMOS)
            if order:
                self.assertEqual([s for _, s in found], order)
            at = 0
            for start, song in found:
                self.assertGreaterEqual(start, at, song)
                self.assertEqual(played[at:start].count(0), start - at)
                at = start + len(renders[song])
            self.assertEqual(played[at:].count(0), len(played) - at)


if __name__ == "__main__":
    unittest.main(verbosity=2)  # a group by name: play_keys_test.py Keys
