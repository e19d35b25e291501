#!/usr/bin/env bash
# The real player under a private X server, driven like a user would:
#  1. its window shows the title picture at (2, 2) on light grey, 194x82 at 32,32;
#  2. load a song through the dialog, play about two seconds, stop, close: exit code 0, what
#     SDL's disk driver captured equals an offline render of the song sample for sample, and
#     once the last notes have rung out the device pauses (the capture stops growing);
#  3. a file without the magic: the "File error!" box appears, Return dismisses it, nothing is
#     loaded (play stays silent), exit code 0. This run also gets a song path and a Qt option on
#     its command line, which it must ignore.
# Usage: e2e.sh PLAYER E2E_TOOL X11_CLOSE TITLE_BMP [RKV]
# RKV, when given, is the command-line tool whose `render` is the reference; otherwise the
# reference is rendered by E2E_TOOL with the same engine calls.
set -uo pipefail

PLAYER=$(readlink -f "$1")
TOOL=$(readlink -f "$2")
X11_CLOSE=$(readlink -f "$3")
TITLE_BMP=$(readlink -f "$4")
RKV=${5:+$(readlink -f "$5")}

source "$(dirname "$0")/x_session.sh"
require_commands Xvfb xdotool xwd
CONVERT=/usr/bin/convert # /usr/local/bin/convert may be a stand-in
[ -x "$CONVERT" ] || { echo "SKIP: ImageMagick's /usr/bin/convert is missing"; exit "$SKIP"; }
if [ -n "$RKV" ]; then require_commands sox; fi

size_at_least() { [ "$(stat -c %s "$1")" -ge "$2" ]; }

# Bytes before the first sounding frame (two 16-bit samples) of raw file $1; fails if silent.
leading_silence() {
    local byte
    byte=$(cmp "$1" /dev/zero 2>/dev/null | sed -n 's/.* \(byte\|char\) \([0-9]*\),.*/\2/p')
    [ -n "$byte" ] && echo $(((byte - 1) / 4 * 4))
}

# Waits up to 30 s until file $1 has not grown for a second.
wait_still() {
    local i size last=-1
    for i in $(seq 30); do
        size=$(stat -c %s "$1")
        [ "$size" = "$last" ] && return 0
        last=$size
        sleep 1
    done
    return 1
}

start_x
SONGS="$WORK/songs"
mkdir -p "$SONGS"
# 120 ms steps: ticks fall on whole frames (2646), so the capture and the render line up.
"$TOOL" song "$SONGS/song.rkv" busy || fail "cannot write the test song"
"$TOOL" song "$SONGS/bad.rkv" nomagic || fail "cannot write the bad song"

# --- 1 and 2: picture, load, play, stop, close ----------------------------------------------
start_player "$SONGS" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$WORK/capture.raw"
# The device opens once the window is up; a click before then would load a song with no voices.
wait_until 30 test -e "$WORK/capture.raw" || fail "the player opened no sound device"
geometry=$(xdotool getwindowgeometry "$WID")
echo "$geometry" | grep -q 'Geometry: 194x82' || fail "window geometry: $geometry"
echo "$geometry" | grep -q 'Position: 32,32' || fail "window position: $geometry"

xwd -id "$WID" -silent >"$WORK/window.xwd" || fail "xwd failed"
"$CONVERT" xwd:"$WORK/window.xwd" -crop 192x80+2+2 +repage -depth 8 rgb:"$WORK/shown.rgb"
"$CONVERT" "$TITLE_BMP" -depth 8 rgb:"$WORK/title.rgb"
cmp -s "$WORK/shown.rgb" "$WORK/title.rgb" || fail "the window does not show the title picture"
corner=$("$CONVERT" xwd:"$WORK/window.xwd" -crop 2x82+0+0 +repage -unique-colors -depth 8 txt:- |
    grep -c '#C0C0C0')
[ "$corner" = 1 ] || fail "the margin left of the picture is not plain light grey"
echo "ok: window 194x82 at 32,32 shows the title picture on light grey"

load_through_dialog "$SONGS/song.rkv"
wait_window_gone '^ファイルの読み込み$' "$DIALOG" || fail "the dialog stayed open"
click 70 66 # play: the device opens again and the capture begins
wait_until 30 size_at_least "$WORK/capture.raw" $((2 * 88200)) ||
    fail "play did not start the device"
click 120 66 # stop
wait_still "$WORK/capture.raw" || fail "the device went on after stop"
close_player || fail "exit code $? after closing the window"
echo "ok: loaded, played, stopped, closed with exit code 0"

if [ -n "$RKV" ]; then
    "$RKV" render "$SONGS/song.rkv" -o "$WORK/reference.wav" --seconds 3 ||
        fail "rkv render failed"
    sox "$WORK/reference.wav" -t raw -e signed-integer -b 16 -c 2 -r 22050 -L \
        "$WORK/reference.raw" || fail "sox could not read the render"
else
    "$TOOL" render "$SONGS/song.rkv" "$WORK/reference.raw" 3 || fail "offline render failed"
fi
# 1.5 s of the ~2 s played must match byte for byte, from the first sounding frame of each; the
# rest depends on when stop was clicked.
capture_start=$(leading_silence "$WORK/capture.raw") || fail "the capture is silent"
render_start=$(leading_silence "$WORK/reference.raw") || fail "the render is silent"
cmp -i "$capture_start:$render_start" -n $((33075 * 4)) "$WORK/capture.raw" "$WORK/reference.raw" ||
    fail "the device was not sent what the offline render produces"

# --- 3: a file without the magic ------------------------------------------------------------
PLAYER_ARGS="$SONGS/song.rkv -platform offscreen" \
    start_player "$SONGS" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$WORK/capture2.raw"
wait_until 30 test -e "$WORK/capture2.raw" || fail "the player opened no sound device"
load_through_dialog "$SONGS/bad.rkv"
box=$(wait_window '^File error!$') || fail "no message box for a file without the magic"
xdotool windowfocus --sync "$box"
xdotool key Return
wait_window_gone '^File error!$' "$box" || fail "Return did not dismiss the message box"
click 70 66 # play: nothing is loaded, so nothing sounds
sleep 1
close_player || fail "exit code $? after closing the window"
cmp -n "$(stat -c %s "$WORK/capture2.raw")" "$WORK/capture2.raw" /dev/zero ||
    fail "sound after a refused file"
echo "ok: file without the magic: message box, dismissed with Return, nothing loaded"
echo "ok: the command line was ignored"
echo "PASS"
