#!/usr/bin/env bash
# What playing and idling cost through a real sound server (a private headless PulseAudio with
# a null sink at 22050 Hz): CPU share of one core and wakeups (context switches of all threads)
# per second, each over MEASURE_SECONDS (default 10), for
#   - the desktop player idle with no song, and stopped with a song loaded (under Xvfb);
#   - `rkv play` of a busy song, with the output latency the server reports for its stream
#     (buffer + sink latency, sampled);
#   - xmp and openmpt123 playing a four-channel module of our own at the same rate, openmpt123
#     also with a queue as short as ours;
#   - the output latency the server reports for every one of them (sampled).
# Usage: bench/live_cost.sh BUILD_DIR [SONG.rkv]   (default song: demo/orbit.rkv)
set -uo pipefail

BUILD=$(readlink -f "$1")
HERE=$(cd "$(dirname "$0")" && pwd)
SONG=$(readlink -f "${2:-$HERE/../demo/orbit.rkv}")
MEASURE=${MEASURE_SECONDS:-10}
PLAYER=$BUILD/app/tuvimoplayer2
TOOL=$BUILD/tests/app/rkv_e2e_tool
X11_CLOSE=$BUILD/tests/app/rkv_x11_close
RKV=$BUILD/cli/rkv

source "$HERE/../tests/app/x_session.sh"
source "$HERE/../tests/live/pulse_server.sh"
require_commands pulseaudio pactl Xvfb xdotool

# Prints one row: what, CPU % of a core and wakeups/s of process $2 over the next MEASURE s.
measure() {
    local t0 n0 w0 t1 n1 w1
    t0=$(date +%s.%N) n0=$(cpu_nanoseconds "$2") w0=$(wakeups "$2")
    sleep "$MEASURE"
    t1=$(date +%s.%N) n1=$(cpu_nanoseconds "$2") w1=$(wakeups "$2")
    awk -v n=$((n1 - n0)) -v w=$((w1 - w0)) -v t0="$t0" -v t1="$t1" -v what="$1" \
        'BEGIN { printf "%-30s %8.3f %% %8.1f /s\n", what, 100 * n / 1e9 / (t1 - t0), w / (t1 - t0) }'
}

# Samples the latency the server reports for the one playing stream, in microseconds.
latency_samples() {
    local i
    for i in $(seq $((MEASURE * 5))); do
        pactl list sink-inputs | awk '/Buffer Latency/ { b = $3 } /Sink Latency/ { s = $3 }
                                      END { if (b != "") print b + s }'
        sleep 0.2
    done
}

start_pulse
mkdir -p "$WORK/songs"
cp "$SONG" "$WORK/songs/song.rkv"
printf '%-30s %10s %11s\n' "" "CPU" "wakeups"

start_ready_player
wait_for 10 streams 0 || fail "the idle player keeps a stream open"
measure "player idle, no song" "$APP_PID"
load_through_dialog "$WORK/songs/song.rkv"
wait_window_gone '^ファイルの読み込み$' "$DIALOG" || fail "the dialog stayed open"
click 70 66 # play
wait_for 10 streams 1 || fail "play opened no stream"
measure "player playing the song" "$APP_PID"
click 120 66 # stop
wait_for 20 streams 0 || fail "the stream stayed open after stop"
measure "player stopped, song loaded" "$APP_PID"
close_player || fail "the player did not exit cleanly"

# One row for a playing process $2 (what $1), with the output latency the server reports for
# its stream over the same time: median / 95th percentile / highest.
measure_playing() {
    # For its first seconds a new stream reports the idle null sink's long latency, whoever plays.
    sleep 3
    latency_samples >"$WORK/latency" &
    local sampler=$!
    local row
    row=$(measure "$1" "$2")
    wait $sampler
    sort -n "$WORK/latency" | awk -v row="$row" '{ a[NR] = $1 } END {
        printf "%s   latency %.0f / %.0f / %.0f ms\n", row, a[int(NR / 2) + 1] / 1000,
               a[int(NR * 0.95) + 1] / 1000, a[NR] / 1000 }'
}

"$RKV" play "$WORK/songs/song.rkv" 2>/dev/null &
pid=$!
wait_for 10 streams 1 || fail "rkv play opened no stream"
measure_playing "rkv play $(basename "$SONG")" $pid
kill $pid
wait $pid 2>/dev/null

/usr/bin/python3 "$HERE/make_module.py" "$WORK/busy.mod" >/dev/null || fail "make_module.py failed"
peer() { # $1 = name, the rest = command line
    local name=$1
    shift
    command -v "$1" >/dev/null || { echo "$name: not installed"; return; }
    "$@" >/dev/null 2>&1 &
    local p=$!
    if wait_for 10 streams 1; then measure_playing "$name" $p; else echo "$name: no stream"; fi
    kill $p 2>/dev/null
    wait $p 2>/dev/null
    wait_for 10 streams 0
}
peer xmp xmp -d pulseaudio -f 22050 "$WORK/busy.mod"
peer openmpt123 openmpt123 --batch --quiet --samplerate 22050 "$WORK/busy.mod"
# Its default queue holds about 200 ms; with 50 ms it keeps the latency of `rkv play`.
peer "openmpt123 --buffer 50" openmpt123 --batch --quiet --samplerate 22050 --buffer 50 "$WORK/busy.mod"
