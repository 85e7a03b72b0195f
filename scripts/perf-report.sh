#!/usr/bin/env bash
# Performance report: builds the benchmarks (RelWithDebInfo), runs every one
# of them (medians of repeated runs), counts the instructions of each API
# operation under callgrind, and writes the results into bench/README.md
# between the perf-report markers (replaced on every run, the rest of the
# file is kept). Takes about 4 minutes on 2 CPUs; run it on an idle machine.
#
#   Q7M_BUILD_DIR      build directory (default: build, as scripts/setup.sh)
#   Q7M_PERF_QUICK=1   a short run: one repetition, short benchmark times,
#                      fewer operations under callgrind (under a minute)
#   Q7M_PERF_OUT       where the raw results go (default: <build>/perf-report)
#   Q7M_PERF_README    the file to write (default: bench/README.md)
#   Q7M_CALLGRIND_OPS  operations per API call under callgrind (default 200)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${Q7M_BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$top/$build" ;; esac
out=${Q7M_PERF_OUT:-$build/perf-report}
readme=${Q7M_PERF_README:-$top/bench/README.md}
quick=${Q7M_PERF_QUICK:-0}
[ "$quick" = 0 ] && quick=
started=$(date +%s)
started_utc=$(date -u '+%Y-%m-%d %H:%M UTC')
# The state of the machine when we start, before our own load counts.
loadavg=$(cut -d' ' -f1-3 /proc/loadavg)

# valgrind and python3 are not needed to build or test the project, so
# scripts/setup.sh does not install them; they are installed here when
# missing, the same way.
. "$top/scripts/install-missing.sh"
install_missing_packages valgrind python3

