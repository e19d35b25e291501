#!/usr/bin/python3
"""Writes the busy benchmark song: all 24 notes of the three instruments every other step with long
notes, so many voices sound at every moment, pans changing on every step, and drums.

    busy_song.py OUT.rkv
"""
import struct
import sys


def header(steps, note_length, wave, envelope):
    """A song header: step time 120 ms, loop 8..32, instrument k at octave 2 + k and volume 260,
    wave(k, i) and envelope(k, i) its table entries, drum volume 300."""
    head = bytearray(1048)
    head[0:3] = b"RKV"
    struct.pack_into("<IiiI", head, 8, 120, 8, 32, steps)
    for k in range(3):
        base = 24 + 340 * k
        head[base] = 2 + k
        struct.pack_into("<Ii", head, base + 4, note_length, 260)
        for i in range(256):
            head[base + 20 + i] = wave(k, i) & 0xFF
        for i in range(64):
            head[base + 276 + i] = envelope(k, i) & 0xFF
    struct.pack_into("<i", head, 1044, 300)
    return bytes(head)


def main():
    steps = 32
    head = header(steps, 11025, lambda k, i: (i * 7) % 256 - 128, lambda k, i: 127 - i)
    words = []
    for t in range(3):
        for i in range(steps):
            notes = 0x00FFFFFF if i % 2 else (0x111 << t)
            words.append(notes | ((i % 8) << 24))
    words += [0x5015 if i % 4 == 0 else 0x0C00 for i in range(steps)]
    with open(sys.argv[1], "wb") as f:
        f.write(head + struct.pack("<%dI" % len(words), *words))


if __name__ == "__main__":
    main()
