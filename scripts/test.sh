#!/usr/bin/env bash
# Sets up (scripts/setup.sh) and runs the whole test suite.
# Extra arguments go to ctest, e.g. scripts/test.sh -R platform
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/setup.sh"
build=${Q7M_BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$top/$build" ;; esac
cd "$build"
ctest -j "$(nproc)" --output-on-failure --timeout 300 "$@"
