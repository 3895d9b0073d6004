#!/usr/bin/env bash
# Runs a command with a private PulseAudio of its own (the test fixture's: null sinks
# "speakers" and "cable_input" that render in small blocks) and stops it afterwards.
# Meant to run inside tests/support/in-private-network.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir=$(mktemp -d /tmp/kestrune-bench-pulse.XXXXXX)
trap '"$root/tests/support/private-pulse.sh" stop "$dir"; rm -rf "$dir"' EXIT
"$root/tests/support/private-pulse.sh" start "$dir"
export PULSE_SERVER="unix:$dir/native" PULSE_CLIENTCONFIG="$dir/client.conf"
export QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS=disabled:
"$@"
