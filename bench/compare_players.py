#!/usr/bin/python3
"""Times `rkv render` of the busy song beside openmpt123 and xmp rendering a comparable
four-channel module (make_module.py) for as long, whole processes, runs interleaved.

    compare_players.py PATH/TO/rkv [--rate HZ] [--runs N] [--seconds S]

Each round runs the three once, in turn; the figure is the median over the rounds of the
process's CPU time (user + system, from wait4), with the median wall time beside it.
"""

import argparse
import os
import statistics
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def run(cmd):
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - t0
    if status != 0:
        raise SystemExit("failed (%d): %s" % (status, " ".join(cmd)))
    return usage.ru_utime + usage.ru_stime, wall


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("rkv")
    ap.add_argument("--rate", type=int, default=22050)
    ap.add_argument("--runs", type=int, default=15)
    ap.add_argument("--seconds", type=int, default=600)
    a = ap.parse_args()
    with tempfile.TemporaryDirectory() as work:
        song, module = os.path.join(work, "busy.rkv"), os.path.join(work, "busy.mod")
        subprocess.run([os.path.join(HERE, "busy_song.py"), song], check=True)
        subprocess.run([os.path.join(HERE, "make_module.py"), module,
                        "--seconds", str(a.seconds)], check=True)
        rate = [] if a.rate == 22050 else ["--rate", str(a.rate)]
        commands = {
            "rkv": [a.rkv, "render", song, "-o", os.path.join(work, "rkv.wav"),
                    "--seconds", str(a.seconds)] + rate,
            "openmpt123": ["openmpt123", "--quiet", "--render", "--force", "--no-float",
                           "--samplerate", str(a.rate), "--end-time", str(a.seconds), module],
            "xmp": ["xmp", "--quiet", "--nocmd", "-f", str(a.rate), "-t", str(a.seconds),
                    "-o", os.path.join(work, "xmp.wav"), module],
        }
        times = {name: [] for name in commands}
        for name, cmd in commands.items():  # one warm-up each
            run(cmd)
        for _ in range(a.runs):
            for name, cmd in commands.items():
                times[name].append(run(cmd))
    cpu = {n: statistics.median(c for c, _ in t) for n, t in times.items()}
    print("%d s at %d Hz, medians of %d interleaved rounds:" % (a.seconds, a.rate, a.runs))
    for name, t in times.items():
        print("  %-11s %7.1f ms CPU  %7.1f ms wall" % (
            name, cpu[name] * 1000, statistics.median(w for _, w in t) * 1000))
    for other in ("openmpt123", "xmp"):
        print("  rkv uses %.1fx less CPU than %s" % (cpu[other] / cpu["rkv"], other))


if __name__ == "__main__":
    main()
