// One worker of the chaos run: a process with two sessions on the shared
// reader that does what applications do, at random, until the test stops it
// or kills it. Every operation is posted on the board with its limit while
// it runs, and every exchange's answer is checked to echo its command.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "chaos_board.h"
#include "q7m/platform_sys.h"
#include "q7m/sequor.h"
#include "q7m_test.h"
#include "sequor_sim_fixture.h"

namespace chaos {

namespace {

constexpr const char* kCommands[] = {"C00", "CV0", "CUE", "CL0", "CM0"};

class Worker {
 public:
  Worker(Board* board, int index, const std::string& link, uint32_t seed)
      : board_(board),
        worker_(board->workers[index]),
        post_(worker_.threads[0]),
        link_(link),
        random_(seed) {}

  int Run() {
    worker_.pid.store(static_cast<int32_t>(::getpid()));
    while (board_->stop.load() == 0) {
      const int which = Pick(2);
      SEQUOR_HANDLE& session = sessions_[which];
      if (session == nullptr) {
        Open(&session);
        continue;
      }
      const int roll = Pick(100);
      if (roll < 55) {
        ApiRound(session);
      } else if (roll < 80) {
        XfsRound(session);
      } else if (roll < 85) {
        Timed(kCancel, [&] { SEQUOR_Cancel(session); });
      } else {
        Timed(kClose, [&] { SEQUOR_Close(session); });
        session = nullptr;
      }
    }
    for (SEQUOR_HANDLE& session : sessions_) {
      if (session != nullptr) Timed(kClose, [&] { SEQUOR_Close(session); });
    }
    return 0;
  }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  template <typename Body>
  void Timed(Operation operation, Body body) {
    const uint32_t limit = LimitOf(operation);
    post_.reported.store(0);
    post_.limitMs.store(limit);
    post_.operation.store(operation);
    const uint64_t start = NowMs();
    post_.startMs.store(start);
    body();
    const uint64_t spent = NowMs() - start;
    post_.startMs.store(0);
    // One the test saw running too long is counted once, by the test.
    if (spent > limit && post_.reported.exchange(1) == 0) board_->stuck.fetch_add(1);
    board_->operations.fetch_add(1);
  }

  void Open(SEQUOR_HANDLE* session) {
    Timed(kOpen, [&] {
      *session = link_ == "serial" ? sequorsim::OpenSerial() : SEQUOR_Open(nullptr, nullptr);
    });
    if (*session != nullptr) return;
    // A serial port has one user at a time: wait for the holder to go.
    board_->refusedOpens.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(10 + Pick(20)));
  }

  void ApiRound(SEQUOR_HANDLE session) {
    Timed(kApiRound, [&] {
      if (SEQUOR_ApiLock(session) != SEQUOR_SUCCESS) return;
      const char* command = kCommands[Pick(5)];
      char answer[1024];
      uint32_t length = 0;
      const uint32_t r = SEQUOR_Execute(session, command, 3, kSendSeconds, answer, sizeof answer,
                                        &length, kReceiveSeconds, nullptr);
      board_->exchanges.fetch_add(1);
      if (r != SEQUOR_SUCCESS) {
        board_->failedExchanges.fetch_add(1);
      } else if (length >= 1 && answer[0] == 'E') {
        // The reader's cancel reply may answer any command, with anything
        // after it: the command was cancelled (by another worker's cancel).
      } else if (length < 3 || std::strchr("PN", answer[0]) == nullptr ||
                 std::memcmp(answer + 1, command + 1, 2) != 0) {
        board_->wrongCaller.fetch_add(1);
        std::snprintf(board_->lastWrong, sizeof board_->lastWrong, "%s answered %.*s", command,
                      static_cast<int>(length < 40 ? length : 40), answer);
      }
      SEQUOR_ApiUnlock(session);
    });
  }

  void XfsRound(SEQUOR_HANDLE session) {
    Timed(kXfsRound, [&] {
      if (SEQUOR_XfsLock(session) == SEQUOR_SUCCESS) SEQUOR_XfsUnlock(session);
    });
  }

  Board* board_;
  WorkerPost& worker_;
  ThreadPost& post_;
  std::string link_;
  std::mt19937 random_;
  SEQUOR_HANDLE sessions_[2] = {nullptr, nullptr};
};

}  // namespace

}  // namespace chaos

// args: link ("usb" or "serial"), board file, worker index, random seed.
Q7M_CHILD(chaos_worker) {
  chaos::Board* board = chaos::MapBoard(args.at(1), false);
  if (board == nullptr) return 2;
  const int index = std::stoi(args.at(2));
  if (index < 0 || index >= chaos::kWorkers) return 3;
  chaos::Worker worker(board, index, args.at(0), static_cast<uint32_t>(std::stoul(args.at(3))));
  return worker.Run();
}
