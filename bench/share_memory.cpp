// Cost of the cross-process recursive lock of a shared block: a first
// (outer) hold, which takes the guard mutex, and a nested hold, which only
// counts.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "q7m/common/cls_share_memory.h"

namespace {

std::string& ObjectDirectory() {
  static std::string dir;
  return dir;
}

// Named objects of this run live in a directory of their own, removed at
// exit.
void UsePrivateObjectDirectory() {
  static bool done = [] {
    ObjectDirectory() = "/tmp/q7mbench-objects-" + std::to_string(getpid());
    setenv("Q7M_OBJECT_DIR", ObjectDirectory().c_str(), 1);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ObjectDirectory(), ec);
    });
    return true;
  }();
  (void)done;
}

void BM_OuterLockUnlock(benchmark::State& state) {
  UsePrivateObjectDirectory();
  q7m::clsShareMemory block;
  if (block.Create("BenchBlock", 64) != 0) state.SkipWithError("no block");
  for (auto _ : state) {
    block.Lock(Q7M_INFINITE);
    block.Unlock();
  }
}
BENCHMARK(BM_OuterLockUnlock);

void BM_NestedLockUnlock(benchmark::State& state) {
  UsePrivateObjectDirectory();
  q7m::clsShareMemory block;
  if (block.Create("BenchBlock", 64) != 0) state.SkipWithError("no block");
  block.Lock(Q7M_INFINITE);
  for (auto _ : state) {
    block.Lock(Q7M_INFINITE);
    block.Unlock();
  }
  block.Unlock();
}
BENCHMARK(BM_NestedLockUnlock);

}  // namespace

BENCHMARK_MAIN();
