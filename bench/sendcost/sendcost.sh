#!/usr/bin/env bash
# Runs bench_sendcost under callgrind twice and prints the instructions per frame of the
# sending path, of a bare opus_encode, and their ratio; with --json FILE also writes them.
# Must run inside tests/support/in-private-network.sh.
#   sendcost.sh BENCH_SENDCOST [FRAMES] [--json FILE]
set -euo pipefail
program=${1:?the bench_sendcost executable}
frames=${2:-100}
json=""
[ "${3:-}" = "--json" ] && json=${4:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

count() { # FUNCTION: the instructions callgrind counted inside it, over all frames
    valgrind --tool=callgrind --callgrind-out-file="$work/out" --toggle-collect="$1" \
        "$program" "$frames" >"$work/log" 2>&1 || { cat "$work/log" >&2; exit 1; }
    awk '/^(summary|totals):/ { print $2; exit }' "$work/out"
}
path=$(count 'StreamSender::onCapturedAudio*')
bare=$(count '*bareEncode*')
read -r perPath perBare ratio < <(awk -v p="$path" -v b="$bare" -v n="$frames" \
    'BEGIN { printf "%.0f %.0f %.4f\n", p / n, b / n, p / b }')
echo "instructions per 10 ms frame: sending path $perPath, bare opus_encode $perBare," \
    "ratio $ratio (target at most 1.05)"
if [ -n "$json" ]; then
    printf '{"send_cost": {"frames": %s, "path_per_frame": %s, "bare_per_frame": %s, "ratio": %s}}\n' \
        "$frames" "$perPath" "$perBare" "$ratio" >"$json"
fi
