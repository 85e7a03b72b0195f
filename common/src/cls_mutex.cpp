#include "q7m/common/cls_mutex.h"

namespace q7m {

namespace {

// Closes a handle without disturbing the last error a caller may still
// want to read (why a Create gave kMutexExisted, say).
void CloseKeepingError(Q7M_HANDLE handle) {
  uint32_t lastError = Q7M_GetLastError();
  Q7M_CloseHandle(handle);
  Q7M_SetLastError(lastError);
}

}  // namespace

clsMutex::~clsMutex() {
  Close();
}

uint32_t clsMutex::Create(const char* base, bool initialOwner, uint32_t flags) {
  return CreateNamed(base, "Mutex", initialOwner, flags);
}

uint32_t clsMutex::CreateNamed(const char* base, const char* suffix, bool initialOwner,
                               uint32_t flags, bool* created) {
  if (created != nullptr) *created = false;
  if (handle_ != nullptr) return kOk;
  const char* name = MakeName(base, suffix);
  if (name == nullptr) return kSystemFailure;
  Q7M_HANDLE handle = Q7M_CreateMutex(initialOwner ? 1 : 0, name);
  bool existed = handle != nullptr && Q7M_GetLastError() == Q7M_ERROR_ALREADY_EXISTS;
  FreeName();
  if (handle == nullptr) return kSystemFailure;

  if (existed) {
    if ((flags & kMayOpen) == 0) {
      CloseKeepingError(handle);
      return kMutexExisted;
    }
  } else if ((flags & kMayCreate) == 0) {
    // Hand the initial ownership back before closing: a process that opened
    // the mutex in between must not find it abandoned.
    if (initialOwner) Q7M_ReleaseMutex(handle);
    CloseKeepingError(handle);
    return kMutexCreated;
  }
  handle_ = handle;
  if (created != nullptr) *created = !existed;
  return kOk;
}

uint32_t clsMutex::Wait(uint32_t milliseconds) {
  if (handle_ == nullptr) return kOk;
  switch (Q7M_WaitForSingleObject(handle_, milliseconds)) {
    case Q7M_WAIT_OBJECT_0:
    case Q7M_WAIT_ABANDONED_0:
      return kOk;
    case Q7M_WAIT_TIMEOUT:
      return kTimeout;
    default:
      return kSystemFailure;
  }
}

void clsMutex::Release() {
  if (handle_ != nullptr) Q7M_ReleaseMutex(handle_);
}

void clsMutex::Close() {
  if (handle_ == nullptr) return;
  CloseKeepingError(handle_);
  handle_ = nullptr;
}

}  // namespace q7m