# A first build goes through setup.sh (the project's packages, configure,
# everything built); after that only what the report runs is rebuilt. The
# configure step runs every time so that a valgrind installed since is
# picked up (the callgrind driver's client requests).
if [ ! -f "$build/CMakeCache.txt" ]; then
  Q7M_BUILD_DIR="$build" Q7M_BUILD_TYPE=RelWithDebInfo "$top/scripts/setup.sh"
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
sanitize=$(sed -n 's/^Q7M_SANITIZE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ -n "$sanitize" ]; then
  echo "perf-report: $build is a sanitizer build ($sanitize); use a plain one (Q7M_BUILD_DIR)" >&2
  exit 1
fi

programs=()
for src in "$top"/bench/*.cpp; do
  name=bench_$(basename "$src" .cpp)
  if cmake --build "$build" --target "$name" >/dev/null; then
    programs+=("$name")
  else
    echo "perf-report: $name does not build here; left out" >&2
  fi
done
cmake --build "$build" --target callgrind_ops q7m-sim >/dev/null

if [ -n "$quick" ]; then
  bench_args=(--benchmark_repetitions=1 --benchmark_min_time=0.05)
  repetitions=1
  ops=${Q7M_CALLGRIND_OPS:-20}
else
  bench_args=(--benchmark_repetitions=3 --benchmark_report_aggregates_only=true)
  repetitions=3
  ops=${Q7M_CALLGRIND_OPS:-200}
fi

mkdir -p "$out"
rm -rf "$out/callgrind" "$out"/bench_*
mkdir -p "$out/callgrind"
failed=()
for program in "${programs[@]}"; do
  echo "== $program"
  t0=$(date +%s)
  # Each program prints its targets against floors from its own run; with
  # Q7M_BENCH_TARGETS it also writes them as JSON lines.
  if ! Q7M_BENCH_TARGETS="$out/$program.targets.jsonl" "$build/bin/$program" "${bench_args[@]}" \
      --benchmark_out="$out/$program.json" --benchmark_out_format=json \
      >"$out/$program.txt" 2>&1; then
    echo "perf-report: $program failed, see $out/$program.txt" >&2
    failed+=("$program")
  fi
  echo "$(( $(date +%s) - t0 ))" >"$out/$program.seconds"
done

echo "== callgrind_ops ($ops operations each)"
# Only this process is instrumented: valgrind does not follow the emulator it
# starts. Each operation's loop is dumped under "op:<name>".
if ! (cd "$out/callgrind" &&
      valgrind --tool=callgrind --instr-atstart=no \
        --callgrind-out-file="$out/callgrind/callgrind.out.%p" \
        "$build/bin/callgrind_ops" "$ops" >"$out/callgrind/run.txt" 2>&1); then
  echo "perf-report: callgrind_ops failed, see $out/callgrind/run.txt" >&2
  failed+=(callgrind_ops)
fi

elapsed=$(( $(date +%s) - started ))
cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
PERF_README="$readme" PERF_OUT="$out" PERF_OPS="$ops" PERF_REPETITIONS="$repetitions" \
PERF_PROGRAMS="${programs[*]}" PERF_FAILED="${failed[*]-}" PERF_QUICK="$quick" \
PERF_DATE="$started_utc" PERF_ELAPSED="$elapsed" PERF_NPROC="$(nproc)" PERF_CPU="$cpu_model" \
PERF_LOAD="$loadavg" PERF_BUILD_TYPE="$build_type" python3 - <<'EOF'
import glob, json, os, re

env = os.environ
readme, out = env["PERF_README"], env["PERF_OUT"]
ops, repetitions = int(env["PERF_OPS"]), int(env["PERF_REPETITIONS"])
programs = env["PERF_PROGRAMS"].split()
failed = set(env["PERF_FAILED"].split())
begin, end = "<!-- perf-report begin -->", "<!-- perf-report end -->"

def short(name):
    return name.replace("/process_time", "").replace("/real_time", "")

def us(value):
    return "%.3g" % value if abs(value) < 100 else "%.0f" % value

lines = [begin, "",
         "## Latest report", "",
         "Generated by `scripts/perf-report.sh`%s (replaced on every run; edit above the markers)."
         % (" with Q7M_PERF_QUICK=1" if env["PERF_QUICK"] else ""), "",
         "- date: %s; the whole report took %s s" % (env["PERF_DATE"], env["PERF_ELAPSED"]),
         "- machine: %s CPUs, %s; load average at start %s"
         % (env["PERF_NPROC"], env["PERF_CPU"].strip(), env["PERF_LOAD"]),
         "- build: %s; %d repetition%s per benchmark%s"
         % (env["PERF_BUILD_TYPE"], repetitions, "s" if repetitions > 1 else "",
            " (medians)" if repetitions > 1 else ", short runs"),
         ""]

for program in programs:
    seconds = open(os.path.join(out, program + ".seconds")).read().strip()
    lines += ["### %s" % program, ""]
    if program in failed:
        lines += ["Failed in this run (%s s); see its output in the build directory." % seconds, ""]
    targets = []
    path = os.path.join(out, program + ".targets.jsonl")
    if os.path.exists(path):
        targets = [json.loads(line) for line in open(path) if line.strip()]
    if targets:
        lines += ["| figure | clock | value (us) | floor | floor (us) | ratio | target | met |",
                  "|---|---|---|---|---|---|---|---|"]
        for t in targets:
            compare, limit, result = t["compare"], t["limit"], t["result"]
            if compare == "ratio":
                shown, target = "%.2fx" % result, "<= %.2fx" % limit if limit is not None else ""
            elif compare == "excess":
                shown, target = "+%.1f us" % result, "<= +%.0f us" % limit
            elif compare == "absolute":
                shown, target = "", "<= %.0f us" % limit
            else:
                shown, target = "rate %.2fx" % result, ">= %.2fx rate" % limit if limit is not None else ""
            met = {True: "met", False: "**MISSED**", None: "(shown)"}[t["met"]]
            lines.append("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
                short(t["measured"]), t["clock"], us(t["value_us"]), short(t["floor"]) or "-",
                us(t["floor_us"]) if t["floor"] else "-", shown or "-", target, met))
        lines.append("")
    rows = []
    path = os.path.join(out, program + ".json")
    if os.path.exists(path):
        for b in json.load(open(path)).get("benchmarks", []):
            if b.get("error_occurred"):
                rows.append("| %s | error: %s | | | |" % (short(b["name"]), b.get("error_message", "")))
                continue
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                continue
            scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b.get("time_unit", "ns")]
            known = {"name", "family_index", "per_family_instance_index", "run_name", "run_type",
                     "repetitions", "repetition_index", "threads", "iterations", "real_time",
                     "cpu_time", "time_unit", "aggregate_name", "aggregate_unit"}
            counters = ", ".join("%s %.4g" % (k, v) for k, v in b.items()
                                 if k not in known and isinstance(v, (int, float)))
            # An aggregate's "iterations" is the number of repetitions.
            sample = ("median of %s runs" % b.get("iterations", "?")
                      if b.get("run_type") == "aggregate"
                      else "%s iterations" % b.get("iterations", "?"))
            rows.append("| %s | %s | %s | %s | %s |" % (
                short(b.get("run_name", b["name"])), us(b["real_time"] * scale),
                us(b["cpu_time"] * scale), sample, counters))
    if rows:
        lines += ["| benchmark | wall per op (us) | CPU per op (us) | sample | counters |",
                  "|---|---|---|---|---|"] + rows + [""]
    lines += ["Ran in %s s." % seconds, ""]

lines += ["### Instructions per API operation (callgrind)", "",
          "`callgrind_ops %d` under `valgrind --tool=callgrind --instr-atstart=no`: user-space "
          "instructions of the calling process (all its threads) per operation, averaged over %d "
          "calls after one untimed call. The emulator's instructions are not counted (valgrind "
          "does not follow the q7m-sim child process), nor are the kernel's: a system call counts "
          "as the few instructions that make it. The counts repeat to within about 0.5%% from run "
          "to run (waits and retries vary a little), so a change that costs shows here even "
          "when the times above are noisy." % (ops, ops),
          "", "| operation | instructions per operation |", "|---|---|"]
counts = []
for path in glob.glob(os.path.join(out, "callgrind", "callgrind.out.*")):
    trigger = total = None
    for line in open(path, errors="replace"):
        m = re.match(r"desc: Trigger: Client Request: op:(.*)", line)
        if m:
            trigger = m.group(1).strip()
        m = re.match(r"totals: (\d+)", line)
        if m:
            total = int(m.group(1))
    if trigger and total is not None:
        part = int(path.rsplit(".", 1)[1]) if re.search(r"\.\d+\.\d+$", path) else 0
        counts.append((part, trigger, total))
for _, name, total in sorted(counts):
    lines.append("| %s | %d |" % (name, round(total / ops)))
if not counts:
    lines.append("| (no counts: see callgrind/run.txt in the build directory) | |")
lines += ["", end]

text = open(readme).read() if os.path.exists(readme) else ""
section = "\n".join(lines) + "\n"
if begin in text and end in text:
    text = text[:text.index(begin)] + section + text[text.index(end) + len(end):].lstrip("\n")
else:
    text = text.rstrip("\n") + "\n\n" + section
open(readme, "w").write(text)
EOF
echo "perf-report: ${elapsed} s; written to $readme (raw results in $out)"
[ ${#failed[@]} -eq 0 ] || { echo "perf-report: failed: ${failed[*]}" >&2; exit 1; }
