#!/usr/bin/env bash
# Sets up (scripts/setup.sh) and runs the main job with no hardware: the
# reader emulator q7m-sim on a pseudo-terminal, and reader commands sent to it
# through the whole stack (execution service, port driver, serial transport),
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
echo "== an emulated reader on a pseudo-terminal, mapped to COM3 in $work/PDLNK.INI"
cat > "$work/SCRIBEL.INI" <<INI
[SCRIBEL]
FILEPATH=$work
FILENAME=q7m.trc
[SEQUOR]
TRACE=0xFFFFFFFF
[PDLNK]
TRACE=0xFFFFFFFF
INI
"$bin/q7m-sim" --serial --pdlnk-ini "$work/PDLNK.INI" --com 3 --control "$work/sim.ctl" \
  > "$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
cat "$work/sim.out"

echo
echo "== reader commands through the stack: reset, versions, status, counters, an unknown code"
(cd "$work" && "$bin/q7m-exchange" COM3 C00 CV0 C10 CM0 CXX)

echo
echo "== the last trace records of that run ($work/q7m.trc)"
"$bin/q7m-trace" "$work/q7m.trc" | tail -n 12
"$bin/q7m-sim" ctl --control "$work/sim.ctl" quit >/dev/null
wait "$sim_pid" 2>/dev/null || true
sim_pid=
echo
echo "success"
