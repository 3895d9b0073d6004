#!/usr/bin/env bash
# Runs benchmarks from a build directory and leaves each one's figures (NAME.json) and what
# it printed (NAME.txt) in an output directory. Runs inside a private network namespace
# with PULSE_SERVER pointing at a private PulseAudio: bench/run and the smoke tests see to
# both.
#   measure.sh [--quick] BUILD_DIR OUT_DIR sound|compute...
# --quick runs every benchmark very briefly: the figures only show that it still works.
# BASELINE_DRIVER, when set, is another build's server driver: the player benchmark's sender
# patterns run with it too, to compare the program before and after.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
quick=0
if [ "${1:-}" = "--quick" ]; then
    quick=1
    shift
fi
build=$(cd "${1:?build directory}" && pwd)
out=$(mkdir -p "${2:?output directory}" && cd "$2" && pwd)
shift 2
bench="$build/bench"
host="$bench/bench_programhost"
peer="$build/tools/kestrune-peer/kestrune-peer"

size() { # FULL QUICK: the figure for this run
    if [ "$quick" = 1 ]; then echo "$2"; else echo "$1"; fi
}
measure() { # NAME COMMAND...: runs it, its output on the terminal and in NAME.txt
    local name=$1
    shift
    echo "== $name" >&2
    "$@" | tee "$out/$name.txt"
}

sound() {
    measure server_latency "$bench/bench_serverlatency" --clicks "$(size 40 3)" \
        --json "$out/server_latency.json"
    if [ -n "${BASELINE_DRIVER:-}" ]; then
        measure player_latency_before "$bench/bench_playerlatency" --seconds "$(size 60 3)" \
            --runs on_time,late_5,late_20,burst_30 --driver "$BASELINE_DRIVER" \
            --name player_latency_before --json "$out/player_latency_before.json"
    fi
    measure player_latency "$bench/bench_playerlatency" --seconds "$(size 60 3)" \
        --drift-seconds "$(size 600 3)" --json "$out/player_latency.json"
    # The two long memory runs go on side by side, each in a network namespace of its own
    # (both use the program's fixed ports), while the CPU shares are measured.
    local minutes pids=()
    minutes=$(size 10 0.05)
    for mode in streaming player; do
        "$root/tests/support/in-private-network.sh" "$root/bench/program/program.py" memory \
            "$mode" "$host" "$peer" --minutes "$minutes" --json "$out/memory_$mode.json" \
            >"$out/memory_$mode.txt" &
        pids+=($!)
    done
    measure program_cpu "$root/bench/program/program.py" cpu "$host" "$peer" \
        --seconds "$(size 60 2)" --json "$out/program_cpu.json"
    for pid in "${pids[@]}"; do
        wait "$pid"
    done
    cat "$out"/memory_*.txt
}

compute() {
    local sendpathArgs=(--json "$out/fan_out.json")
    [ "$quick" = 1 ] && sendpathArgs+=(--quick)
    # Its own exit status judges the codec wrapper's budget, which the report shows anyway.
    measure fan_out "$bench/bench_sendpath" "${sendpathArgs[@]}" || true
    if command -v valgrind >/dev/null; then
        measure send_cost "$root/bench/sendcost/sendcost.sh" "$bench/bench_sendcost" \
            "$(size 100 5)" --json "$out/send_cost.json"
    else
        echo "valgrind not found: the sending path runs once, uncounted" >&2
        "$bench/bench_sendcost" 5
    fi
}

for group in "$@"; do
    "$group"
done
