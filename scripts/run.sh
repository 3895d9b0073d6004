#!/usr/bin/env bash
# Installs the dependencies, builds, and starts KestruneServer. Without a display it runs
# offscreen (the server works headless); without a sound server it starts a private
# PulseAudio with null sinks so there is something to capture and play into.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh >/dev/null
program="$PWD/${BUILD_DIR:-build}/src/app/KestruneServer"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running offscreen (QT_QPA_PLATFORM=offscreen)."
    export QT_QPA_PLATFORM=offscreen
fi
if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -d "$XDG_RUNTIME_DIR" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d /tmp/kestrune-runtime.XXXXXX)
    export XDG_RUNTIME_DIR
fi

pulse_dir=""
if ! pactl info >/dev/null 2>&1; then
    pulse_dir=$(mktemp -d /tmp/kestrune-pulse.XXXXXX)
    echo "No sound server answers: starting a private PulseAudio in $pulse_dir" \
         "with null sinks \"Speakers\" and \"CABLE Input\"."
    tests/support/private-pulse.sh start "$pulse_dir"
    export PULSE_SERVER="unix:$pulse_dir/native" PULSE_CLIENTCONFIG="$pulse_dir/client.conf"
    trap 'tests/support/private-pulse.sh stop "$pulse_dir"' EXIT
fi

echo "Starting $program (its log: ${XDG_DATA_HOME:-$HOME/.local/share}/KestruneServer/Logs/debug.log)."
"$program"
