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
// Threads of one worker process that post operations: the worker of the
// execution service runs one, the worker of the whole API several.
constexpr int kThreads = 4;

enum Operation : uint32_t {
  kNone = 0,
  kOpen,
  kClose,
  kApiRound,
  kXfsRound,
  kCancel,
  kApiCall,  // an export of the card-reader API, its limit posted with it
};

// The families of the card-reader API the whole-API worker calls, the raw
// exchanges (the API's raw command and the execution service's own) last.
enum Family : uint32_t {
  kDeviceInfo = 0,
  kCardTransport,
  kChip,
  kContactless,
  kSecurity,
  kDownload,
  kRaw,
  kFamilies,
};
extern const char* const kFamilyNames[kFamilies];

// One running operation of a thread.
struct ThreadPost {
  std::atomic<uint32_t> operation;
  std::atomic<uint64_t> startMs;  // 0: between operations
  std::atomic<uint32_t> limitMs;
  std::atomic<uint32_t> reported;  // the test has counted this operation stuck
};

struct WorkerPost {
  std::atomic<int32_t> pid;
  ThreadPost threads[kThreads];
  // Set while the worker holds the restriction / runs a firmware download,
  // so the test can aim kills at those moments.
  std::atomic<uint32_t> holdsRestriction;
  std::atomic<uint32_t> inDownload;
};

// What the API calls of one family came to.
struct FamilyCounts {
  std::atomic<uint64_t> calls;
  std::atomic<uint64_t> ok;
  std::atomic<uint64_t> busy;        // another operation ran on the device
  std::atomic<uint64_t> restricted;  // another session held the restriction
  std::atomic<uint64_t> refused;     // the reader refused (it was in another state)
  std::atomic<uint64_t> cancelled;
  std::atomic<uint64_t> failed;      // transport outcomes and anything else
  std::atomic<uint64_t> async;       // of the calls, asynchronous ones
  std::atomic<uint64_t> slowestMs;
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
  // The whole-API run.
  FamilyCounts families[kFamilies];
  std::atomic<uint64_t> cancels;             // RDAX_Cancel calls
  std::atomic<uint64_t> restrictionsTaken;   // RDAX_StartRestriction answered OK
  std::atomic<uint64_t> ownRestrictionRefused;  // guarded call refused to the holder
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

// The limit of an API export that makes `exchanges` exchanges of at most
// `exchangeSeconds` (send and receive limits together) each, plus
// `waitMs` of waits of its own: the API lock and its check, the stores of
// every exchange and of the result, ending an unfinished exchange first, and
// a cancel that may run beside it.
uint32_t ApiLimitMs(uint32_t exchanges, uint32_t exchangeSeconds, uint32_t waitMs = 0);

}  // namespace chaos
