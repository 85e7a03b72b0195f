#!/usr/bin/env bash
# Sets up (scripts/setup.sh) and runs the demonstration: two processes
# sharing a named mutex and a named event through the platform layer.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/setup.sh"
build=${Q7M_BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$top/$build" ;; esac
exec "$build/bin/q7m-demo" "$@"
