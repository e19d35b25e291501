#!/usr/bin/python3
"""Writes a four-channel tracker module to compare our renderer with module players.

    make_module.py OUT.mod [--seconds S]

Every channel plays a synthesised looping instrument on every row, with notes and pans
changing, so the players mix four voices all the time for about S seconds (default 600),
then the module ends. The sounds are generated here: a saw, a square, a soft sine and noise.
"""

import argparse
import math
import struct

ROWS = 64
SPEED = 6  # ticks per row at 125 BPM: 0.12 s per row
ROW_SECONDS = SPEED * 2.5 / 125
SAMPLE_WORDS = 2048  # 4096 bytes per instrument, looped whole
PERIODS = [856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,  # octave 1
           428, 404, 381, 360, 340, 320, 302, 285, 269, 254, 240, 226,  # octave 2
           214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113]  # octave 3


def sounds():
    n = 2 * SAMPLE_WORDS
    saw = [int(-100 + 200 * ((k * 8) % n) / n) for k in range(n)]
    square = [90 if (k * 8) % n < n // 2 else -90 for k in range(n)]
    sine = [int(round(110 * math.sin(2 * math.pi * 8 * k / n))) for k in range(n)]
    noise, x = [], 1
    for _ in range(n):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        noise.append(((x >> 16) & 0xFF) - 128)
    return [saw, square, sine, noise]


def cell(sample, period, effect=0, param=0):
    return bytes([(sample & 0xF0) | (period >> 8), period & 0xFF,
                  ((sample & 0x0F) << 4) | effect, param])


def pattern(p):
    rows = []
    for r in range(ROWS):
        row = b""
        for ch in range(4):
            note = (p * 7 + r * (ch + 3) + ch * 5) % len(PERIODS)
            # Volume and pan-like variety through the volume effect on every other row.
            effect, param = (0xC, 32 + (r * 3 + ch * 11) % 33) if r % 2 else (0, 0)
            row += cell(ch + 1, PERIODS[note], effect, param)
        rows.append(row)
    if p == 0:  # set speed on the first row
        rows[0] = rows[0][:12] + cell(4, PERIODS[5], 0xF, SPEED)
    return b"".join(rows)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("out")
    ap.add_argument("--seconds", type=float, default=600.0)
    a = ap.parse_args()
    positions = max(1, min(128, round(a.seconds / (ROWS * ROW_SECONDS))))
    patterns = min(positions, 16)

    head = b"rkv bench".ljust(20, b"\0")
    for i in range(31):
        if i < 4:
            name = ("synth %d" % (i + 1)).encode().ljust(22, b"\0")
            head += name + struct.pack(">HBBHH", SAMPLE_WORDS, 0, 48, 0, SAMPLE_WORDS)
        else:
            head += b"\0" * 22 + struct.pack(">HBBHH", 0, 0, 0, 0, 1)
    order = bytes(p % patterns for p in range(positions)).ljust(128, b"\0")
    head += bytes([positions, 127]) + order + b"M.K."
    body = b"".join(pattern(p) for p in range(patterns))
    samples = b"".join(bytes(v & 0xFF for v in s) for s in sounds())
    with open(a.out, "wb") as f:
        f.write(head + body + samples)


if __name__ == "__main__":
    main()
