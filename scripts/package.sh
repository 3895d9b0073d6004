#!/usr/bin/env bash
# Builds the Debian package kestrune_<version>_amd64.deb: a release build without the tests
# and benchmarks in build-package/ (or $BUILD_DIR), packaged by CPack. Prints its path;
# install it with `apt install ./kestrune_<version>_amd64.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${BUILD_DIR:-build-package}
BUILD_DIR=$build BUILD_TYPE=Release scripts/build.sh \
    -DKESTRUNE_BUILD_TESTS=OFF -DKESTRUNE_BUILD_BENCH=OFF >/dev/null
cpack --config "$build/CPackConfig.cmake" -B "$PWD/$build" >/dev/null
ls "$PWD/$build"/kestrune_*.deb
