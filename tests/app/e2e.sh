#!/usr/bin/env bash
# The real player under a private X server, driven like a user would:
#  1. with no window manager and SDL's disk driver: the window, 194x82 at 32,32, shows the title
#     picture at (2, 2); a song loaded through the dialog plays, and once stopped the device
#     pauses (the capture stops growing); closing the window exits with code 0;
#  2. under a window manager (openbox), with no sound device and a song path and a Qt option on
#     its command line, which it must ignore: no maximise or resize action; a file without the
#     magic gets the "File error!" box, which Return dismisses; idle, with no song and with a
#     song stopped, it uses under 1 % of a core over IDLE_SECONDS (0, in sanitizer builds: not
#     measured); the window manager's close exits with code 0.
# Every window is found by its exact title. The played sound is compared sample for sample with
# `rkv render` by tests/live.
# Usage: e2e.sh PLAYER E2E_TOOL X11_CLOSE TITLE_BMP
set -uo pipefail

PLAYER=$(readlink -f "$1")
TOOL=$(readlink -f "$2")
X11_CLOSE=$(readlink -f "$3")
TITLE_BMP=$(readlink -f "$4")
IDLE_SECONDS=${IDLE_SECONDS:-10}

source "$(dirname "$0")/x_session.sh"
require_commands Xvfb xdotool xwd xprop openbox
CONVERT=/usr/bin/convert # /usr/local/bin/convert may be a stand-in
[ -x "$CONVERT" ] || { echo "SKIP: ImageMagick's /usr/bin/convert is missing"; exit "$SKIP"; }

# File $1 does not grow for a second.
still() {
    local size
    size=$(stat -c %s "$1")
    sleep 1
    [ "$(stat -c %s "$1")" = "$size" ]
}

# The player's CPU time over the next IDLE_SECONDS, from its threads' scheduler statistics.
measure_idle() {
    [ "$IDLE_SECONDS" -gt 0 ] || return 0
    local t0 n0 t1 n1
    t0=$(date +%s.%N) n0=$(cpu_nanoseconds "$APP_PID")
    sleep "$IDLE_SECONDS"
    t1=$(date +%s.%N) n1=$(cpu_nanoseconds "$APP_PID")
    awk -v n=$((n1 - n0)) -v t0="$t0" -v t1="$t1" -v what="$1" \
        'BEGIN { c = 100 * n / 1e9 / (t1 - t0); printf "%s: %.3f %% of a core\n", what, c
                 exit !(c < 1) }' ||
        fail "$1: the idle player uses 1 % of a core or more"
}

start_x
SONGS="$WORK/songs"
mkdir -p "$SONGS"
"$TOOL" song "$SONGS/song.rkv" || fail "cannot write the test song"
{ printf r; tail -c +2 "$SONGS/song.rkv"; } >"$SONGS/bad.rkv" # a good song but for the magic

# --- 1: no window manager ---------------------------------------------------------------------
start_player "$SONGS" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$WORK/capture.raw"
# The device opens once the window is up; a click before then would load a song with no voices.
wait_until 30 test -e "$WORK/capture.raw" || fail "the player opened no sound device"
geometry=$(xdotool getwindowgeometry "$WID")
echo "$geometry" | grep -q 'Geometry: 194x82' || fail "window geometry: $geometry"
echo "$geometry" | grep -q 'Position: 32,32' || fail "window position: $geometry"
xwd -id "$WID" -silent | "$CONVERT" xwd:- -crop 192x80+2+2 +repage -depth 8 rgb:"$WORK/shown.rgb"
"$CONVERT" "$TITLE_BMP" -depth 8 rgb:"$WORK/title.rgb"
cmp -s "$WORK/shown.rgb" "$WORK/title.rgb" || fail "the window does not show the title picture"
echo "ok: window 194x82 at 32,32 shows the title picture"

load_through_dialog "$SONGS/song.rkv"
click 70 66 # play
wait_until 30 size_at_least "$WORK/capture.raw" $((2 * 88200)) || fail "play did not start the device"
click 120 66 # stop
wait_until 30 still "$WORK/capture.raw" || fail "the device went on after stop"
close_player || fail "exit code $? after closing the window"
echo "ok: loaded, played, stopped, closed with exit code 0"

# --- 2: under openbox, no sound device ------------------------------------------------------
openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
WM_PID=$!
trap 'kill $WM_PID 2>/dev/null; cleanup' EXIT
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_until 10 wm_running || fail "openbox did not start"
PLAYER_ARGS="$SONGS/song.rkv -platform offscreen" start_player "$SONGS" SDL_AUDIODRIVER=no-such-driver

# The window manager lists what it offers once it manages the window.
actions() { xprop -id "$WID" _NET_WM_ALLOWED_ACTIONS 2>/dev/null; }
wait_until 10 eval 'actions | grep -q _NET_WM_ACTION_CLOSE' || fail "openbox never managed the window"
actions | grep -q _NET_WM_ACTION_MINIMIZE || fail "the window cannot be minimised: $(actions)"
actions | grep -Eq 'MAXIMIZE|RESIZE' && fail "the window can be maximised or resized: $(actions)"
echo "ok: the command line was ignored; no maximise or resize action under openbox"

load_through_dialog "$SONGS/bad.rkv"
box=$(wait_window '^File error!$') || fail "no message box for a file without the magic"
xdotool windowfocus --sync "$box"
xdotool key Return
wait_window_gone '^File error!$' "$box" || fail "Return did not dismiss the message box"
echo "ok: file without the magic: message box, dismissed with Return"

measure_idle "no sound device, no song"
load_through_dialog "$SONGS/song.rkv"
click 70 66  # play
click 120 66 # stop
measure_idle "no sound device, song loaded, stopped"
close_player || fail "exit code $? after the window manager's close"
echo "PASS"
