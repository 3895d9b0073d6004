#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the whole test suite. Every test runs in a
# network namespace of its own with only the loopback interface (nothing leaves the machine).
#
# The suite runs in parts, each built in a directory of its own, in this order:
#   normal  build/ (or $BUILD_DIR)  the program as shipped, every test
#   asan    build-asan/             clang with the address (and leak) and undefined-behaviour
#                                   sanitizers, every test but the Windows probe, the
#                                   packaging and the PipeWire runs
#   tsan    build-tsan/             g++ with the thread sanitizer, every test but the
#                                   Windows probe, the packaging and the PipeWire runs
#   fuzz    build-fuzz/             the fuzz targets of tests/fuzz, a short run each
# SUITES="normal fuzz" runs only those parts; further arguments go to every ctest run. Every
# part runs even when an earlier one failed; the exit status says whether all passed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

suites=${SUITES:-normal asan tsan fuzz}
ctest_args=(--output-on-failure --parallel "$(nproc)" "$@")
failed=()

# Builds into a directory with extra cmake arguments, then runs ctest there.
suite() {
    local name=$1 directory=$2
    shift 2
    local cmake_args=() ctest_extra=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do
        cmake_args+=("$1")
        shift
    done
    [ $# -gt 0 ] && shift
    ctest_extra=("$@")
    echo "=== suite $name ($directory)"
    local started=$SECONDS
    if BUILD_DIR=$directory scripts/build.sh "${cmake_args[@]}" &&
        ctest --test-dir "$directory" "${ctest_args[@]}" "${ctest_extra[@]}"; then
        echo "=== suite $name passed in $((SECONDS - started)) s"
    else
        echo "=== suite $name FAILED after $((SECONDS - started)) s"
        failed+=("$name")
    fi
}

for name in $suites; do
    case $name in
    normal)
        suite normal "${BUILD_DIR:-build}"
        ;;
    asan)
        # The Windows probe runs a cross-compiled program under Wine: nothing of ours to
        # instrument there. Nobody installs a sanitizer build: no packaging either. The
        # PipeWire runs repeat the PulseAudio ones with other timing, which is the thread
        # sanitizer's business, not this one's.
        CXX=clang++ suite asan build-asan -DKESTRUNE_SANITIZE=address,undefined \
            -DKESTRUNE_BUILD_BENCH=OFF -- --label-exclude 'windows|package|pipewire'
        ;;
    tsan)
        # g++: clang 14's thread sanitizer stops at its own check when Qt starts a process
        # (QProcess forks through clone), which every test with a child process does.
        # Nor the PipeWire runs: a program slowed many times by the sanitizer takes the CPU
        # that a PipeWire without real-time scheduling needs, and the sinks then play holes
        # that the tone checks count. Their code paths are the PulseAudio runs' own.
        suite tsan build-tsan -DKESTRUNE_SANITIZE=thread \
            -DKESTRUNE_BUILD_BENCH=OFF -- --label-exclude 'windows|package|pipewire'
        ;;
    fuzz)
        CXX=clang++ BUILD_TARGETS=kestrune_fuzzers suite fuzz build-fuzz -DKESTRUNE_FUZZ=ON \
            -DKESTRUNE_BUILD_TESTS=OFF -DKESTRUNE_BUILD_BENCH=OFF -- --label-regex fuzz
        ;;
    *)
        echo "unknown suite '$name' (normal, asan, tsan, fuzz)" >&2
        exit 2
        ;;
    esac
done

# Every suite runs even when an earlier one failed, so one run shows everything.
if [ ${#failed[@]} -gt 0 ]; then
    echo "=== failed suites: ${failed[*]}"
    exit 1
fi
