#!/usr/bin/env bash
# Measures the real player's CPU use while it idles, from /proc/PID/stat (user + system time):
# with no song, and after a song was loaded, played and stopped (the clock then keeps ticking).
# Both with no sound device (the paced silent output) and with SDL's disk driver (SDL's own audio
# thread). Fails above 1 % of one core.
# Usage: idle_cpu.sh PLAYER E2E_TOOL X11_CLOSE   (IDLE_SECONDS overrides the 10 s window)
set -uo pipefail

PLAYER=$(readlink -f "$1")
TOOL=$(readlink -f "$2")
X11_CLOSE=$(readlink -f "$3")
SECONDS_IDLE=${IDLE_SECONDS:-10}
LIMIT_PERCENT=1

source "$(dirname "$0")/x_session.sh"
require_commands Xvfb xdotool
HZ=$(getconf CLK_TCK)

start_x
SONGS="$WORK/songs"
mkdir -p "$SONGS"
"$TOOL" song "$SONGS/song.rkv" busy || fail "cannot write the test song"

failed=0
# Prints and checks the CPU share of the player over the next SECONDS_IDLE seconds.
measure() {
    local label=$1 t0 c0 n0 t1 c1 n1
    t0=$(date +%s.%N)
    c0=$(cpu_ticks "$APP_PID")
    n0=$(cpu_nanoseconds "$APP_PID")
    sleep "$SECONDS_IDLE"
    t1=$(date +%s.%N)
    c1=$(cpu_ticks "$APP_PID")
    n1=$(cpu_nanoseconds "$APP_PID")
    local verdict
    verdict=$(awk -v c=$((c1 - c0)) -v n=$((n1 - n0)) -v hz="$HZ" -v t0="$t0" -v t1="$t1" \
        -v limit="$LIMIT_PERCENT" \
        'BEGIN { p = 100 * c / hz / (t1 - t0); q = 100 * n / 1e9 / (t1 - t0);
                 printf "%.2f %% of a core (%d ticks of 1/%d s in %.1f s; scheduler: %.3f %%) %s",
                        p, c, hz, t1 - t0, q, (p < limit ? "ok" : "TOO HIGH") }')
    echo "$label: $verdict"
    case $verdict in *"TOO HIGH") failed=1 ;; esac
}

for driver in no-such-driver disk; do
    what="no sound device"
    [ "$driver" = disk ] && what="SDL disk driver"
    start_player "$SONGS" SDL_AUDIODRIVER=$driver SDL_DISKAUDIOFILE="$WORK/capture.raw"
    sleep 1 # start-up settles
    measure "$what, no song"
    load_through_dialog "$SONGS/song.rkv"
    wait_window_gone '^ファイルの読み込み$' "$DIALOG" || fail "the dialog stayed open"
    click 70 66 # play
    sleep 1
    click 120 66 # stop
    sleep 2      # let the last notes end
    measure "$what, song loaded, stopped"
    close_player || fail "the player did not exit cleanly"
    rm -f "$WORK/capture.raw"
done

[ "$failed" = 0 ] || { echo "FAIL: idle CPU above $LIMIT_PERCENT %"; exit 1; }
echo "PASS"
