#!/usr/bin/python3
"""Checks a recording of the sound server against an offline render of the same song.

    compare_recording.py RECORDING.raw RENDER.wav MIN_SECONDS [END_FRAME]
    compare_recording.py RECORDING.raw -          (succeeds when anything was recorded)

Both are 16-bit stereo at 22050 Hz. A monitor recording loses the first moments of any new
stream (even of the server's own file player), so the recording is aligned on one block half a
second after its first sound (the match nearest the start of the render). From there on every
frame must equal the render at that one offset, up to TAIL frames before the end of either
(a closing stream may lose what was still in flight) or before END_FRAME of the recording. A gap or a jump shows as frames that differ; the blocks of
BLOCK frames that differ are counted and reported.
"""
import sys

import numpy as np

RATE = 22050
BLOCK = 2048
TAIL = 4096


def frames(path):
    data = open(path, 'rb').read()
    if path.endswith('.wav'):
        data = data[data.index(b'data') + 8:]
    return np.frombuffer(data[:len(data) // 4 * 4], dtype='<i2').reshape(-1, 2)


def main():
    rec = frames(sys.argv[1])
    sounding = np.flatnonzero(np.any(rec != 0, axis=1))
    if len(sounding) == 0:
        sys.exit('FAIL: the recording is silent')
    if sys.argv[2] == '-':
        return
    ref, min_frames = frames(sys.argv[2]), int(float(sys.argv[3]) * RATE)
    start = int(sounding[0]) + RATE // 2
    probe = rec[start:start + BLOCK]
    expected = start - int(np.flatnonzero(np.any(ref != 0, axis=1))[0]) - RATE // 2
    found = [int(c) for c in np.flatnonzero(np.all(ref == probe[0], axis=1))
             if np.array_equal(ref[c:c + BLOCK], probe)]
    if len(probe) < BLOCK or not found:
        sys.exit(f'FAIL: the recording at frame {start} is nowhere in the render')
    offset = start - min(found, key=lambda c: abs(start - c - expected))
    end = min(len(rec), len(ref) + offset, int(sys.argv[4]) if len(sys.argv) > 4 else len(rec)) - TAIL
    if end - start < min_frames:
        sys.exit(f'FAIL: only {end - start} frames to compare')
    got, want = rec[start:end], ref[start - offset:end - offset]
    bad = np.flatnonzero(np.any(got != want, axis=1))
    blocks = len(np.unique(bad // BLOCK))
    print(f'recording: {len(rec)} frames, sound from {start - RATE // 2}, offset {offset}; '
          f'{end - start} frames compared, {len(bad)} differ in {blocks} blocks')
    if len(bad):
        sys.exit(f'FAIL: first difference at recording frame {start + int(bad[0])}')
    print('OK: equal to the render at one offset')


main()
