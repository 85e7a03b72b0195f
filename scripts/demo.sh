#!/usr/bin/env bash
# Sets up (scripts/setup.sh) and runs the main job with no hardware: the reader
# emulator q7m-sim with a demo card (magnetic stripe, chip, SAM, a Mifare and
# a Type B card), and RigTool's headless runner rigtool-cli running the demo
# command list, which touches every family of the card-reader API, through the
# whole stack (API library, execution service, port driver, serial link).
# The log is printed as RigTool writes it, then the last messages on the line
# from the trace ring of that run.
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

echo "== the emulated reader: COM3 (in $work/PDLNK.INI), a card inside ($top/tester/demo/demo-scenario.ini)"
cat > "$work/SCRIBEL.INI" <<INI
[SCRIBEL]
FILEPATH=$work
FILENAME=q7m.trc
MAXRECORD=5000
[RDAX]
TRACE=0xFFFFFFFF
[SEQUOR]
TRACE=0x0006
[PDLNK]
TRACE=0x0006
INI
(cd "$work" && exec "$bin/q7m-sim" --scenario "$top/tester/demo/demo-scenario.ini" \
  --control "$work/sim.ctl" > "$work/sim.out" 2>&1) &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
cat "$work/sim.out"
grep -q '^ready' "$work/sim.out" || { echo "the emulator did not start" >&2; exit 1; }

echo
echo "== rigtool-cli --device COM3 --list tester/demo/demo.lst --sync (every API family)"
status=0
(cd "$work" && "$bin/rigtool-cli" --device COM3 --list "$top/tester/demo/demo.lst" --sync) \
  | tr -d '\r' || status=$?

echo
echo "== the last eight messages on the line (q7m-trace -l CMD:,RES: $work/q7m.trc)"
"$bin/q7m-trace" -l CMD:,RES: "$work/q7m.trc" | tail -n 8
"$bin/q7m-sim" ctl --control "$work/sim.ctl" quit >/dev/null
wait "$sim_pid" 2>/dev/null || true
sim_pid=
echo
[ "$status" -eq 0 ] && echo "success" || { echo "rigtool-cli ended with status $status" >&2; exit "$status"; }
