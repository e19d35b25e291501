#!/usr/bin/python3
"""Renders every corpus song with `rkv render` and with the reference model and
compares the two, sample by sample.

    compare.py --rkv PATH --resources DIR --corpus DIR [--work DIR] [--only NAME ...]

A song passes when both agree that it is refused (rkv: non-zero exit, one line
on stderr naming the file, no output file left behind), or when both render it
and the WAV written by rkv has round(S*22050) frames of 16-bit stereo 22050 Hz
whose every sample lies within 2 LSB of the model's.
"""

import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rkv_model as model  # noqa: E402

TOLERANCE_LSB = 2
TIMEOUT_S = 120


def read_wav(path):
    """(frames, 2) int16 array from a 16-bit stereo 22050 Hz PCM WAV, checking the header."""
    data = open(path, "rb").read()
    if data[0:4] != b"RIFF" or data[8:12] != b"WAVE" or \
            struct.unpack_from("<I", data, 4)[0] + 8 != len(data):
        raise ValueError("not a RIFF WAVE file of its stated size")
    chunks, off = {}, 12
    while off + 8 <= len(data):
        size = struct.unpack_from("<I", data, off + 4)[0]
        chunks[data[off:off + 4]] = data[off + 8:off + 8 + size]
        off += 8 + size + (size & 1)
    if off != len(data) or b"fmt " not in chunks or b"data" not in chunks:
        raise ValueError("chunks run past the end, or no fmt or data chunk")
    fmt = struct.unpack_from("<HHIIHH", chunks[b"fmt "])
    if fmt != (1, 2, 22050, 22050 * 4, 4, 16) or len(chunks[b"data"]) % 4:
        raise ValueError("format %s, data size %d" % (fmt, len(chunks[b"data"])))
    return np.frombuffer(chunks[b"data"], dtype="<i2").reshape(-1, 2)


def check_song(rkv, song_path, seconds, drums, work):
    """None when rkv and the model agree, else a description of the mismatch."""
    frames = model.frames_for_seconds(seconds)
    song_bytes = open(song_path, "rb").read()
    try:
        want, refusal = model.render(song_bytes, drums, frames), None
    except model.SongRefused as e:
        want, refusal = None, str(e)
    out = os.path.join(work, os.path.basename(song_path) + ".wav")
    if os.path.exists(out):
        os.remove(out)
    cmd = [rkv, "render", song_path, "-o", out, "--seconds", repr(seconds)]
    try:
        r = subprocess.run(cmd, capture_output=True, text=True, timeout=TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return "rkv did not finish within %d s: %s" % (TIMEOUT_S, " ".join(cmd))
    if refusal is not None:
        err = r.stderr.strip("\n").split("\n") if r.stderr.strip() else []
        problems = [text for bad, text in [
            (r.returncode == 0, "rkv rendered it, the model refuses it: %s" % refusal),
            (len(err) != 1, "stderr should be one line: %r" % r.stderr),
            (len(err) == 1 and os.path.basename(song_path) not in err[0],
             "stderr does not name the file: %r" % err[:1]),
            (os.path.exists(out), "an output file was left behind: %s" % out)] if bad]
        return "; ".join(problems) or None
    if r.returncode != 0:
        return "rkv failed (exit %d), the model renders it: %s" % (r.returncode, r.stderr.strip())
    try:
        got = read_wav(out)
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
    for name in ("--rkv", "--resources", "--corpus"):
        p.add_argument(name, required=True)
    p.add_argument("--work", help="where rkv writes (kept on failure); default: a temp dir")
    p.add_argument("--only", nargs="*", help="song file names to check")
    a = p.parse_args()

    drums = model.load_drum_files(a.resources)
    manifest_path = os.path.join(a.corpus, "manifest.json")
    manifest = json.load(open(manifest_path)) if os.path.exists(manifest_path) else {}
    names = sorted(n for n in os.listdir(a.corpus) if n.endswith(".rkv") and
                   (not a.only or n in a.only or n[:-4] in a.only))
    if not names or None in drums.values():
        print("no songs in %s, or drum sounds missing in %s" % (a.corpus, a.resources))
        return 1
    work = a.work or tempfile.mkdtemp(prefix="rkv-compare-")
    os.makedirs(work, exist_ok=True)
    failed = 0
    for name in names:
        info = manifest.get(name, {})
        seconds = float(info.get("seconds", 2.0))
        problem = check_song(os.path.abspath(a.rkv), os.path.join(os.path.abspath(a.corpus), name),
                             seconds, drums, work)
        failed += problem is not None
        print("PASS %s" % name if problem is None else
              "FAIL %s (%s s; %s)\n    %s" % (name, seconds, info.get("note", ""), problem))
    if failed == 0 and not a.work:
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (len(names) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
