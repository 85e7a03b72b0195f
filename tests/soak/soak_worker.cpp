// One process of the soak run: four threads send commands to the shared
// reader until the run's time is up and count what came back. On USB each
// thread has a session of its own, half of them through the card-reader
// API's raw command, the other half through the execution service with its
// API lock, as the two kinds of application that share a reader do. A
// serial port takes one session at a time, so there the threads share one
// API handle.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "q7m/rdax.h"
#include "q7m/sequor.h"
#include "q7m_test.h"
#include "rdax_sim_fixture.h"
#include "soak_counts.h"

namespace soak {

namespace {

constexpr uint32_t kSendSeconds = 2;
constexpr uint32_t kReceiveSeconds = 5;

class Caller {
 public:
  // A session of its own: through the API (viaApi) or the execution service.
  Caller(char mark, bool viaApi, rdaxsim::Link link) : mark_(mark), viaApi_(viaApi) {
    if (viaApi_) {
      rdax_ = rdaxsim::OpenReader(link);
      ownsRdax_ = true;
      if (rdax_ == nullptr) counts_.openError = Q7M_GetLastError();
    } else {
      session_ =
          link == rdaxsim::Link::kUsb ? SEQUOR_Open(nullptr, nullptr) : sequorsim::OpenSerial();
      if (session_ == nullptr) counts_.openError = Q7M_GetLastError();
    }
  }
  // The API handle of another caller, shared (one operation at a time).
  Caller(char mark, const RDAX* shared) : mark_(mark), viaApi_(true), rdax_(shared) {
    if (rdax_ == nullptr) counts_.openError = Q7M_ERROR_INVALID_HANDLE;
  }
  ~Caller() {
    if (rdax_ != nullptr && ownsRdax_) RDAX_CloseDevice(rdax_);
    if (session_ != nullptr) SEQUOR_Close(session_);
  }
  Caller(const Caller&) = delete;
  Caller& operator=(const Caller&) = delete;

  const RDAX* rdax() const { return rdax_; }
  bool opened() const { return counts_.openError == 0; }
  const Counts& counts() const { return counts_; }

  void Run(std::chrono::steady_clock::time_point end) {
    uint32_t round = 0;
    while (std::chrono::steady_clock::now() < end) {
      const char command[3] = {'C', mark_, kSequenceMarks[round % (sizeof kSequenceMarks - 1)]};
      char response[256];
      uint32_t length = 0;
      uint32_t failure = 0;
      if (!Exchange(command, response, sizeof response, &length, &failure)) {
        // The reader is someone else's for now: give the holder the CPU
        // instead of spinning on the lock.
        ++counts_.busy;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      ++round;
      ++counts_.sent;
      if (failure != 0) {
        ++counts_.lost;
        counts_.lastFailure = failure;
        continue;
      }
      Check(command, response, length);
    }
  }

 private:
  // One command; false when refused because the reader is busy elsewhere
  // (nothing was sent), else *failure is 0 or the failed exchange's result.
  bool Exchange(const char* command, char* response, uint32_t size, uint32_t* length,
                uint32_t* failure) {
    if (viaApi_) {
      const uint32_t r = RDAX_SendCommand(rdax_, command, 3, kSendSeconds, response, size, length,
                                          kReceiveSeconds, nullptr);
      if (r == RDAX_E_BUSY) return false;
      *failure = r;
      return true;
    }
    const uint32_t locked = SEQUOR_ApiLock(session_);
    if (locked == SEQUOR_LOCKED_BY_OTHER || locked == SEQUOR_TIMEOUT) return false;
    if (locked != SEQUOR_SUCCESS) {
      *failure = locked;
      return true;
    }
    const uint32_t r = SEQUOR_Execute(session_, command, 3, kSendSeconds, response, size, length,
                                      kReceiveSeconds, nullptr);
    SEQUOR_ApiUnlock(session_);
    *failure = r;
    return true;
  }

  // The reader refuses every code of the soak with "N", echoing the code.
  void Check(const char* command, const char* response, uint32_t length) {
    if (length >= 3 && (response[0] == 'N' || response[0] == 'P') && response[1] == command[1]) {
      if (response[2] == command[2]) {
        ++counts_.answered;
      } else {
        ++counts_.stale;
        Remember(command, response, length);
      }
      return;
    }
    ++counts_.wrongCaller;
    Remember(command, response, length);
  }

  void Remember(const char* command, const char* response, uint32_t length) {
    counts_.lastWrong = std::string(command, 3) + "->";
    for (uint32_t i = 0; i < length && i < 12; ++i) {
      const char c = response[i];
      counts_.lastWrong += c > ' ' && c < 0x7F ? c : '.';
    }
  }

  char mark_;
  bool viaApi_;
  const RDAX* rdax_ = nullptr;
  bool ownsRdax_ = false;
  SEQUOR_HANDLE session_ = nullptr;
  Counts counts_;
};

}  // namespace

}  // namespace soak

// args: link ("usb" or "serial"), process index, seconds to run.
// Says "ready" once every session is open, runs from the parent's "go" for
// the given time, then says one Format line per thread and "end".
Q7M_CHILD(soak_worker) {
  const rdaxsim::Link link = args.at(0) == "usb" ? rdaxsim::Link::kUsb : rdaxsim::Link::kSerial;
  const int process = std::stoi(args.at(1));
  const int seconds = std::stoi(args.at(2));
  if (process < 0 || process >= soak::kUsbProcesses) return 2;
  std::vector<std::unique_ptr<soak::Caller>> callers;
  for (int t = 0; t < soak::kThreadsPerProcess; ++t) {
    const char mark = soak::kCallerMarks[process * soak::kThreadsPerProcess + t];
    if (link == rdaxsim::Link::kUsb || t == 0) {
      callers.push_back(std::make_unique<soak::Caller>(mark, t % 2 == 0, link));
    } else {
      // A serial port has one session at a time, in this process too: the
      // other threads share the first one's handle.
      callers.push_back(std::make_unique<soak::Caller>(mark, callers.front()->rdax()));
    }
  }
  q7mtest::Say("ready");
  std::string line;
  if (!q7mtest::Hear(&line) || line != "go") return 3;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::vector<std::thread> threads;
  for (auto& caller : callers) {
    if (caller->opened()) threads.emplace_back([&caller, end] { caller->Run(end); });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < soak::kThreadsPerProcess; ++t)
    q7mtest::Say(soak::Format(t, callers[static_cast<size_t>(t)]->counts()));
  q7mtest::Say("end");
  return 0;
}
