#!/usr/bin/env bash
# rkv.exe under Wine renders every demo song and every song of the engine's test corpus to the same
# bytes, and ends with the same exit code, as the Linux rkv. Also `-o -` (binary standard output)
# and --float. Usage: render_matches_linux.sh RKV_EXE LINUX_RKV SOURCE_DIR
set -uo pipefail
exe=$1 linux=$2 src=$3
[ -x "$linux" ] || { echo "SKIP: no Linux rkv at $linux (build the normal tree first)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$src/tests/model/make_corpus.py" "$work/corpus" >/dev/null || exit 1

failures=0 compared=0
check() { # NAME ARGS...: renders with both, compares exit codes and files
    local name=$1 a b
    shift
    "$linux" render "$@" -o "$work/linux.wav" >/dev/null 2>&1
    a=$?
    wine "$exe" render "$@" -o "$work/windows.wav" >/dev/null 2>"$work/windows.err"
    b=$?
    # rkv.exe explains every failure of its own in a line "rkv: ...". A silent failure is Wine's
    # loader not starting it (seen once in CI and once here in about 3,400 starts): shown, and
    # tried again.
    if [ "$b" != 0 ] && ! grep -q '^rkv: ' "$work/windows.err"; then
        echo "note: $name: Wine ended with $b before rkv.exe said anything; starting it again"
        cat "$work/windows.err"
        wine "$exe" render "$@" -o "$work/windows.wav" >/dev/null 2>"$work/windows.err"
        b=$?
    fi
    compared=$((compared + 1))
    if [ "$a" != "$b" ]; then
        echo "FAIL: $name: exit code $b on Windows, $a on Linux; Windows said:"
        cat "$work/windows.err"
        failures=$((failures + 1))
    elif [ "$a" = 0 ] && ! cmp -s "$work/linux.wav" "$work/windows.wav"; then
        echo "FAIL: $name: the files differ"
        failures=$((failures + 1))
    fi
    rm -f "$work/linux.wav" "$work/windows.wav"
}

# Wine is started once per render; the songs go through the corpus folder as relative paths.
cd "$work/corpus" || exit 1
# Wine's own errors are kept, so that a failure of Wine shows as one.
export WINEDEBUG=fixme-all
for song in "$src"/demo/*.rkv; do
    cp "$song" .
    check "$(basename "$song")" "$(basename "$song")"
done
check "daybreak --float" daybreak.rkv --float --seconds 3
while read -r song seconds; do
    check "$song" "$song" --seconds "$seconds"
done < <(python3 -c 'import json,sys; [print(k, v["seconds"]) for k, v in json.load(open("manifest.json")).items()]')

# Standard output in binary mode: no byte of the WAV is translated.
"$linux" render orbit.rkv --seconds 2 -o - >"$work/linux-stdout.wav" 2>/dev/null
wine "$exe" render orbit.rkv --seconds 2 -o - >"$work/windows-stdout.wav" 2>/dev/null
cmp -s "$work/linux-stdout.wav" "$work/windows-stdout.wav" ||
    { echo "FAIL: -o - differs"; failures=$((failures + 1)); }

# An existing output is replaced.
echo old >"$work/out.wav"
wine "$exe" render orbit.rkv --seconds 1 -o "$(winepath -w "$work/out.wav")" >/dev/null 2>&1 &&
    [ "$(head -c 4 "$work/out.wav")" = RIFF ] ||
    { echo "FAIL: an existing output was not replaced"; failures=$((failures + 1)); }

echo "compared $compared renders; $failures failures"
[ "$failures" = 0 ]
