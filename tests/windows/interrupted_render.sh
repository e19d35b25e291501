#!/usr/bin/env bash
# Ctrl-C during `rkv.exe render` under Wine: the process ends with 128 + SIGINT, nothing of the
# unfinished file stays in the folder, and the file it was to replace is untouched.
# Usage: interrupted_render.sh RKV_EXE SONG
set -uo pipefail
exe=$1 song=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'old' >"$work/out.wav"
# Half a day of sound: far longer than the test waits. timeout passes SIGINT on to Wine, which
# takes it as the console's Ctrl-C.
timeout -s INT -k 60 --preserve-status 600 wine "$exe" render "$(winepath -w "$song")" \
    --seconds 43200 -o "$(winepath -w "$work/out.wav")" >/dev/null 2>&1 &
runner=$!
for _ in $(seq 600); do
    [ "$(ls "$work" | wc -l)" -gt 1 ] && break
    sleep 0.05
done
[ "$(ls "$work" | wc -l)" -gt 1 ] || { echo "FAIL: no file being written"; exit 1; }
kill -INT "$runner"
wait "$runner"
code=$?
left=$(ls "$work")
[ "$code" = 130 ] || { echo "FAIL: exit code $code, not 130"; exit 1; }
[ "$left" = out.wav ] || { echo "FAIL: the folder holds: $left"; exit 1; }
[ "$(cat "$work/out.wav")" = old ] || { echo "FAIL: the old file was changed"; exit 1; }
echo "ok: interrupted render left nothing behind (exit code 130)"
