#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own build directory and runs
# each for a while, starting from its seed corpus in the repository (the
# folder fuzz/corpus/<name> beside the target's source, when there is one).
# New inputs go to a scratch corpus in the build directory, never into the
# repository; a crash leaves its input there too and fails the script.
#
#   Q7M_FUZZ_SECONDS   seconds per target (default 600; CI uses 15)
#   Q7M_FUZZ_BUILD_DIR build directory (default: build-fuzz)
#   arguments          names of targets to run (default: all, e.g. download_file)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${Q7M_FUZZ_BUILD_DIR:-build-fuzz}
case "$build" in /*) ;; *) build="$top/$build" ;; esac
seconds=${Q7M_FUZZ_SECONDS:-600}
# Undefined behaviour is a finding, as in the sanitizer build of the suite:
# without this UBSan only prints and the input passes.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQ7M_FUZZ=ON -DQ7M_BUILD_TESTS=OFF >/dev/null

# Every fuzz_<name>.cpp in the tree is one target.
mapfile -t sources < <(cd "$top" && find . -path ./build\* -prune -o -name 'fuzz_*.cpp' -print | sort)
declare -A source_of
for src in "${sources[@]}"; do
  name=$(basename "$src" .cpp)
  source_of[${name#fuzz_}]=$src
done
if [ $# -gt 0 ]; then names=("$@"); else names=("${!source_of[@]}"); fi
mapfile -t names < <(printf '%s\n' "${names[@]}" | sort)

targets=()
for name in "${names[@]}"; do targets+=("fuzz_$name"); done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

failed=()
for name in "${names[@]}"; do
  seeds="$top/$(dirname "${source_of[$name]}")/corpus/$name"
  scratch="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-findings/$name/"
  mkdir -p "$scratch" "$artifacts"
  corpora=("$scratch")
  [ -d "$seeds" ] && corpora+=("$seeds")
  log="$build/fuzz-findings/$name.log"
  echo "== fuzz_$name: ${seconds}s"
  if "$build/bin/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$artifacts" "${corpora[@]}" >"$log" 2>&1; then
    runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    echo "   ok: ${runs:-?} runs"
  else
    echo "   FINDING: see $log and $artifacts"
    failed+=("$name")
  fi
done
echo "${#names[@]} fuzz targets, ${#failed[@]} with findings${failed:+: ${failed[*]}}"
[ ${#failed[@]} -eq 0 ]
