#include "fake_port_driver.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>

#include <sys/prctl.h>

#include "q7m/platform.h"

namespace fakepd {

namespace {

struct State {
  std::mutex lock;
  std::condition_variable changed;
  Script script;
  Record record;
  bool cancelled = false;
  // Counts cancels, so a blocked receive learns of one even when the port
  // was re-armed before it woke up.
  uint64_t cancels = 0;
  bool blocked = false;
  bool go = false;
  std::set<int> open;  // handles given out and not closed
  std::function<void()> onReset;
  int nextHandle = 5;

  bool IsOpen(int handle) const { return open.count(handle) != 0; }
};

State& TheState() {
  static State state;
  return state;
}

}  // namespace

void Reset(const Script& script) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.script = script;
  s.record = Record();
  s.cancelled = s.blocked = s.go = false;
  s.open.clear();
  s.onReset = nullptr;
}

void OnReset(std::function<void()> hook) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.onReset = std::move(hook);
}

void SetCloseResult(uint32_t result) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.script.closeResult = result;
}

Record Recorded() {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.record;
}

void Go() {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.go = true;
  s.changed.notify_all();
}

bool WaitUntilBlocked() {
  State& s = TheState();
  std::unique_lock<std::mutex> guard(s.lock);
  return s.changed.wait_for(guard, std::chrono::seconds(5), [&] { return s.blocked; });
}

}  // namespace fakepd

using fakepd::State;
using fakepd::TheState;

extern "C" {

uint32_t PDLNK_Open(int* handle, const char* deviceName, int) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.record.openNames.push_back(deviceName != nullptr ? deviceName : "");
  if (s.script.openResult != PDLNK_SUCCESS) {
    *handle = -1;
    Q7M_SetLastError(s.script.openLastError);
    return s.script.openResult;
  }
  *handle = s.nextHandle++;
  s.open.insert(*handle);
  return PDLNK_SUCCESS;
}

uint32_t PDLNK_Close(int handle) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  ++s.record.closeCalls;
  if (!s.IsOpen(handle)) return PDLNK_INVALID_HANDLE;
  if (s.script.closeResult == PDLNK_SUCCESS) s.open.erase(handle);
  s.changed.notify_all();
  return s.script.closeResult;
}

uint32_t PDLNK_Send(int handle, const char* message, int length, int timeLimitMs) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.IsOpen(handle)) return PDLNK_INVALID_HANDLE;
  s.record.sent.emplace_back(message, static_cast<size_t>(length));
  s.record.sendLimits.push_back(timeLimitMs);
  if (s.cancelled) return PDLNK_CANCELLED;
  if (s.script.sendResults.empty()) return PDLNK_SUCCESS;
  const uint32_t r = s.script.sendResults.front();
  s.script.sendResults.pop_front();
  if (r != PDLNK_SUCCESS) Q7M_SetLastError(s.script.sendLastError);
  return r;
}

uint32_t PDLNK_Receive(int handle, char* buffer, int bufferSize, int* received, int timeLimitMs) {
  State& s = TheState();
  std::unique_lock<std::mutex> guard(s.lock);
  *received = 0;
  if (!s.IsOpen(handle)) return PDLNK_INVALID_HANDLE;
  auto deliver = [&](const std::string& frame) {
    // As the real driver: a frame longer than the buffer is cut.
    const size_t n = std::min(frame.size(), static_cast<size_t>(bufferSize));
    std::memcpy(buffer, frame.data(), n);
    *received = static_cast<int>(n);
    return PDLNK_SUCCESS;
  };
  if (s.cancelled) return PDLNK_CANCELLED;
  if (timeLimitMs == 1) {
    ++s.record.drainCalls;
    s.record.drainSlacks.push_back(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
    if (s.script.stale.empty()) return PDLNK_TIMEOUT;
    const std::string frame = s.script.stale.front();
    s.script.stale.pop_front();
    return deliver(frame);
  }
  s.record.receiveLimits.push_back(timeLimitMs);
  s.record.receiveSlacks.push_back(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
  if (s.script.receives.empty()) return PDLNK_TIMEOUT;
  const fakepd::Receive step = s.script.receives.front();
  s.script.receives.pop_front();
  if (step.waitForCancel || step.waitForGo) {
    const uint64_t cancelsBefore = s.cancels;
    s.blocked = true;
    s.go = false;
    s.changed.notify_all();
    s.changed.wait(guard, [&] { return s.cancels != cancelsBefore || s.go || !s.IsOpen(handle); });
    s.blocked = false;
    if (!s.IsOpen(handle)) return PDLNK_INVALID_HANDLE;
    if (s.cancels != cancelsBefore) return PDLNK_CANCELLED;
  }
  if (step.code != PDLNK_SUCCESS) {
    Q7M_SetLastError(step.lastError);
    return step.code;
  }
  return deliver(step.frame);
}

uint32_t PDLNK_GetCryptoMode(int, int* mode) {
  *mode = 0;
  return PDLNK_SUCCESS;
}

uint32_t PDLNK_CancelIO(int handle) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  ++s.record.cancelCalls;
  if (!s.IsOpen(handle)) return PDLNK_INVALID_HANDLE;
  s.cancelled = true;
  ++s.cancels;
  s.changed.notify_all();
  return PDLNK_SUCCESS;
}

uint32_t PDLNK_ResetIO(int handle) {
  State& s = TheState();
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    hook = s.onReset;
  }
  if (hook) hook();
  std::lock_guard<std::mutex> guard(s.lock);
  ++s.record.resetCalls;
  if (!s.IsOpen(handle)) return PDLNK_INVALID_HANDLE;
  s.cancelled = false;
  return PDLNK_SUCCESS;
}

uint32_t PDLNK_ImportSessionKey(int, const void*, const void*, int) {
  return PDLNK_NOT_SUPPORTED;
}

uint32_t PDLNK_Exists(int handle) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.IsOpen(handle) ? PDLNK_SUCCESS : PDLNK_INVALID_HANDLE;
}

uint32_t PDLNK_GetDeviceInfo(int handle, PDLNK_DEVICE_INFO* info, int recordSize) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  if (recordSize != static_cast<int>(sizeof *info)) return PDLNK_WRONG_RECORD_SIZE;
  if (!s.IsOpen(handle)) return PDLNK_INVALID_HANDLE;
  if (s.script.infoResult != PDLNK_SUCCESS) {
    Q7M_SetLastError(s.script.infoLastError);
    return s.script.infoResult;
  }
  std::memset(info, 0, sizeof *info);
  info->devicePath = s.script.devicePath.c_str();
  info->serialNumber = s.script.serialNumber;
  return PDLNK_SUCCESS;
}

uint32_t PDLNK_DeviceReset(int) {
  return PDLNK_SUCCESS;
}

uint32_t PDLNK_GenarateExchangeKey(void*, int*, int) {
  return PDLNK_NOT_SUPPORTED;
}

uint32_t PDLNK_FindFirst(PDLNK_FIND_INFO*, int recordSize) {
  return recordSize == static_cast<int>(sizeof(PDLNK_FIND_INFO)) ? PDLNK_NO_MORE_DEVICES
                                                                 : PDLNK_WRONG_RECORD_SIZE;
}

uint32_t PDLNK_FindNext(PDLNK_FIND_INFO*) {
  return PDLNK_NO_MORE_DEVICES;
}

void PDLNK_FindClose(PDLNK_FIND_INFO*) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  ++s.record.findCloseCalls;
}

}  // extern "C"
