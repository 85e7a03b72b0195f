#!/usr/bin/env bash
# Sets up (scripts/setup.sh) and runs the main job with no hardware: the
# reader emulator q7m-sim on a pseudo-terminal and on the virtual HID bus, and
# reader commands sent to both through the whole stack (execution service,
# port driver, serial and USB transports),
# traced into a ring that is printed at the end.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/setup.sh"
build=${Q7M_BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$top/$build" ;; esac
bin="$build/bin"

work=$(mktemp -d)
export Q7M_OBJECT_DIR="$work/objects" Q7M_HIDBUS_DIR="$work/hidbus"
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo "== the platform layer: two processes share a named mutex and a named event"
"$bin/q7m-demo"

echo
echo "== emulated readers: one on a pseudo-terminal (COM3 in $work/PDLNK.INI), one on the virtual HID bus"
cat > "$work/SCRIBEL.INI" <<INI
[SCRIBEL]
FILEPATH=$work
FILENAME=q7m.trc
[SEQUOR]
TRACE=0xFFFFFFFF
[PDLNK]
TRACE=0xFFFFFFFF
INI
"$bin/q7m-sim" --serial --pdlnk-ini "$work/PDLNK.INI" --com 3 --usb --control "$work/sim.ctl" \
  > "$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
cat "$work/sim.out"
grep -q '^ready' "$work/sim.out" || { echo "the emulator did not start" >&2; exit 1; }

echo
echo "== reader commands through the stack: reset, versions, status, counters, an unknown code"
(cd "$work" && "$bin/q7m-exchange" COM3 C00 CV0 C10 CM0 CXX)
echo
echo "== the same stack over USB: reset, serial and model number, sensor levels"
(cd "$work" && "$bin/q7m-exchange" USB C00 CUE CL0)

echo
echo "== the last eight messages on the line, from the trace ring of that run (q7m-trace -l CMD:,RES: $work/q7m.trc)"
"$bin/q7m-trace" -l CMD:,RES: "$work/q7m.trc" | tail -n 8
"$bin/q7m-sim" ctl --control "$work/sim.ctl" quit >/dev/null
wait "$sim_pid" 2>/dev/null || true
sim_pid=
echo
echo "success"
