#!/usr/bin/env bash
# A private PulseAudio daemon for tests and headless runs, with two null sinks:
# "Speakers" (speakers, the default) and "CABLE Input" (cable_input).
#   private-pulse.sh start DIR   start it; clients use PULSE_SERVER=unix:DIR/native
#   private-pulse.sh stop DIR    stop it
set -euo pipefail
action=${1:?start or stop}
dir=${2:?runtime directory}

start() {
    mkdir -p "$dir/state"
    chmod 700 "$dir"
    cat > "$dir/test.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=speakers rate=48000 channels=2 sink_properties=device.description=Speakers
load-module module-null-sink sink_name=cable_input rate=48000 channels=2 sink_properties='device.description="CABLE Input"'
set-default-sink speakers
load-module module-null-source source_name=keepalive rate=48000 channels=2
load-module module-loopback source=keepalive sink=speakers latency_msec=10 source_dont_move=true sink_dont_move=true
load-module module-loopback source=keepalive sink=cable_input latency_msec=10 source_dont_move=true sink_dont_move=true
PA
    # An idle null sink renders in 2 s blocks, so a recorder of its monitor would start up
    # to 2 s late; the keepalive loopbacks keep every sink rendering in small blocks.
    printf 'autospawn = no\n' > "$dir/client.conf"
    : > "$dir/daemon.conf"
    env -u DISPLAY HOME="$dir/state" XDG_RUNTIME_DIR="$dir" XDG_CONFIG_HOME="$dir/state" \
        PULSE_RUNTIME_PATH="$dir" PULSE_STATE_PATH="$dir/state" PULSE_CONFIG="$dir/daemon.conf" \
        DBUS_SESSION_BUS_ADDRESS=disabled: \
        pulseaudio -n -F "$dir/test.pa" --daemonize=yes --system=false --fail=yes \
        --exit-idle-time=-1 --disallow-exit=yes --use-pid-file=yes --realtime=no \
        --high-priority=no --log-target=file:"$dir/pulse.log"
    export PULSE_SERVER="unix:$dir/native" PULSE_CLIENTCONFIG="$dir/client.conf"
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.05
    done
    local sinks
    sinks=$(LC_ALL=C pactl list short sinks | awk '{print $2}' | sort | tr '\n' ' ')
    if [ "$sinks" != "cable_input speakers " ]; then
        echo "private PulseAudio in $dir has sinks '$sinks'" >&2
        exit 1
    fi
    # Wait until the keepalive has brought every sink down to a small latency.
    for _ in $(seq 100); do
        if LC_ALL=C pactl list sinks | awk '/^\tLatency:/ { if ($2 + 0 >= 50000) slow = 1 } END { exit slow }'; then
            return 0
        fi
        sleep 0.05
    done
}

stop() {
    [ -f "$dir/pid" ] || return 0
    local pid
    pid=$(cat "$dir/pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 60); do
        state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null || echo gone)
        [ "$state" = gone ] || [ "$state" = Z ] && break
        sleep 0.05
    done
    rm -f "$dir/pid"
}

"$action"
