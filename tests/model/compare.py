#!/usr/bin/python3
"""Renders every corpus song with `rkv render` and with the reference model and
compares the two, sample by sample.

    compare.py --rkv PATH --resources DIR --corpus DIR --work DIR

A song passes when both refuse it, or when both render it and rkv's WAV holds
round(S*22050) frames of 16-bit stereo, every sample within 2 LSB of the model's.
How a refusal is reported (one line, no output file) is rkv's own test's business.
"""

import argparse
import json
import os
import struct
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rkv_model as model  # noqa: E402

TOLERANCE_LSB = 2
TIMEOUT_S = 120


def wav_frames(path):
    """(frames, 2) int16 array from the data chunk of a 16-bit stereo WAV."""
    data, off = open(path, "rb").read(), 12
    while off + 8 <= len(data):
        size = struct.unpack_from("<I", data, off + 4)[0]
        if data[off:off + 4] == b"data":
            samples = data[off + 8:off + 8 + size - size % 4]
            return np.frombuffer(samples, dtype="<i2").reshape(-1, 2)
        off += 8 + size + (size & 1)
    raise ValueError("no data chunk")


def check_song(rkv, song_path, seconds, drums, work):
    """None when rkv and the model agree, else a description of the mismatch."""
    frames = model.frames_for_seconds(seconds)
    try:
        want = model.render(open(song_path, "rb").read(), drums, frames)
    except model.SongRefused as e:
        want, refusal = None, str(e)
    out = os.path.join(work, os.path.basename(song_path) + ".wav")
    cmd = [rkv, "render", song_path, "-o", out, "--seconds", repr(seconds)]
    try:
        r = subprocess.run(cmd, capture_output=True, text=True, timeout=TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return "rkv did not finish within %d s: %s" % (TIMEOUT_S, " ".join(cmd))
    if want is None:
        return "rkv rendered it, the model refuses it: %s" % refusal if r.returncode == 0 else None
    if r.returncode != 0:
        return "rkv failed (exit %d), the model renders it: %s" % (r.returncode, r.stderr.strip())
    try:
        got = wav_frames(out)
    except (OSError, ValueError) as e:
        return "bad WAV from rkv: %s" % e
    if got.shape[0] != frames:
        return "rkv wrote %d frames, want round(%r*22050) = %d" % (got.shape[0], seconds, frames)
    diff = np.abs(got.astype(np.int32) - want.astype(np.int32)).max(axis=1)
    bad = np.nonzero(diff > TOLERANCE_LSB)[0]
    if len(bad) == 0:
        os.remove(out)
        return None
    return "%d frames differ by more than %d LSB (max %d); first at frame %d: rkv %s, model %s" % (
        len(bad), TOLERANCE_LSB, diff.max(), bad[0], got[bad[0]], want[bad[0]])


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("--rkv", "--resources", "--corpus", "--work"):
        p.add_argument(name, required=True)
    a = p.parse_args()

    drums = model.load_drum_files(a.resources)
    manifest = json.load(open(os.path.join(a.corpus, "manifest.json")))
    if not manifest or None in drums.values():
        print("no songs in %s, or drum sounds missing in %s" % (a.corpus, a.resources))
        return 1
    os.makedirs(a.work, exist_ok=True)
    failed = 0
    for name in sorted(manifest):
        seconds = float(manifest[name].get("seconds", 2.0))
        problem = check_song(os.path.abspath(a.rkv), os.path.join(os.path.abspath(a.corpus), name),
                             seconds, drums, a.work)
        failed += problem is not None
        print("PASS %s" % name if problem is None else "FAIL %s (%s s; %s)\n    %s" % (
            name, seconds, manifest[name].get("note", ""), problem))
    print("%d passed, %d failed" % (len(manifest) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
