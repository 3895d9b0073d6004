#!/usr/bin/env bash
# A private PipeWire for tests, as a current desktop runs it: pipewire, WirePlumber and the
# PulseAudio server pipewire-pulse, on a session bus of their own, in a network namespace
# of their own (nothing they do can leave the machine), with the same two null sinks as
# the private PulseAudio: "Speakers" (speakers, the default) and "CABLE Input"
# (cable_input).
#   private-pipewire.sh start DIR   start it; clients use PULSE_SERVER=unix:DIR/pulse/native
#   private-pipewire.sh stop DIR    stop it
set -euo pipefail
action=${1:?start or stop}
dir=$(realpath -m "${2:?runtime directory}")
here=$(dirname "$(realpath "$0")")

# Inside the namespace: the bus and the three daemons, until SIGTERM ends them all.
serve() {
    export XDG_RUNTIME_DIR=$dir HOME=$dir/home XDG_CONFIG_HOME=$dir/home/.config \
        XDG_STATE_HOME=$dir/home/.local/state XDG_DATA_HOME=$dir/home/.local/share
    unset DISPLAY WAYLAND_DISPLAY PULSE_SERVER PULSE_CLIENTCONFIG
    # WirePlumber does not run without a session bus.
    DBUS_SESSION_BUS_ADDRESS=$(dbus-daemon --session --fork --print-address=1 \
        --print-pid=3 3>"$dir/dbus.pid")
    export DBUS_SESSION_BUS_ADDRESS
    local pids=()
    trap 'kill "${pids[@]}" 2>/dev/null; wait; kill "$(cat "$dir/dbus.pid")" 2>/dev/null; exit 0' TERM INT
    pipewire >"$dir/pipewire.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [ -S "$dir/pipewire-0" ] && break
        sleep 0.05
    done
    wireplumber >"$dir/wireplumber.log" 2>&1 &
    pids+=($!)
    pipewire-pulse >"$dir/pipewire-pulse.log" 2>&1 &
    pids+=($!)
    wait
}

# Runs a command until it succeeds, for up to 5 s, quietly.
retry() {
    for _ in $(seq 100); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    return 1
}

start() {
    mkdir -p "$dir/home"
    chmod 700 "$dir"
    # Without real-time scheduling (a container, a build machine) a graph that runs every few
    # milliseconds misses cycles and the sinks play holes. PipeWire raises its smallest
    # quantum to 1024 frames in a virtual machine for the same reason; do it here too.
    mkdir -p "$dir/home/.config/pipewire/pipewire.conf.d" \
        "$dir/home/.config/pipewire/pipewire-pulse.conf.d"
    printf 'context.properties = { default.clock.min-quantum = 1024 }\n' \
        >"$dir/home/.config/pipewire/pipewire.conf.d/no-realtime.conf"
    printf 'pulse.properties = { pulse.min.quantum = 1024/48000 }\n' \
        >"$dir/home/.config/pipewire/pipewire-pulse.conf.d/no-realtime.conf"
    printf 'autospawn = no\n' >"$dir/client.conf"
    # Detached, with nothing of ctest's output open, so that the fixture's test can end
    # while the daemons run on.
    setsid "$here/in-private-network.sh" "$0" serve "$dir" </dev/null >"$dir/serve.log" 2>&1 &
    echo $! >"$dir/serve.pid"
    export PULSE_SERVER="unix:$dir/pulse/native" PULSE_CLIENTCONFIG="$dir/client.conf"
    # The PulseAudio server answers before WirePlumber manages the graph; loading a sink
    # succeeds only once it does.
    local loaded=""
    for _ in $(seq 200); do
        if LC_ALL=C pactl info 2>/dev/null | grep -q 'Server Name: .*PipeWire' &&
            pactl load-module module-null-sink sink_name=speakers rate=48000 channels=2 \
                sink_properties=device.description=Speakers >/dev/null 2>&1; then
            loaded=yes
            break
        fi
        sleep 0.05
    done
    if [ -z "$loaded" ]; then
        echo "private PipeWire in $dir did not come up:" >&2
        tail -5 "$dir"/*.log >&2
        stop
        exit 1
    fi
    # Both levels of quotes, or the description ends at the space. A server still settling
    # may refuse the second sink ("Not supported") as it accepted the first: try again. A
    # sink that never comes is reported below.
    retry pactl load-module module-null-sink sink_name=cable_input rate=48000 channels=2 \
        "sink_properties='device.description=\"CABLE Input\"'" || true
    retry pactl set-default-sink speakers || true
    local sinks
    for _ in $(seq 100); do
        sinks=$(LC_ALL=C pactl list short sinks | awk '{print $2}' | sort | tr '\n' ' ')
        [ "$sinks" = "cable_input speakers " ] && return 0
        sleep 0.05
    done
    echo "private PipeWire in $dir has sinks '$sinks'" >&2
    stop
    exit 1
}

stop() {
    [ -f "$dir/serve.pid" ] || return 0
    local pid
    pid=$(cat "$dir/serve.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    rm -f "$dir/serve.pid"
}

"$action"
