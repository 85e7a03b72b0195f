#!/usr/bin/env bash
# Sets up a build: installs the Debian packages the project needs (only the
# missing ones), configures and builds. Safe to run again at any time.
#
#   Q7M_BUILD_DIR   build directory (default: build)
#   Q7M_SANITIZE    sanitizers, e.g. address,undefined or thread (default: none)
#   Q7M_BUILD_TYPE  CMake build type (default: RelWithDebInfo)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${Q7M_BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$top/$build" ;; esac

. "$top/scripts/install-missing.sh"
mapfile -t packages < "$top/scripts/packages.txt"
install_missing_packages "${packages[@]}"

cmake -S "$top" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE="${Q7M_BUILD_TYPE:-RelWithDebInfo}" \
  -DQ7M_SANITIZE="${Q7M_SANITIZE:-}" >/dev/null
cmake --build "$build" -j "$(nproc)"
