#!/usr/bin/python3
"""Checks that `rkv render` writes the same samples, bit for bit, as when the table was made.

    render_checksums.py --rkv PATH --demo DIR --corpus DIR --table FILE [--vectors avx2|baseline]
                        [--update]

Every demo song (whole) and every model-corpus song (its manifest's seconds) is rendered as
16-bit and as float WAV; the SHA-256 of each file's data chunk is compared with the table.
Songs that rkv refuses are recorded as refused. --update rewrites the table. --vectors has the
mixer use a narrower vector path than the CPU's widest (exit 77, skipped, if the CPU lacks it).
"""

import argparse
import concurrent.futures
import hashlib
import json
import os
import struct
import subprocess
import sys
import tempfile


def data_digest(path):
    with open(path, "rb") as f:
        data = f.read()
    off = 12
    while off + 8 <= len(data):
        cid, size = data[off:off + 4], struct.unpack_from("<I", data, off + 4)[0]
        if cid == b"data":
            return hashlib.sha256(data[off + 8:off + 8 + size]).hexdigest()
        off += 8 + size + (size & 1)
    return "no-data-chunk"


def render(rkv, song, seconds, float_samples, work):
    out = os.path.join(work, os.path.basename(song) + (".f32" if float_samples else ".s16") + ".wav")
    cmd = [rkv, "render", song, "-o", out] + (["--seconds", repr(seconds)] if seconds else [])
    cmd += ["--float"] if float_samples else []
    r = subprocess.run(cmd, capture_output=True)
    if r.returncode != 0:
        return "refused"
    digest = data_digest(out)
    os.remove(out)
    return digest


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--rkv", required=True)
    p.add_argument("--demo", required=True)
    p.add_argument("--corpus", required=True)
    p.add_argument("--table", required=True)
    p.add_argument("--update", action="store_true")
    p.add_argument("--vectors", choices=["avx2", "baseline"])
    a = p.parse_args()
    if a.vectors:
        os.environ["RKV_MIXER_VECTORS"] = a.vectors
        used = subprocess.run([a.rkv, "--version"], capture_output=True, text=True).stdout
        want = {"avx2": "AVX2", "baseline": "baseline"}[a.vectors]
        if "mixer: %s\n" % want not in used:
            print("the mixer cannot use %s here: %s" % (want, used.strip().replace("\n", "; ")))
            return 77

    with open(os.path.join(a.corpus, "manifest.json")) as f:
        manifest = json.load(f)
    jobs = [(os.path.join(a.demo, n), None) for n in sorted(os.listdir(a.demo)) if n.endswith(".rkv")]
    jobs += [(os.path.join(a.corpus, n), manifest[n].get("seconds", 2.0)) for n in sorted(manifest)]
    runs = [(song, seconds, kind) for song, seconds in jobs for kind in ("s16", "f32")]
    with tempfile.TemporaryDirectory() as work, concurrent.futures.ThreadPoolExecutor(2) as pool:
        digests = list(pool.map(lambda r: render(a.rkv, r[0], r[1], r[2] == "f32", work), runs))
    lines = sorted("%s %s %s" % (os.path.basename(song), kind, digest)
                   for (song, _, kind), digest in zip(runs, digests))
    if a.update:
        with open(a.table, "w") as f:
            f.write("\n".join(lines) + "\n")
        print("wrote %d checksums to %s" % (len(lines), a.table))
        return 0
    with open(a.table) as f:
        want = f.read().split("\n")[:-1]
    bad = sorted(set(lines) ^ set(want))
    for line in bad:
        print(("now:  " if line in lines else "was:  ") + line)
    print("%d renders, %d differ" % (len(lines), len(bad) // 2 + len(bad) % 2))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
