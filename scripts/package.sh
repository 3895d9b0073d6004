#!/usr/bin/env bash
# Builds the Debian package kestrune_<version>_amd64.deb: a release build without the tests
# and benchmarks in build-package/ (or $BUILD_DIR), packaged by CPack. Prints its path;
# install it with `apt install ./kestrune_<version>_amd64.deb`. Further arguments go to
# cmake (e.g. -DKESTRUNE_MAINTAINER="Name <address>").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${BUILD_DIR:-build-package}
BUILD_DIR=$build BUILD_TYPE=Release scripts/build.sh \
    -DKESTRUNE_BUILD_TESTS=OFF -DKESTRUNE_BUILD_BENCH=OFF "$@" >/dev/null
if ! cpack --config "$build/CPackConfig.cmake" -B "$PWD/$build" >"$build/cpack.log" 2>&1; then
    cat "$build/cpack.log" >&2
    exit 1
fi
ls "$PWD/$build"/kestrune_*.deb
