// A test double of the port driver's exported functions, linked into the
// engine tests instead of libPDLNK.so. It plays one reader from a script:
// what each open, send and receive answers, which stale frames wait to be
// drained, and receives that block until a cancel. It records what the
// service asked of it. Reset() before each test.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "q7m/pdlnk.h"

namespace fakepd {

// One scripted answer of PDLNK_Receive (a receive with a limit of more
// than 1 ms).
struct Receive {
  uint32_t code = PDLNK_SUCCESS;
  std::string frame;           // delivered on success
  uint32_t lastError = 0;      // set with a failure code
  bool waitForCancel = false;  // blocks until PDLNK_CancelIO, then answers 3
  bool waitForGo = false;      // blocks until Go(), then answers as above
};

struct Script {
  uint32_t openResult = PDLNK_SUCCESS;
  uint32_t openLastError = 0;
  uint32_t infoResult = PDLNK_SUCCESS;
  uint32_t infoLastError = 0;
  std::string devicePath = "/dev/fake-reader";
  const char* serialNumber = "SN-FAKE";
  uint32_t closeResult = PDLNK_SUCCESS;
  std::deque<uint32_t> sendResults;  // default: success
  uint32_t sendLastError = 0;
  std::deque<Receive> receives;   // default: time-out
  std::deque<std::string> stale;  // frames the 1 ms drain receives find
};

// Replaces the script and forgets the record.
void Reset(const Script& script = Script());
// Changes what PDLNK_Close answers from now on.
void SetCloseResult(uint32_t result);

struct Record {
  std::vector<std::string> openNames;
  std::vector<std::string> sent;
  int drainCalls = 0;  // receives with a 1 ms limit
  int closeCalls = 0;
  int cancelCalls = 0;
  int resetCalls = 0;
  int findCloseCalls = 0;
  std::vector<int> sendLimits, receiveLimits;
  // The calling thread's timer slack (ns) at each drain and answer receive.
  std::vector<long> drainSlacks, receiveSlacks;
};
Record Recorded();
// Waits until a receive is blocked (waitForCancel or waitForGo); false
// after 5 s.
bool WaitUntilBlocked();
// Lets a receive that waits for it go on.
void Go();
// Runs `hook` on the caller's thread at each PDLNK_ResetIO, before it
// re-arms the port. Reset() removes it.
void OnReset(std::function<void()> hook);

}  // namespace fakepd
