#!/usr/bin/python3
"""Writes the large benchmark songs.

    big_songs.py load OUT.rkv   72 voices of 14909440 samples: all but 256 KiB of the 1 GiB
                                bank, room left for the drums; notes as in the engine benchmark
    big_songs.py info OUT.rkv   a 64 MB song: four tracks of 4 Mi steps, every word stored with
                                all 24 notes and a pan code
"""

import struct
import sys


def header(note_length, steps):
    head = bytearray(1048)
    head[0:3] = b"RKV"
    struct.pack_into("<IiiI", head, 8, 120, 8, 32, steps)
    for k in range(3):
        base = 24 + 340 * k
        head[base] = 2 + k
        struct.pack_into("<Ii", head, base + 4, note_length, 260)
        for i in range(256):
            head[base + 20 + i] = ((i * (5 + 2 * k)) % 256 - 128) & 0xFF
        for i in range(64):
            head[base + 276 + i] = ((i * (k + 1) * 3) % 200 - 100) & 0xFF
    struct.pack_into("<i", head, 1044, 300)
    return bytes(head)


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
