#!/usr/bin/env bash
# The full rkv.exe (linked with libsndfile and libsoxr) under Wine writes every format and rate the
# Linux rkv writes: WAV at 22050 Hz byte for byte the same, every other output decoding to samples
# within one 16-bit step of the Linux one's. Usage: full_formats_match_linux.sh RKV_EXE LINUX_RKV
# SOURCE_DIR
set -uo pipefail
exe=$1 linux=$2 src=$3
[ -x "$linux" ] || { echo "SKIP: no Linux rkv at $linux (build the normal tree first)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$src/demo/orbit.rkv" "$work/song.rkv"
cd "$work" || exit 1

failures=0
for rate in 22050 44100 48000; do
    for out in wav float.wav flac ogg; do
        args=(render song.rkv --seconds 4 --fade 1 --rate "$rate")
        [ "$out" = float.wav ] && args+=(--float)
        "$linux" "${args[@]}" -o "linux.$out" >/dev/null 2>&1 || {
            echo "FAIL: Linux rkv: $rate Hz .$out"
            failures=$((failures + 1))
            continue
        }
        wine "$exe" "${args[@]}" -o "windows.$out" >/dev/null 2>&1
        code=$?
        if [ "$code" != 0 ]; then
            echo "FAIL: rkv.exe: $rate Hz .$out: exit code $code"
            failures=$((failures + 1))
            continue
        fi
        same=no
        cmp -s "linux.$out" "windows.$out" && same=yes
        if [ "$rate" = 22050 ] && [ "${out##*.}" = wav ] && [ $same = no ]; then
            echo "FAIL: $rate Hz .$out: the files differ"
            failures=$((failures + 1))
        fi
        for f in linux windows; do sox -V1 "$f.$out" -t f32 -e floating-point "$f.raw" || exit 1; done
        sox -V1 linux.wav -t f32 -e floating-point source.raw || exit 1
        /usr/bin/python3 - "$rate Hz .$out (same bytes: $same)" "$out" linux.raw windows.raw \
            source.raw <<'PY' ||
import sys
import numpy as np
name, out = sys.argv[1:3]
a, b, src = (np.fromfile(f, "<f4").astype(np.float64) for f in sys.argv[3:])
if len(a) == 0 or len(a) != len(b) or len(a) != len(src):
    sys.exit(f"{name}: {len(a) // 2} and {len(b) // 2} frames")
lsb = np.max(np.abs(a - b)) * 32768
with np.errstate(divide="ignore"):
    snr = [10 * np.log10(np.sum(src**2) / np.sum((x - src) ** 2)) for x in (a, b)]
print(f"{name}: {len(b) // 2} frames, largest difference {lsb:g} LSB,"
      f" signal to noise {snr[0]:.2f} dB Linux, {snr[1]:.2f} dB Windows")
# Vorbis is lossy and its encoder's choices follow the C library's maths to the last bit, so the
# two encodings differ: each must be as faithful to the 16-bit render as the other.
sys.exit(not (lsb <= 1 or (out == "ogg" and abs(snr[0] - snr[1]) <= 0.5)))
PY
            failures=$((failures + 1))
    done
done
echo "$failures failures"
[ "$failures" = 0 ]
