#!/usr/bin/env bash
# Sets up, builds and runs every test (unit and language-level) with CTest.
# Extra arguments go to cmake, e.g. -DZAN_SANITIZE=ON.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ZAN_BUILD_DIR:-build}
tools/setup.sh "$build" "$@"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure --timeout 300
