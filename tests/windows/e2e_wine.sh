#!/usr/bin/env bash
# tuvimoplayer2.exe under Xvfb and Wine, driven like a user would, with Japanese texts:
#  1. the window by its title shows the TITLE picture at (2, 2);
#  2. a file without the magic and a file the loader refuses each get the "File error!" box;
#  3. a song loaded through the open dialog plays into a headless PulseAudio null sink, and the
#     recording equals `rkv.exe render` sample for sample from the first played tick to the stop;
#     the player's own queue never ran dry, so the rare dropouts of Wine's sound path that may
#     remain are told apart, skipped and shown;
#  4. stopped, the player itself uses at most 0.1 % of a core (the wine server's share is shown);
#  5. WM_DELETE_WINDOW closes it with exit code 0.
# Usage: e2e_wine.sh PLAYER_EXE RKV_EXE TITLE_BMP SONG LOCALE_DIR
set -uo pipefail
PLAYER_EXE=$1 RKV_EXE=$2 TITLE_BMP=$3 SONG=$4 LOCALE_DIR=$5
source "$(dirname "$0")/../app/x_session.sh"
require_commands Xvfb xdotool xwd wine winepath localedef pulseaudio parec pactl c++
CONVERT=/usr/bin/convert

# The close request a window manager sends, and a Japanese locale of our own.
c++ -O1 "$(dirname "$0")/../app/x11_close.cpp" -lX11 -o "$WORK/x11_close" || fail "x11_close"
X11_CLOSE=$WORK/x11_close
mkdir -p "$LOCALE_DIR"
[ -d "$LOCALE_DIR/ja_JP.UTF-8" ] || localedef -i ja_JP -f UTF-8 "$LOCALE_DIR/ja_JP.UTF-8" ||
    fail "localedef"

# A sound server of our own: a null sink at 22050 Hz, recorded from its monitor.
source "$(dirname "$0")/../live/pulse_server.sh"
start_pulse
record "$WORK/rec.raw"

start_x
cp "$SONG" "$WORK/song.rkv"
printf 'XYZW' >"$WORK/nomagic.rkv"
printf 'RKV' >"$WORK/refused.rkv"
# At the sound server's priority, with the buffering Wine's sound client asks for by itself
# (asking it for 100 ms also stretched its period to 20 ms and made the server wait for 50 ms of
# sound after any underrun).
# What the player tells a debugger (how low its sound queue got) lands in player.log.
(cd "$WORK" && exec nice -n -10 env LC_ALL=ja_JP.UTF-8 LOCPATH="$LOCALE_DIR" \
    WINEDEBUG=warn+debugstr wine "$PLAYER_EXE" >"$WORK/player.log" 2>&1) &
APP_PID=$!
WID=$(wait_window '^TuvimoPlayer2$' 30) || fail "the player window did not appear"

# 1. The picture, once it has been painted.
"$CONVERT" "$TITLE_BMP" -depth 8 rgb:"$WORK/title.rgb"
shows_title() {
    xwd -id "$WID" -silent | "$CONVERT" xwd:- -crop 192x80+2+2 +repage -depth 8 rgb:"$WORK/shown.rgb"
    cmp -s "$WORK/shown.rgb" "$WORK/title.rgb"
}
wait_until 5 shows_title || fail "the window does not show the title picture"
echo "ok: the window shows the title picture at (2, 2)"

# Load through the dialog; the dialog's name box takes the focus once it is ready for keys.
open_file() {
    click 170 66
    DIALOG=$(wait_window '^ファイルの読み込み$') || fail "the open dialog did not appear"
    wait_until 5 xdotool windowfocus --sync "$DIALOG" 2>/dev/null
    xdotool key ctrl+a
    xdotool type --delay 5 "$(winepath -w "$1")"
    xdotool key Return
    wait_window_gone '^ファイルの読み込み$' "$DIALOG" || fail "the dialog stayed open"
}

# 2. Files the player must not load.
for bad in nomagic refused; do
    open_file "$WORK/$bad.rkv"
    box=$(wait_window '^File error!$') || fail "no File error! box for the $bad file"
    xwd -id "$box" -silent | "$CONVERT" xwd:- "$WORK/$bad.png"
    xdotool windowfocus --sync "$box" 2>/dev/null
    xdotool key Return
    wait_window_gone '^File error!$' "$box" || fail "the File error! box stayed open"
done
echo "ok: File error! for a file without the magic and for a refused file"

# 3. Play (the sound reaches the sink within a second or so), stop after five seconds of recording.
open_file "$WORK/song.rkv"
start=$(stat -c %s "$WORK/rec.raw")
# CPU time the hypervisor gave to others while this machine wanted it (its "steal", in ticks).
steal() { awk '$1 == "cpu" { print $9 }' /proc/stat; }
steal0=$(steal)
click 70 66
wait_until 15 size_at_least "$WORK/rec.raw" $((start + 5 * 22050 * 4))
stopped=$(stat -c %s "$WORK/rec.raw")
click 120 66
stolen=$(($(steal) - steal0))
# Reported once the stopped song's voices have rung out.
queue_report() { grep -o 'sound queue never below [0-9]* frames' "$WORK/player.log"; }
wait_until 30 eval 'queue_report >/dev/null'
lowest=$(queue_report | head -1 | tr -dc 0-9)
[ -n "$lowest" ] || fail "the player did not report its sound queue: $(tail -5 "$WORK/player.log")"
wine "$RKV_EXE" render "$(winepath -w "$WORK/song.rkv")" --seconds 8 -o - 2>/dev/null |
    tail -c +45 >"$WORK/render.raw"
