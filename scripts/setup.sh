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

missing=()
while read -r pkg; do
  [ -z "$pkg" ] && continue
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done < "$top/scripts/packages.txt"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S "$top" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE="${Q7M_BUILD_TYPE:-RelWithDebInfo}" \
  -DQ7M_SANITIZE="${Q7M_SANITIZE:-}" >/dev/null
cmake --build "$build" -j "$(nproc)"
