# Shared by the scripts that drive the real player under a private X server (sourced, not run).
# Needs: Xvfb, xdotool; the callers add what else they use.

# Exit code CTest reads as "skipped".
readonly SKIP=77

require_commands() {
    local c
    for c in "$@"; do
        if ! command -v "$c" >/dev/null 2>&1; then
            echo "SKIP: '$c' is not installed (Debian packages xvfb, xdotool, x11-apps, imagemagick, sox)"
            exit "$SKIP"
        fi
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

# A private X server on a display number it picks itself (-displayfd), so parallel runs never
# collide. -noreset: without it a connection now and then fails while the server resets.
start_x() {
    Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset 3>"$WORK/display" \
        >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 100); do
        [ -s "$WORK/display" ] && break
        sleep 0.05
    done
    [ -s "$WORK/display" ] || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
    export DISPLAY=":$(head -1 "$WORK/display")"
    for i in $(seq 100); do
        xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    fail "cannot reach X display $DISPLAY"
}

# Waits for a visible window whose name matches the regular expression; prints the last match.
wait_window() {
    local name=$1 seconds=${2:-15} id i
    for i in $(seq $((seconds * 20))); do
        id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | tail -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    return 1
}

# Waits until window $2 (named like $1) is no longer visible.
wait_window_gone() {
    local name=$1 id=$2 i
    for i in $(seq 200); do
        xdotool search --onlyvisible --name "$name" 2>/dev/null | grep -qx "$id" || return 0
        sleep 0.05
    done
    return 1
}

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

# Lines of the player's log that say which file the dialog returned.
chosen_count() { grep -c '^rkv.player: load: chose ' "$WORK/player.log" 2>/dev/null || true; }

# Waits until the load of $1 has ended: a click sent earlier could still reach the window while
# the dialog's own event loop runs, before the song is loaded. A refused file ends with its
# message box up.
wait_load_outcome() {
    local i
    for i in $(seq 600); do
        grep -qxF -e "rkv.player: load: loaded $1" -e "rkv.player: load: cannot open $1" \
            -e "rkv.player: load: refused $1" "$WORK/player.log" && return 0
        xdotool search --onlyvisible --name '^File error!$' >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    fail "the player never finished loading '$1'"
}

# The load button, then the path typed into the dialog's name box, then Return. Waits until the
# player logs the file the dialog returned. Under a slow build, keys can reach the dialog before
# its name box has the focus, and the player is then handed a garbled name: that is our typing,
# not the player, so the dialog is opened and the path typed again (at most three times).
load_through_dialog() {
    local path=$1 dialog attempt before i got box
    for attempt in 1 2 3; do
        before=$(chosen_count)
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
        for i in $(seq 300); do
            [ "$(chosen_count)" -gt "$before" ] && break
            sleep 0.05
        done
        got=$(grep '^rkv.player: load: chose ' "$WORK/player.log" | tail -1)
        got=${got#rkv.player: load: chose }
        [ "$got" = "$path" ] && { wait_load_outcome "$path"; return; }
        echo "note: the dialog returned '$got' for the typed '$path'; typing again"
        # A dialog still open (keys lost entirely) is closed before the next try.
        xdotool search --onlyvisible --name '^ファイルの読み込み$' >/dev/null 2>&1 &&
            xdotool windowfocus --sync "$dialog" key Escape
        wait_window_gone '^ファイルの読み込み$' "$dialog" || fail "the open dialog did not close"
        # A garbled name may still name the other song, whose message box then waits for us.
        box=$(xdotool search --onlyvisible --name '^File error!$' 2>/dev/null | tail -1)
        if [ -n "$box" ]; then
            xdotool windowfocus --sync "$box" key Return
            wait_window_gone '^File error!$' "$box" || fail "the message box stayed open"
        fi
    done
    fail "the dialog never returned '$path'"
}

# Closes the window the way a window manager's close button does and waits for the exit code.
close_player() {
    "$X11_CLOSE" "$WID" || fail "could not send the close request"
    local i
    for i in $(seq 200); do
        kill -0 "$APP_PID" 2>/dev/null || break
        sleep 0.05
    done
    kill -0 "$APP_PID" 2>/dev/null && fail "the player did not exit after its window was closed"
    local code=0
    wait "$APP_PID" || code=$?
    APP_PID=
    return "$code"
}

# CPU time (user + system) of a process, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# Time its threads spent on a CPU, in nanoseconds (finer than the ticks above, for the report).
cpu_nanoseconds() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { print s + 0 }'; }
