# Shared by the scripts that drive the real player under a private X server (sourced, not run).
# Needs: Xvfb, xdotool; the callers add what else they use.

# Exit code CTest reads as "skipped".
readonly SKIP=77

require_commands() {
    local c
    for c in "$@"; do
        command -v "$c" >/dev/null 2>&1 || { echo "SKIP: '$c' is not installed"; exit "$SKIP"; }
    done
}

# In sanitizer builds, leaks inside system libraries are not ours to report (CTest's caller may
# already point at the same list).
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/lsan.supp}

WORK=$(mktemp -d)
XVFB_PID=
APP_PID=

cleanup() {
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    wait 2>/dev/null
    if [ -n "${KEEP_WORK:-}" ]; then echo "work folder kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    if [ -n "${KEEP_WORK:-}" ] && [ -n "${DISPLAY:-}" ]; then
        xwd -root -silent >"$WORK/failed.xwd" 2>/dev/null && echo "screen: $WORK/failed.xwd"
    fi
    [ -f "$WORK/player.log" ] && sed 's/^/  player: /' "$WORK/player.log"
    exit 1
}

# Runs the command (the words after $1) until it succeeds, for at most $1 seconds.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}
not() { ! "$@"; }
size_at_least() { [ "$(stat -c %s "$1")" -ge "$2" ]; } # file $1 holds $2 bytes or more

# A private X server on a display number it picks itself (-displayfd), so parallel runs never
# collide. -noreset: without it a connection now and then fails while the server resets.
start_x() {
    Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset 3>"$WORK/display" \
        >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    wait_until 5 test -s "$WORK/display" || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
    export DISPLAY=":$(head -1 "$WORK/display")"
    wait_until 5 xdotool getdisplaygeometry >/dev/null 2>&1 ||
        fail "cannot reach X display $DISPLAY"
}

# Prints the last visible window whose name matches the regular expression $1; fails if none.
find_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1 | grep .; }
# Waits up to $2 (15) seconds for such a window and prints it.
wait_window() { wait_until "${2:-15}" find_window "$1"; }
# Waits until window $2 (named like $1) is no longer visible.
window_shown() { xdotool search --onlyvisible --name "$1" 2>/dev/null | grep -qx "$2"; }
wait_window_gone() { wait_until 10 not window_shown "$1" "$2"; }

# Starts the player in folder $1 with the rest as environment settings, and the words of
# PLAYER_ARGS (if set) as its command line; sets APP_PID and WID.
start_player() {
    local folder=$1
    shift
    # The player's own log says what the load button did (see load_through_dialog).
    (cd "$folder" && exec env QT_LOGGING_RULES="rkv.player.info=true" "$@" "$PLAYER" \
        ${PLAYER_ARGS:-} >"$WORK/player.log" 2>&1) &
    APP_PID=$!
    WID=$(wait_window '^TuvimoPlayer2$') || fail "the player window did not appear"
}

click() { xdotool mousemove --window "$WID" "$1" "$2" click 1; }

# Lines of the player's log that say which file the dialog returned: more than $1.
chosen_more_than() { [ "$(grep -c '^rkv.player: load: chose ' "$WORK/player.log")" -gt "$1" ]; }

# The load of $1 has ended. A refused file ends with its message box up.
load_ended() {
    grep -qxF -e "rkv.player: load: loaded $1" -e "rkv.player: load: cannot open $1" \
        -e "rkv.player: load: refused $1" "$WORK/player.log" ||
        find_window '^File error!$' >/dev/null
}

# The load button, then the path typed into the dialog's name box, then Return. Waits until the
# player logs the file the dialog returned, the load has ended and the dialog is gone. Under a
# slow build, keys can reach the dialog before its name box has the focus, and the player is then
# handed a garbled name: that is our typing, not the player, so the dialog is opened and the path
# typed again (at most three times).
load_through_dialog() {
    local path=$1 dialog attempt before got box
    for attempt in 1 2 3; do
        before=$(grep -c '^rkv.player: load: chose ' "$WORK/player.log")
        click 170 66
        dialog=$(wait_window '^ファイルの読み込み$') || fail "the open dialog did not appear"
        # Mapped is not yet ready for keys: give the dialog a moment to take the focus itself.
        sleep 1.5
        xdotool windowfocus --sync "$dialog"
        sleep 0.2
        xdotool key ctrl+a
        xdotool type --delay 10 "$path"
        sleep 0.3
        xdotool key Return
        DIALOG=$dialog
        wait_until 15 chosen_more_than "$before"
        got=$(grep '^rkv.player: load: chose ' "$WORK/player.log" | tail -1)
        got=${got#rkv.player: load: chose }
        # A click sent earlier could still reach the window while the dialog's own event loop
        # runs, before the song is loaded: wait until the load has ended.
        if [ "$got" = "$path" ]; then
            wait_until 30 load_ended "$path" || fail "the player never finished loading '$path'"
            wait_window_gone '^ファイルの読み込み$' "$dialog" || fail "the dialog stayed open"
            return
        fi
        echo "note: the dialog returned '$got' for the typed '$path'; typing again"
        # A dialog still open (keys lost entirely) is closed before the next try.
        find_window '^ファイルの読み込み$' >/dev/null && xdotool windowfocus --sync "$dialog" key Escape
        wait_window_gone '^ファイルの読み込み$' "$dialog" || fail "the open dialog did not close"
        # A garbled name may still name the other song, whose message box then waits for us.
        if box=$(find_window '^File error!$'); then
            xdotool windowfocus --sync "$box" key Return
            wait_window_gone '^File error!$' "$box" || fail "the message box stayed open"
        fi
    done
    fail "the dialog never returned '$path'"
}

# Closes the window the way a window manager's close button does and waits for the exit code.
close_player() {
    "$X11_CLOSE" "$WID" || fail "could not send the close request"
    wait_until 10 not kill -0 "$APP_PID" 2>/dev/null ||
        fail "the player did not exit after its window was closed"
    local code=0
    wait "$APP_PID" || code=$?
    APP_PID=
    return "$code"
}

# Time the threads of process $1 spent on a CPU, in nanoseconds.
cpu_nanoseconds() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { print s + 0 }'; }
