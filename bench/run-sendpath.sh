#!/usr/bin/env bash
# Builds the send-path benchmark with optimisation and runs it in a network namespace of its
# own that holds only the loopback interface, so its receivers and every datagram it sends
# stay on this machine. Extra arguments go to the benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_BUILD_TESTS=ON \
    -DKESTRUNE_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target bench_sendpath
exec tests/support/in-private-network.sh "$build/bench/bench_sendpath" "$@"
