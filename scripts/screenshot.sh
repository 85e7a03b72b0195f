#!/usr/bin/env bash
# Takes the picture of the main dialog for the README: q7m-sim runs a USB
# reader, rigtool runs under Xvfb, opens that reader, runs a short command
# list, and the window is saved as a PNG.
#
#   scripts/screenshot.sh [OUT.png]      (default docs/rigtool.png)
#   Q7M_BUILD_DIR   build directory with bin/rigtool and bin/q7m-sim (default: build)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${Q7M_BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$top/$build" ;; esac
out=${1:-$top/docs/rigtool.png}
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac

# The X server, the window finder and the grabber, installed when missing.
. "$top/scripts/install-missing.sh"
install_missing_packages xvfb xdotool imagemagick
for program in rigtool q7m-sim; do
  [ -x "$build/bin/$program" ] || { echo "no $build/bin/$program: run scripts/setup.sh first" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Waits (bounded) until the command given succeeds.
await() {
  for _ in $(seq 100); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  echo "timed out waiting for: $*" >&2
  return 1
}

# A bus and a control socket of this run's own, so no other emulator meets it.
export Q7M_HIDBUS_DIR="$work/hidbus"
mkdir -p "$Q7M_HIDBUS_DIR"
"$build/bin/q7m-sim" --usb --set UsbSerial=RIG001 --control "$work/sim.ctl" >"$work/sim.out" 2>&1 &
pids+=($!)
await grep -q ready "$work/sim.out"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1600x1200x24 -nolisten tcp >"$work/xvfb.out" 2>&1 &
pids+=($!)
export DISPLAY=$display
await xdpyinfo -display "$display" || await xdotool getmouselocation

cat >"$work/short.lst" <<'LIST'
SendCommand|C00|5|5||
LogErrorData|RigTool screenshot||||
SendCommand|CV0|5|5||
LIST

cd "$work"
"$build/bin/rigtool" \
  --device USB:RIG001 --list "$work/short.lst" --sync --log Q7MDATA.LOG \
  >"$work/rigtool.out" 2>&1 &
pids+=($!)
await xdotool search --name "Q7M-R Test Application" || { cat "$work/rigtool.out" >&2; exit 1; }
window=$(xdotool search --name "Q7M-R Test Application" | head -1)
# The run is three quick calls on the emulator; give the window time to
# show their log lines before it is grabbed.
sleep 2
mkdir -p "$(dirname "$out")"
import -window "$window" "$out"
echo "saved $out"
