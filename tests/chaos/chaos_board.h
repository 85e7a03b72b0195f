// The board the chaos run keeps its counts on: a small file that the test
// and every worker process map, so the counts of a worker survive its kill.
// Workers add to the counters and post the operation they are in with its
// start and limit; the test reads the board to find stuck operations of
// live workers and to report at the end.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace chaos {

constexpr int kWorkers = 4;

enum Operation : uint32_t {
  kNone = 0,
  kOpen,
  kClose,
  kApiRound,
  kXfsRound,
  kCancel,
};

struct WorkerPost {
  std::atomic<int32_t> pid;
  std::atomic<uint32_t> operation;
  std::atomic<uint64_t> startMs;  // 0: between operations
  std::atomic<uint32_t> limitMs;
  std::atomic<uint32_t> reported;  // the test has counted this operation stuck
};

struct Board {
  std::atomic<uint32_t> stop;
  std::atomic<uint64_t> operations;
  std::atomic<uint64_t> refusedOpens;  // the reader is held elsewhere (serial)
  std::atomic<uint64_t> exchanges;
  std::atomic<uint64_t> failedExchanges;
  std::atomic<uint64_t> wrongCaller;
  std::atomic<uint64_t> stuck;
  WorkerPost workers[kWorkers];
  char lastWrong[128];  // what the last wrong answer looked like
};
static_assert(std::atomic<uint64_t>::is_always_lock_free);

// Maps the board file (created zero-filled by the test); null on failure.
Board* MapBoard(const std::string& path, bool create);

// Milliseconds of the monotonic clock, the same in every process.
uint64_t NowMs();

// The specified limits of one operation, in milliseconds: the sum of the
// waits it may make (data mutex 5 s, lock 100 ms, the exchange's send and
// receive limits, ending an unfinished exchange first, the cancel's second
// and its end-of-transmission exchange).
constexpr uint32_t kSendSeconds = 2;
constexpr uint32_t kReceiveSeconds = 2;
uint32_t LimitOf(Operation operation);

}  // namespace chaos
