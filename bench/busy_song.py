#!/usr/bin/python3
"""Writes the busy benchmark song: all 24 notes of the three instruments every other step with long
notes, so many voices sound at every moment, pans changing on every step, and drums.

    busy_song.py OUT.rkv
"""
import struct, sys
steps = 32
head = bytearray(1048)
head[0:3] = b"RKV"
struct.pack_into("<IiiI", head, 8, 120, 8, 32, steps)
for k in range(3):
    base = 24 + 340 * k
    head[base] = 2 + k
    struct.pack_into("<Ii", head, base + 4, 11025, 260)
    for i in range(256):
        head[base + 20 + i] = ((i * 7) % 256 - 128) & 0xFF
    for i in range(64):
        head[base + 276 + i] = (127 - i) & 0xFF
struct.pack_into("<i", head, 1044, 300)
words = []
for t in range(3):
    for i in range(steps):
        notes = 0x00FFFFFF if i % 2 else (0x111 << t)
        words.append(notes | ((i % 8) << 24))
words += [0x5015 if i % 4 == 0 else 0x0C00 for i in range(steps)]
open(sys.argv[1], "wb").write(bytes(head) + struct.pack("<%dI" % len(words), *words))
