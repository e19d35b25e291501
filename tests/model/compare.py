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
DEFAULT_SECONDS = 2.0
RKV_TIMEOUT_S = 120


class WavError(Exception):
    pass


def read_wav(path):
    """(frames, 2) int16 array from a 16-bit stereo 22050 Hz PCM WAV, checking the header."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 12 or data[0:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise WavError("not a RIFF WAVE file")
    riff_size = struct.unpack_from("<I", data, 4)[0]
    if riff_size + 8 != len(data):
        raise WavError("RIFF size %d does not match file length %d" % (riff_size, len(data)))
    fmt = None
    pcm = None
    off = 12
    while off + 8 <= len(data):
        cid = data[off:off + 4]
        size = struct.unpack_from("<I", data, off + 4)[0]
        body = data[off + 8:off + 8 + size]
        if len(body) != size:
            raise WavError("chunk %r runs past the end of the file" % cid)
        if cid == b"fmt ":
            if size < 16:
                raise WavError("fmt chunk too short (%d)" % size)
            fmt = struct.unpack_from("<HHIIHH", body, 0)
        elif cid == b"data":
            pcm = body
        off += 8 + size + (size & 1)
    if fmt is None or pcm is None:
        raise WavError("missing fmt or data chunk")
    tag, channels, rate, byte_rate, align, bits = fmt
    want = (1, 2, 22050, 22050 * 4, 4, 16)
    if (tag, channels, rate, byte_rate, align, bits) != want:
        raise WavError("format (tag, channels, rate, byte rate, align, bits) = %s, want %s"
                       % ((tag, channels, rate, byte_rate, align, bits), want))
    if len(pcm) % 4:
        raise WavError("data size %d is not a whole number of frames" % len(pcm))
    return np.frombuffer(pcm, dtype="<i2").reshape(-1, 2)


def describe_difference(got, want, limit=5):
    diff = np.abs(got.astype(np.int32) - want.astype(np.int32))
    bad = np.nonzero(diff.max(axis=1) > TOLERANCE_LSB)[0]
    if len(bad) == 0:
        return None
    first = int(bad[0])
    lines = ["%d frames differ by more than %d LSB (max %d); first at frame %d (%.4f s)"
             % (len(bad), TOLERANCE_LSB, int(diff.max()), first, first / model.RATE)]
    for f in bad[:limit]:
        f = int(f)
        lines.append("    frame %d: rkv L=%d R=%d, model L=%d R=%d"
                     % (f, got[f, 0], got[f, 1], want[f, 0], want[f, 1]))
    return "\n".join(lines)


def check_song(rkv, song_path, seconds, drums, work):
    """None when rkv and the model agree, else a description of the mismatch."""
    frames = model.frames_for_seconds(seconds)
    with open(song_path, "rb") as f:
        song_bytes = f.read()
    try:
        want = model.render(song_bytes, drums, frames)
        refusal = None
    except model.SongRefused as e:
        want, refusal = None, str(e)

    out = os.path.join(work, os.path.basename(song_path) + ".wav")
    if os.path.exists(out):
        os.remove(out)
    cmd = [rkv, "render", song_path, "-o", out, "--seconds", repr(seconds)]
    try:
        r = subprocess.run(cmd, capture_output=True, text=True, timeout=RKV_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return "rkv did not finish within %d s: %s" % (RKV_TIMEOUT_S, " ".join(cmd))

    if refusal is not None:
        problems = []
        if r.returncode == 0:
            problems.append("rkv rendered it (exit 0), the model refuses it: %s" % refusal)
        err_lines = r.stderr.strip("\n").split("\n") if r.stderr.strip() else []
        if len(err_lines) != 1:
            problems.append("stderr should be one line, got %d: %r" % (len(err_lines), r.stderr))
        elif song_path not in err_lines[0] and os.path.basename(song_path) not in err_lines[0]:
            problems.append("stderr does not name the file: %r" % err_lines[0])
        if os.path.exists(out):
            problems.append("an output file was left behind: %s" % out)
        return "; ".join(problems) or None

    if r.returncode != 0:
        return "rkv failed (exit %d), the model renders it; stderr: %s" % (r.returncode,
                                                                           r.stderr.strip())
    try:
        got = read_wav(out)
    except (OSError, WavError) as e:
        return "bad WAV from rkv: %s" % e
    if got.shape[0] != frames:
        return "rkv wrote %d frames, want round(%r*22050) = %d" % (got.shape[0], seconds, frames)
    d = describe_difference(got, want)
    if d is None:
        os.remove(out)
    return d


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--rkv", required=True)
    p.add_argument("--resources", required=True)
    p.add_argument("--corpus", required=True)
    p.add_argument("--work", help="where rkv writes (kept on failure); default: a temp dir")
    p.add_argument("--only", nargs="*", help="song file names to check")
    a = p.parse_args()

    drums = model.load_drum_files(a.resources)
    missing = [n for n, d in drums.items() if d is None]
    if missing:
        print("missing drum sounds in %s: %s" % (a.resources, ", ".join(missing)))
        print("0 passed, 1 failed")
        return 1

    manifest_path = os.path.join(a.corpus, "manifest.json")
    manifest = {}
    if os.path.exists(manifest_path):
        with open(manifest_path) as f:
            manifest = json.load(f)
    names = sorted(n for n in os.listdir(a.corpus) if n.endswith(".rkv"))
    if a.only:
        names = [n for n in names if n in a.only or n[:-4] in a.only]
    if not names:
        print("no songs in %s" % a.corpus)
        print("0 passed, 1 failed")
        return 1

    work = a.work or tempfile.mkdtemp(prefix="rkv-compare-")
    os.makedirs(work, exist_ok=True)
    passed = failed = 0
    for name in names:
        info = manifest.get(name, {})
        seconds = float(info.get("seconds", DEFAULT_SECONDS))
        problem = check_song(os.path.abspath(a.rkv), os.path.join(os.path.abspath(a.corpus), name),
                             seconds, drums, work)
        if problem is None:
            passed += 1
            print("PASS %s" % name)
        else:
            failed += 1
            print("FAIL %s (%s s; %s)\n    %s" % (name, seconds, info.get("note", ""), problem))
    if failed == 0 and not a.work:
        shutil.rmtree(work, ignore_errors=True)
    elif failed:
        print("rkv outputs of failing songs kept in %s" % work)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
