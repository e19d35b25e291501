#!/usr/bin/env bash
# Live sound through a private headless sound server, recorded from its null sink's monitor.
#   play     `rkv play` with the machine loaded (see busy): the recording equals `rkv render`
#            at one offset, with no gap
#   pipewire the same through PipeWire's PulseAudio layer (`make test-pipewire`, not in CTest)
#   desktop  the same for the desktop player under Xvfb, played about 20 s
#   idle     the desktop player idle (no song; a song stopped) costs at most 0.1 % of a core and
#            20 wakeups a second, and has no stream open on the server
#   restart  the server killed during play: `rkv play` says so in one line and exits 5; the
#            desktop player keeps running and plays again once the server is back
# Usage: live_sound.sh MODE PLAYER E2E_TOOL X11_CLOSE RKV
set -uo pipefail

MODE=$1
PLAYER=$(readlink -f "$2")
TOOL=$(readlink -f "$3")
X11_CLOSE=$(readlink -f "$4")
RKV=$(readlink -f "$5")
SECONDS_PLAYED=20

source "$(dirname "$0")/../app/x_session.sh"
source "$(dirname "$0")/pulse_server.sh"
require_commands pulseaudio pactl parec Xvfb xdotool
COMPARE="/usr/bin/python3 $(dirname "$(readlink -f "$0")")/compare_recording.py"
# The players run as a user without real-time rights would: as root, SDL would lift its audio
# thread to nice -20, and the outcome would then depend on whether the machine grants that. So
# run, a queue of one callback buffer ran dry under the load below in 2 of 3 runs; ours must not.
AS_USER=()
[ "$(id -u)" = 0 ] && setpriv --bounding-set=-sys_nice true 2>/dev/null &&
    AS_USER=(setpriv --bounding-set=-sys_nice)

sounding() { $COMPARE "$1" - >/dev/null 2>&1; } # some sound recorded

# Wakeups and CPU share of the player over 5 s: at most 20 wakeups/s and 0.1 % of a core.
measure_idle() {
    local t0 n0 w0 t1 n1 w1
    t0=$(date +%s.%N) n0=$(cpu_nanoseconds "$APP_PID") w0=$(wakeups $APP_PID)
    sleep 5
    t1=$(date +%s.%N) n1=$(cpu_nanoseconds "$APP_PID") w1=$(wakeups $APP_PID)
    awk -v n=$((n1 - n0)) -v w=$((w1 - w0)) -v t0="$t0" -v t1="$t1" -v what="$1" \
        'BEGIN { t = t1 - t0; c = 100 * n / 1e9 / t; r = w / t;
                 printf "%s: %.3f %% of a core, %.1f wakeups/s\n", what, c, r; exit !(c <= 0.1 && r <= 20) }' ||
        fail "$1: the idle player costs too much"
}

song() {
    mkdir -p "$WORK/songs"
    "$TOOL" song "$WORK/songs/song.rkv" busy || fail "cannot write the test song"
    "$RKV" render "$WORK/songs/song.rkv" -o "$WORK/render.wav" "$@" || fail "render failed"
}

desktop_playing() { # the player started, the song loaded and played until the server has a stream
    start_ready_player "${AS_USER[@]}"
    load_through_dialog "$WORK/songs/song.rkv"
    click 70 66 # play
    wait_until 10 streams 1 || fail "play opened no stream on the server"
}

if [ "$MODE" = pipewire ]; then
    require_commands pipewire pipewire-pulse wireplumber dbus-daemon
    start_pipewire
else
    start_pulse
fi
case $MODE in
play | pipewire)
    # 16 steps of 120 ms, then 13 repeats of the 12 looped steps: 20.6 s.
    song --loops 13
    record "$WORK/rec.raw"
    busy 30
    "${AS_USER[@]}" "$RKV" play "$WORK/songs/song.rkv" --loops 13 || fail "rkv play failed"
    end_recording "$WORK/rec.raw"
    conditions
    $COMPARE "$WORK/rec.raw" "$WORK/render.wav" 18 || fail "the recording differs from the render"
    ;;
desktop)
    song --seconds 40
    record "$WORK/rec.raw"
    busy 40
    desktop_playing
    played=$(($(stat -c %s "$WORK/rec.raw") + SECONDS_PLAYED * 88200))
    wait_until 40 size_at_least "$WORK/rec.raw" $played || fail "the recorder stalled"
    click 120 66 # stop
    wait_until 10 streams 0 || fail "the stream stayed open after stop"
    close_player || fail "the player did not exit cleanly"
    end_recording "$WORK/rec.raw"
    conditions
    $COMPARE "$WORK/rec.raw" "$WORK/render.wav" $((SECONDS_PLAYED - 2)) $((played / 4)) ||
        fail "the recording differs from the render"
    ;;
idle)
    song --seconds 1
    start_ready_player
    wait_until 10 streams 0 || fail "the idle player keeps a stream open"
    measure_idle "idle, no song"
    load_through_dialog "$WORK/songs/song.rkv"
    click 70 66 # play
    wait_until 10 streams 1 || fail "play opened no stream on the server"
    click 120 66 # stop: the notes ring out, then the stream closes
    wait_until 10 streams 0 || fail "the stream stayed open after stop"
    measure_idle "stopped with a song"
    close_player || fail "the player did not exit cleanly"
    ;;
restart)
    song --seconds 1
    "$RKV" play "$WORK/songs/song.rkv" 2>"$WORK/rkv.err" &
    RKV_PID=$!
    wait_until 10 streams 1 || fail "rkv play opened no stream"
    kill -KILL $PULSE_PID
    wait $PULSE_PID 2>/dev/null
    code=0
    wait_until 10 eval '! kill -0 $RKV_PID 2>/dev/null' || fail "rkv play went on without a server"
    wait $RKV_PID || code=$?
    [ "$code" = 5 ] || fail "rkv play exited $code when the server went away, not 5"
    [ "$(wc -l <"$WORK/rkv.err")" = 1 ] || fail "not one line: $(cat "$WORK/rkv.err")"
    echo "ok: rkv play: $(cat "$WORK/rkv.err"), exit code 5"

    start_pulse
    desktop_playing
    kill -KILL $PULSE_PID
    wait $PULSE_PID 2>/dev/null
    start_pulse
    record "$WORK/rec.raw"
    wait_until 15 sounding "$WORK/rec.raw" || fail "the player did not come back to the server"
    close_player || fail "the player did not exit cleanly after the server came back"
    echo "ok: the desktop player played on the new server and closed with exit code 0"
    ;;
*) fail "unknown mode $MODE" ;;
esac
echo PASS
