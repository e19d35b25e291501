#!/usr/bin/env bash
# The real player under a window manager (openbox) on a private X server: the window offers no
# maximise action, and the open dialog and the message box carry their exact titles and texts.
# Screenshots of both go to $RKV_SCREENSHOTS when it is set, to see the Japanese glyphs.
# Usage: window_manager.sh PLAYER E2E_TOOL X11_CLOSE
set -uo pipefail
PLAYER=$(readlink -f "$1")
TOOL=$(readlink -f "$2")
X11_CLOSE=$(readlink -f "$3")
source "$(dirname "$0")/x_session.sh"
require_commands Xvfb xdotool xprop xwd openbox
export LC_ALL=C.UTF-8 # xprop prints the UTF-8 titles as they are

start_x
openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
WM_PID=$!
trap 'kill $WM_PID 2>/dev/null; cleanup' EXIT
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_until 10 wm_running || fail "openbox did not start"

SONGS="$WORK/songs"
mkdir -p "$SONGS"
"$TOOL" song "$SONGS/bad.rkv" nomagic || fail "cannot write the test file"
start_player "$SONGS" SDL_AUDIODRIVER=dummy

# The window manager lists what it offers once it manages the window.
managed() { xprop -id "$WID" _NET_WM_ALLOWED_ACTIONS 2>/dev/null | grep -q _NET_WM_ACTION_CLOSE; }
wait_until 10 managed
actions=$(xprop -id "$WID" _NET_WM_ALLOWED_ACTIONS 2>/dev/null)
echo "$actions" | grep -q _NET_WM_ACTION_CLOSE || fail "openbox never managed the window: $actions"
echo "$actions" | grep -q MAXIMIZE && fail "the window can be maximised: $actions"
echo "$actions" | grep -q _NET_WM_ACTION_MINIMIZE || fail "the window cannot be minimised"
echo "ok: no maximise action under openbox"

title() { xprop -id "$1" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'; }
[ "$(title "$WID")" = TuvimoPlayer2 ] || fail "window title '$(title "$WID")'"
shot() { [ -n "${RKV_SCREENSHOTS:-}" ] && mkdir -p "$RKV_SCREENSHOTS" && xwd -id "$1" -silent >"$RKV_SCREENSHOTS/$2.xwd"; }

click 170 66
dialog=$(wait_window '^ファイルの読み込み$') || fail "the open dialog did not appear"
[ "$(title "$dialog")" = "ファイルの読み込み" ] || fail "dialog title '$(title "$dialog")'"
sleep 1.5 # the dialog settles its focus on the name box (as in e2e.sh)
shot "$dialog" open-dialog
xdotool windowfocus --sync "$dialog"
xdotool key ctrl+a
xdotool type --delay 10 "$SONGS/bad.rkv"
xdotool key Return
box=$(wait_window '^File error!$') || fail "no message box"
shot "$box" message-box
xdotool windowfocus --sync "$box"
xdotool key Return
wait_window_gone '^File error!$' "$box" || fail "Return did not dismiss the message box"
echo "ok: dialog titled ファイルの読み込み, message box titled File error!"
close_player || fail "exit code $? after closing"
echo "PASS"
