#include "process_badge.h"

#include <cstdio>
#include <mutex>

#include "q7m/platform_sys.h"
#include "sequor_errors.h"

namespace q7m {

namespace {

struct BadgeState {
  std::mutex lock;
  uint32_t holds = 0;
  ProcessBadge badge;
  uint32_t lastStamp = 0;
  Q7M_HANDLE object = nullptr;
};

BadgeState& State() {
  // Never destroyed: sessions may be closed by static destructors at exit.
  static BadgeState* state = new BadgeState;
  return *state;
}

void BadgeName(const ProcessBadge& badge, char (&name)[40]) {
  std::snprintf(name, sizeof name, "SEQUORProcess%08X%08X", badge.processId, badge.stamp);
}

// A child made by fork() inherits the memory but no handles.
void ForgetAfterFork(BadgeState& s) {
  if (s.holds != 0 && s.badge.processId != Q7M_GetCurrentProcessId()) {
    s.holds = 0;
    s.object = nullptr;
  }
}

}  // namespace

ProcessBadge HoldProcessBadge() {
  BadgeState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  ForgetAfterFork(s);
  if (s.holds++ == 0) {
    // A fresh stamp for each new badge: an older one of this process may
    // still be named in a record that nobody has cleared yet.
    uint32_t stamp = Q7M_GetTickCount() & kBadgeStampMask;
    if (stamp == s.lastStamp) stamp = (stamp + 1) & kBadgeStampMask;
    s.lastStamp = stamp;
    s.badge = {Q7M_GetCurrentProcessId(), stamp};
  }
  return s.badge;
}

bool ShowProcessBadge() {
  BadgeState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.holds == 0) return false;
  if (s.object != nullptr) return true;
  char name[40];
  BadgeName(s.badge, name);
  s.object = Q7M_CreateMutex(0, name);
  return s.object != nullptr;
}

void DropProcessBadge() {
  BadgeState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  ForgetAfterFork(s);
  if (s.holds == 0 || --s.holds != 0) return;
  if (s.object != nullptr) {
    LastErrorKeeper keepLastError;
    Q7M_CloseHandle(s.object);
    s.object = nullptr;
  }
}

bool ProcessBadgeAlive(const ProcessBadge& badge) {
  {
    BadgeState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.holds != 0 && s.object != nullptr && s.badge == badge) return true;
  }
  LastErrorKeeper keepLastError;
  char name[40];
  BadgeName(badge, name);
  // Opening a leftover of a killed process also removes it from the
  // namespace.
  Q7M_HANDLE object = Q7M_OpenMutex(name);
  if (object != nullptr) {
    Q7M_CloseHandle(object);
    return true;
  }
  return Q7M_GetLastError() != Q7M_ERROR_FILE_NOT_FOUND;
}

}  // namespace q7m
