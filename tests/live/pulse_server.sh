# A private headless sound server with a null sink at 22050 Hz, a recorder on its monitor, and
# busy processes for load (sourced after x_session.sh, whose WORK, fail, wait_until and cleanup
# it uses).
PULSE_PID=
PAREC_PID=
PIPEWIRE_PIDS=
SERVER_PID=
trap 'kill $PULSE_PID $PAREC_PID $PIPEWIRE_PIDS 2>/dev/null; cleanup' EXIT

export XDG_RUNTIME_DIR=$WORK/run PULSE_CLIENTCONFIG=$WORK/client.conf SDL_AUDIODRIVER=pulseaudio
mkdir -m 700 "$XDG_RUNTIME_DIR"
echo "autospawn = no" >"$PULSE_CLIENTCONFIG"
cat >"$WORK/server.pa" <<'PA'
load-module module-native-protocol-unix
load-module module-null-sink sink_name=S format=s16le rate=22050 channels=2
set-default-sink S
PA

# The server (and the recorder) above the busy processes, as a desktop's would be.
start_pulse() {
    nice -n -10 pulseaudio -n -F "$WORK/server.pa" --daemonize=no --exit-idle-time=-1 \
        --disallow-exit >>"$WORK/pulse.log" 2>&1 &
    PULSE_PID=$!
    SERVER_PID=$PULSE_PID
    wait_until 10 pactl info >/dev/null 2>&1 || fail "the sound server did not start"
}

# PipeWire and its PulseAudio layer instead, on a session bus of their own, the graph at 22050 Hz
# so that nothing is resampled on the way to the null sink.
start_pipewire() {
    export XDG_CONFIG_HOME=$WORK/config DBUS_SESSION_BUS_ADDRESS=unix:path=$WORK/bus
    mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d"
    printf 'context.properties = {\n default.clock.rate = 22050\n default.clock.allowed-rates = [ 22050 ]\n}\n' \
        >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/rate.conf"
    dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >>"$WORK/pulse.log" 2>&1 &
    PIPEWIRE_PIDS=$!
    wait_until 10 test -S "$WORK/bus" || fail "the session bus did not start"
    nice -n -10 pipewire >>"$WORK/pulse.log" 2>&1 &
    SERVER_PID=$!
    PIPEWIRE_PIDS="$PIPEWIRE_PIDS $SERVER_PID"
    # The session manager gives up at once when PipeWire is not listening yet.
    wait_until 10 test -S "$XDG_RUNTIME_DIR/pipewire-0" || fail "PipeWire did not start"
    local part
    for part in wireplumber pipewire-pulse; do
        nice -n -10 $part >>"$WORK/pulse.log" 2>&1 &
        PIPEWIRE_PIDS="$PIPEWIRE_PIDS $!"
    done
    wait_until 10 pactl info >/dev/null 2>&1 || fail "PipeWire's PulseAudio layer did not start"
    pactl load-module module-null-sink sink_name=S format=s16le rate=22050 channels=2 >/dev/null
    wait_until 10 eval 'pactl list short sinks | grep -q "^[0-9]*\sS\s"' || fail "no null sink"
    pactl set-default-sink S
    # The session manager links streams: it is at work once it has made S the default.
    wait_until 10 eval 'pactl info | grep -q "^Default Sink: S$"' || fail "no session manager"
}

record() {
    nice -n -10 parec -d S.monitor --format=s16le --rate=22050 --channels=2 --raw \
        --latency-msec=100 >"$1" &
    PAREC_PID=$!
    wait_until 10 test -s "$1" || fail "the recorder did not start"
}

end_recording() { # waits until the recording holds half a second past what is in it now
    local want=$(($(stat -c %s "$1") + 44100))
    wait_until 10 size_at_least "$1" $want || fail "the recorder stalled"
    kill $PAREC_PID
    wait $PAREC_PID 2>/dev/null
}

# Load for $1 seconds: one core kept busy and the other half busy, at the player's own priority.
# No more: on this machine's kind, when the guest keeps both of its cores busy the host stops the
# whole machine for 100 ms at a time (a real-time thread sleeping 1 ms wakes 100 ms late, a dozen
# times in 30 s). The server and the player stop alike, the sink then catches up on the lost time,
# and no 50 ms queue rides that out. At one and a half cores that thread never woke 5 ms late.
busy() {
    local duty
    for duty in 1 0.5; do
        /usr/bin/python3 -c '
import sys, time
duty, end = float(sys.argv[1]), time.monotonic() + float(sys.argv[2])
while time.monotonic() < end:
    busy_until = time.monotonic() + 0.01 * duty
    while time.monotonic() < busy_until:
        pass
    time.sleep(0.01 * (1 - duty))
' $duty "$1" &
    done
}

# What the scheduler gave the test, for reading a failure.
conditions() {
    echo "load $(cut -d' ' -f1-3 /proc/loadavg); niceness: server $(ps -o ni= -p "$SERVER_PID" | tr -d ' ')," \
        "this script $(ps -o ni= -p $$ | tr -d ' ')"
}

streams() { [ "$(pactl list short sink-inputs | wc -l)" = "$1" ]; } # the server has $1 streams

# Wakeups (context switches of all threads) of process $1 so far.
wakeups() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/ctxt_switches/ { s += $2 } END { print s + 0 }'; }

# Starts the player (the arguments go before it on its command line) and waits until its start-up
# has set up the sound: the device opened and, with nothing to play, closed again. A load clicked
# before then would find no voices.
start_ready_player() {
    pactl subscribe >"$WORK/events" 2>/dev/null &
    local sub=$!
    wait_until 10 eval '[ "$(pactl list short clients | grep -c pactl)" -ge 2 ]' ||
        fail "no events from the server"
    start_x
    start_player "$WORK/songs" "$@"
    wait_until 20 grep -q "'remove' on sink-input" "$WORK/events" || fail "the player set up no sound"
    kill $sub
    wait $sub 2>/dev/null
}
