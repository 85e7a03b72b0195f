// Helpers shared by the platform tests.
#pragma once

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "object_file_name.h"
#include "q7m/platform_sys.h"

namespace q7mtest {

// Closes a handle at the end of a scope.
class Handle {
 public:
  Handle() = default;
  explicit Handle(Q7M_HANDLE h) : h_(h) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Q7M_HANDLE get() const { return h_; }
  operator Q7M_HANDLE() const { return h_; }
  void reset(Q7M_HANDLE h = nullptr) {
    if (h_) Q7M_CloseHandle(h_);
    h_ = h;
  }
  Q7M_HANDLE release() {
    Q7M_HANDLE h = h_;
    h_ = nullptr;
    return h;
  }

 private:
  Q7M_HANDLE h_ = nullptr;
};

// Where the object file of `name` lives in this test's namespace.
inline std::string ObjectFilePath(const std::string& name) {
  std::string file;
  q7m::platform::ObjectFileName(name.c_str(), &file);
  return std::string(getenv("Q7M_OBJECT_DIR")) + "/" + file;
}

// Names with what the namespace must cope with.
inline std::string OddName(const std::string& stem) {
  return "Global\\" + stem + "\twith/slash\\and..dots";
}

// Waits (up to 10 s) until thread `tid` of process `pid` sits in system call
// `syscallNumber` (SYS_ppoll for an event wait, SYS_futex for a mutex
// wait), so a test knows a waiter is really waiting before it acts.
inline bool WaitUntilBlockedIn(pid_t pid, pid_t tid, long syscallNumber) {
  std::string path = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/syscall";
  std::string expected = std::to_string(syscallNumber) + " ";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    if (line.compare(0, expected.size(), expected) == 0) {
      // Seen inside the call; give it a moment to be asleep in it.
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

}  // namespace q7mtest
