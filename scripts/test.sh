#!/usr/bin/env bash
# Installs the dependencies, builds, and runs the whole test suite. Every test runs in a
# network namespace of its own with only the loopback interface (nothing leaves the machine).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --parallel "$(nproc)" "$@"
