#!/usr/bin/python3
"""Writes the large benchmark songs.

    big_songs.py load OUT.rkv   72 voices of 14909440 samples: all but 256 KiB of the 1 GiB
                                bank, room left for the drums; notes as in the engine benchmark
    big_songs.py info OUT.rkv   a 64 MB song: four tracks of 4 Mi steps, every word stored with
                                all 24 notes and a pan code
"""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import busy_song  # noqa: E402


def header(note_length, steps):
    return busy_song.header(steps, note_length, lambda k, i: (i * (5 + 2 * k)) % 256 - 128,
                            lambda k, i: (i * (k + 1) * 3) % 200 - 100)


def main():
    kind, out = sys.argv[1], sys.argv[2]
    with open(out, "wb") as f:
        if kind == "load":
            steps = 32
            f.write(header(14909440, steps))
            for t in range(4):
                f.write(struct.pack("<%dI" % steps, *[0x00FFFFFF if i % 2 else 0 for i in range(steps)]))
        else:
            steps = 4 << 20
            f.write(header(11025, steps))
            word = struct.pack("<I", 0x03FFFFFF)
            for t in range(4):
                f.write(word * steps)


if __name__ == "__main__":
    main()
