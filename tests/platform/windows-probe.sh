#!/usr/bin/env bash
# Cross-compiles the Windows sound backend's probe with mingw-w64 and runs it under Wine
# against the private PulseAudio server (PULSE_SERVER): the format mapping must hold, the
# endpoints must include the server's sinks, the tone rendered into the default endpoint
# must reach the speakers, and muting must work. Loopback capture may be skipped, since
# Wine has none.
#   windows-probe.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=${1:?source directory}
work=${2:?work directory}

for tool in x86_64-w64-mingw32-g++-posix wine wineboot wineserver parec sox pactl; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done
: "${PULSE_SERVER:?the private PulseAudio server must be given in PULSE_SERVER}"

mkdir -p "$work"
cmake -S "$source_dir/tools/wasapi-probe" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" >"$work/configure.log"
cmake --build "$work/build" >"$work/build.log" || { cat "$work/build.log"; exit 1; }

# The prefix is kept in the build tree: making one takes several seconds, reusing it less
# than one. No display, no debug channels, and no Mono or Gecko installers.
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# A prefix whose making was cut short (seen on a loaded machine) lacks its system DLLs, and
# every program then fails with "could not load kernel32.dll". So the prefix is made on its
# own, checked, marked once whole, and made again from nothing when it is not.
make_prefix() {
    [ -f "$WINEPREFIX/.whole" ] && return 0
    rm -rf "$WINEPREFIX"
    timeout 180 wineboot --init >"$work/wineboot.log" 2>&1 || true
    wineserver -w || true
    [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] || return 1
    touch "$WINEPREFIX/.whole"
}
for attempt in 1 2 3; do
    make_prefix && break
    echo "the Wine prefix was not made whole (attempt $attempt)" >&2
    cat "$work/wineboot.log" >&2
done
[ -f "$WINEPREFIX/.whole" ] || { echo "no whole Wine prefix after three attempts" >&2; exit 1; }

parec --device=speakers.monitor --format=s16le --rate=48000 --channels=2 --latency-msec=10 \
    --raw >"$work/speakers.raw" &
recorder=$!
stop() {
    kill "$recorder" 2>/dev/null || true
    wait "$recorder" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
}
trap stop EXIT
sleep 0.2

# To files, never through a pipe: Wine's background services keep the output open.
status=0
timeout 240 wine "$work/build/wasapi-probe.exe" >"$work/probe.out" 2>"$work/probe.err" || status=$?
sleep 0.2
stop
trap - EXIT

cat "$work/probe.out"
failed=0
expect() {
    grep -Eq "$1" "$work/probe.out" || { echo "expected a line matching: $1" >&2; failed=1; }
}
[ "$status" -eq 0 ] || { echo "the probe exited with $status" >&2; cat "$work/probe.err" >&2; failed=1; }
expect '^formats: OK'
expect '^channel mask: OK'
expect '^mix format: OK \(float 48000 Hz 2 ch 32 bit, channel mask 0x3\)'
expect '^endpoint: Speakers \['
expect '^endpoint: CABLE Input \['
expect '^device watch: OK'
expect '^open default: OK'
expect '^loopback: (OK|SKIPPED)'
expect '^render: OK'
expect '^mute toggle 1: OK'
expect '^mute toggle 2: OK'
if grep -q 'FAILED' "$work/probe.out"; then
    echo "a step failed" >&2
    failed=1
fi

peak=$(sox -t raw -r 48000 -c 2 -b 16 -e signed "$work/speakers.raw" -n remix 1 stat 2>&1 |
    awk '/^Maximum amplitude/ { print $3 }')
echo "peak heard on the speakers: ${peak:-none}"
if ! awk -v peak="${peak:-0}" 'BEGIN { exit !(peak > 0.2) }'; then
    echo "the rendered tone did not reach the speakers" >&2
    failed=1
fi
[ "$(LC_ALL=C pactl get-sink-mute speakers)" = "Mute: no" ] || { echo "speakers left muted" >&2; failed=1; }
exit "$failed"
