#!/usr/bin/env bash
# Whole-process speed of `rkv render` on a busy song, as a multiple of real time.
# Usage: bench/render_speed.sh PATH/TO/rkv [SECONDS]
set -euo pipefail
rkv=${1:?usage: $0 PATH/TO/rkv [SECONDS]}
seconds=${2:-600}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$(dirname "$0")/busy_song.py" "$work/busy.rkv"

# Best of five runs, timed around the whole process.
/usr/bin/python3 - "$rkv" "$work" "$seconds" <<'PY'
import subprocess, sys, time
rkv, work, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
best = min(
    (lambda t0: (subprocess.run([rkv, "render", work + "/busy.rkv", "-o", work + "/out.wav",
                                 "--seconds", str(seconds)], check=True), time.perf_counter() - t0)[1])(
        time.perf_counter())
    for _ in range(5))
print(f"rkv render, busy song, {seconds:g} s of audio: best of 5 {best:.3f} s wall "
      f"= {seconds / best:.0f}x real time")
PY
