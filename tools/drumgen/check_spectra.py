#!/usr/bin/env python3
"""Measures the generated drum sounds: where their energy sits and how they decay.

Usage: check_spectra.py DIR   (DIR holds BASS1.wav ... SYMBAL1.wav; needs numpy)

It reads each file with its own parser of the fixed 58-byte-header layout, prints the numbers,
and exits non-zero when a sound does not have the character its name promises.
"""
import struct
import sys
from pathlib import Path

import numpy as np

RATE = 22050


def read_drum(path):
    data = path.read_bytes()
    if data[0:4] != b"RIFF" or data[8:12] != b"WAVE" or data[50:54] != b"data":
        raise ValueError(f"{path}: not in the drum layout")
    (n,) = struct.unpack_from("<I", data, 54)
    return np.frombuffer(data, dtype=np.uint8, count=n, offset=58).astype(np.float64) - 128.0


def band_fraction(x, lo, hi):
    """Fraction of the signal's energy between lo and hi Hz."""
    spectrum = np.abs(np.fft.rfft(x)) ** 2
    freqs = np.fft.rfftfreq(len(x), 1.0 / RATE)
    total = spectrum[1:].sum()
    sel = (freqs >= lo) & (freqs < hi)
    return spectrum[sel].sum() / total


def centroid(x):
    spectrum = np.abs(np.fft.rfft(x)) ** 2
    freqs = np.fft.rfftfreq(len(x), 1.0 / RATE)
    return (spectrum * freqs).sum() / spectrum.sum()


def tenths_db(x):
    """RMS level of each tenth of the sound, in dB relative to the loudest tenth."""
    parts = np.array_split(x, 10)
    rms = np.array([np.sqrt(np.mean(p ** 2)) + 1e-9 for p in parts])
    return 20 * np.log10(rms / rms.max())


def ring_fraction(x, floor_db):
    """Fraction of the length until the 5 ms RMS falls for good below floor_db of its peak."""
    win = int(RATE * 0.005)
    frames = len(x) // win
    rms = np.sqrt(np.mean(x[: frames * win].reshape(frames, win) ** 2, axis=1)) + 1e-9
    db = 20 * np.log10(rms / rms.max())
    above = np.nonzero(db >= floor_db)[0]
    return (above[-1] + 1) / frames if len(above) else 0.0


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    failures = []
    for name in ["BASS1", "BASS2", "SNARE1", "HAT1", "HAT2", "SYMBAL1"]:
        x = read_drum(root / f"{name}.wav")
        low = band_fraction(x, 0, 200)
        mid = band_fraction(x, 200, 4000)
        high = band_fraction(x, 4000, RATE / 2 + 1)
        peak = np.abs(x).max()
        dc = x.mean()
        print(f"{name:8s} n={len(x):5d} peak={peak:5.1f} dc={dc:+.3f} "
              f"<200Hz={low:.3f} 200-4k={mid:.3f} >4kHz={high:.3f} "
              f"centroid={centroid(x):6.0f}Hz")
        for floor in (-20, -30):
            frac = ring_fraction(x, floor)
            print(f"         within {floor} dB of peak for {frac * 100:5.1f}% "
                  f"({frac * len(x) / RATE * 1000:5.1f} ms)")
        print("         tenths (dB): " + " ".join(f"{v:6.1f}" for v in tenths_db(x)))
        if name.startswith("BASS") and low < 0.8:
            failures.append(f"{name}: only {low:.2f} of its energy below 200 Hz")
        if name.startswith("HAT") and high < 0.8:
            failures.append(f"{name}: only {high:.2f} of its energy above 4 kHz")
        if name == "SNARE1" and not (low > 0.05 and mid > 0.2 and high > 0.1):
            failures.append(f"{name}: not broadband")
        if name == "SYMBAL1" and ring_fraction(x, -30) < 0.75:
            failures.append(f"{name}: dies away too soon")
        if name == "HAT1" and ring_fraction(x, -30) * len(x) / RATE < 0.3:
            failures.append(f"{name}: too short for an open hat")
        if name == "HAT2" and ring_fraction(x, -20) * len(x) / RATE > 0.025:
            failures.append(f"{name}: too long for a closed hat")
        if peak < 90 or peak > 127:
            failures.append(f"{name}: peak {peak}")
        if abs(dc) > 1.0:
            failures.append(f"{name}: DC offset {dc:.2f}")
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