/usr/bin/python3 - "$WORK/rec.raw" "$WORK/render.raw" "$stopped" "$lowest" "$stolen" <<'PY' ||
import os
import sys
import numpy as np
rec = np.fromfile(sys.argv[1], "<i2").reshape(-1, 2)
ref = np.fromfile(sys.argv[2], "<i2").reshape(-1, 2)
stop = int(sys.argv[3]) // 4  # the recording's length in frames when the stop was clicked
lowest = int(sys.argv[4])  # the fewest frames the player found queued in Wine while playing
stolen_ms = 1000 * int(sys.argv[5]) // os.sysconf("SC_CLK_TCK")
first = p = int(np.flatnonzero(rec.any(axis=1))[0])  # the first played tick: the render's frame 0
q, dropouts = 0, []
# Every frame must equal the render's until the stop. Wine's own sound thread keeps only 25 ms in
# the sound server and refills it every 10 ms; woken late (when the hypervisor gives this virtual
# machine's CPU to others, or now and then on an idle machine), it lets the server run dry. The
# recording then holds a run of zeros, or none, and goes on a few frames further into the stream:
# fewer than the 256 of one of the player's own buffers. With frames of ours still queued in Wine
# all along, such a dropout is Wine's: it is shown with where it fell and what it cost. Any other
# difference fails, and so does a queue of ours that ran dry.
LOST = 256
while True:
    n = min(len(rec) - p, len(ref) - q)
    differ = np.flatnonzero((rec[p : p + n] != ref[q : q + n]).any(axis=1))
    if len(differ) == 0:
        p, q = p + n, q + n
        break
    p, q = p + int(differ[0]), q + int(differ[0])
    sounding = np.flatnonzero(rec[p : p + 22050].any(axis=1))
    if len(sounding) == 0:
        break  # silence for good: the stop
    zeros = int(sounding[0])
    # Where the recording goes on, up to the next dropout if one follows soon.
    resumed = rec[p + zeros : p + zeros + 256]
    silent = np.flatnonzero(~resumed.any(axis=1))
    if len(silent) and silent[0] >= 32:
        resumed = resumed[: silent[0]]
    at = ref[q : q + LOST + 256].tobytes().find(resumed.tobytes())
    if at < 0 or at % 4 or at // 4 >= LOST:
        break  # not a dropout: the stop, or a real difference
    dropouts.append(f"{q / 22050:.2f} s: {zeros} frames silent, {at // 4} lost")
    p, q = p + zeros, q + at // 4
print(f"recording equals the render for {q / 22050:.2f} s from the first played tick"
      f" (dropouts in Wine's sound path: {', '.join(dropouts) or 'none'};"
      f" the player's queue never below {lowest} frames, {lowest / 22.05:.0f} ms;"
      f" CPU time taken by the hypervisor meanwhile: {stolen_ms} ms;"
      f" stop clicked at {(stop - first) / 22050:.2f} s)")
# Equal up to the stop: every frame recorded before the click was read was played before it.
assert p >= stop
assert lowest > 0, "the player's own sound queue ran dry"
PY
    fail "the sound differs"
echo "ok: the recording equals the render sample for sample"

# 4. Idle, stopped: the player's own CPU time. It is idle once the voices have rung out (some go
# on silently for a while): wait for a quiet second, then measure five.
kill $PAREC_PID 2>/dev/null
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { printf "%d", s }'; }
server=$(pgrep -n -x wineserver64) || fail "no wine server found"
snap() { echo "$(cpu_ns "$APP_PID") $(cpu_ns "$server") $(date +%s%N)"; }
for i in $(seq 30); do
    read -r p0 s0 t0 < <(snap)
    sleep 1 # a measurement window, not a wait for a condition
    read -r p1 s1 t1 < <(snap)
    [ $(((p1 - p0) * 1000)) -le $((t1 - t0)) ] && break
done
read -r p0 s0 t0 < <(snap)
sleep 5
read -r p1 s1 t1 < <(snap)
awk -v p=$((p1 - p0)) -v s=$((s1 - s0)) -v t=$((t1 - t0)) -v w="$i" 'BEGIN {
    printf "idle CPU (after %d s): player %.3f %% of a core, wine server %.3f %%\n",
        w, 100 * p / t, 100 * s / t
    exit !(p / t <= 0.001) }' ||
    fail "the idle player uses more than 0.1 % of a core: $(grep -H . /proc/"$APP_PID"/task/*/comm)"

# 5. Close.
close_player
code=$?
[ "$code" = 0 ] || fail "exit code $code after closing the window"
echo "ok: WM_DELETE_WINDOW closed the player with exit code 0"
