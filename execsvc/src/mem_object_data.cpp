// MemObject: construction, the data mutex, attaching to SharedData and the
// one-copy accessors.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "mem_object.h"
#include "q7m/sequor_result.h"
#include "sequor_errors.h"
#include "sequor_trace.h"

namespace q7m {

namespace {

constexpr char kSharedDataSuffix[] = "SHM";
constexpr char kSessionRegisterSuffix[] = "SES";

}  // namespace

MemObject::MemObject() {
  cancelEvent_ = Q7M_CreateEvent(/*manualReset=*/0, /*initialState=*/0, nullptr);
}

MemObject::~MemObject() {
  LastErrorKeeper keepLastError;
  (void)CloseSharedData();
  if (Q7M_HANDLE xfs = xfsLock_.exchange(nullptr)) CloseLock(xfs);
  if (Q7M_HANDLE api = apiLock_.exchange(nullptr)) CloseLock(api);
  if (cancelEvent_ != nullptr) Q7M_CloseHandle(cancelEvent_);
}

uint32_t MemObject::GetMutex(Q7M_HANDLE* held) {
  *held = nullptr;
  // Asking for ownership makes the creator of a new mutex its owner at once;
  // only an existing one has to be waited for.
  Q7M_HANDLE mutex = Q7M_CreateMutex(/*initialOwner=*/1, key_);
  if (mutex == nullptr) {
    const uint32_t error = Q7M_GetLastError();
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_GetMutex CreateMutex Error 0x%08X", error);
    return SystemFailure(error);
  }
  const bool existed = Q7M_GetLastError() == Q7M_ERROR_ALREADY_EXISTS;
  Q7M_TRACE(kTraceDataMutex, "SEQUOR: Enter GetMutex  = 0x%08X", TraceWord(mutex));
  if (existed) {
    const uint32_t wait = Q7M_WaitForSingleObject(mutex, kDataMutexLimitMs);
    // An abandoned mutex is ours now: its owner ended in the middle of a
    // copy, which leaves nothing half-held that we could repair.
    if (wait == Q7M_WAIT_TIMEOUT) {
      const int closed = Q7M_CloseHandle(mutex);
      Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_GetMutex Wait Timeout = 0x%08X",
                static_cast<unsigned>(closed));
      return SEQUOR_TIMEOUT;
    }
    if (wait != Q7M_WAIT_OBJECT_0 && wait != Q7M_WAIT_ABANDONED_0) {
      const uint32_t error = Q7M_GetLastError();
      const int closed = Q7M_CloseHandle(mutex);
      Q7M_TRACE(kTraceLockFault,
                "SEQUOR:MemObject_GetMutex API Error = 0x%08X / CloseHandle = 0x%08X", error,
                static_cast<unsigned>(closed));
      return SystemFailure(error);
    }
  }
  Q7M_TRACE(kTraceDataMutex, "SEQUOR: Exit GetMutex");
  *held = mutex;
  return SEQUOR_SUCCESS;
}

uint32_t MemObject::FreeMutex(Q7M_HANDLE held) {
  if (held == nullptr) {
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_FreeMutex HANDLE is NULL Error");
    return SEQUOR_INVALID_HANDLE;
  }
  Q7M_TRACE(kTraceDataMutex, "SEQUOR: Enter FreeMutex = 0x%08X", TraceWord(held));
  Q7M_ReleaseMutex(held);
  if (!Q7M_CloseHandle(held)) {
    const uint32_t error = Q7M_GetLastError();
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_FreeMutex CloseHandle Error = 0x%08X", error);
    return SystemFailure(error);
  }
  Q7M_TRACE(kTraceDataMutex, "SEQUOR: Exit FreeMutex");
  // Let a waiter of another thread or process have the mutex before this
  // thread comes back for it.
  Q7M_Sleep(0);
  return SEQUOR_SUCCESS;
}

void* MemObject::MapNamedBlock(const char* suffix, uint32_t size, Q7M_HANDLE* mapping,
                               bool* created) {
  char name[kDeviceKeyCapacity + 4];
  std::snprintf(name, sizeof name, "%s%s", key_, suffix);
  *mapping = Q7M_CreateFileMapping(name, size);
  if (*mapping == nullptr) return nullptr;
  *created = Q7M_GetLastError() != Q7M_ERROR_ALREADY_EXISTS;
  // An existing object smaller than the block (not ours) fails here.
  void* view = Q7M_MapViewOfFile(*mapping, size);
  if (view == nullptr) {
    LastErrorKeeper keepLastError;
    Q7M_CloseHandle(*mapping);
    *mapping = nullptr;
  }
  return view;
}

bool MemObject::Detach() {
  if (view_ != nullptr && Q7M_UnmapViewOfFile(view_) != 0) view_ = nullptr;
  if (mapping_ != nullptr && Q7M_CloseHandle(mapping_) != 0) mapping_ = nullptr;
  if (register_ != nullptr && Q7M_UnmapViewOfFile(register_) != 0) register_ = nullptr;
  if (registerMapping_ != nullptr && Q7M_CloseHandle(registerMapping_) != 0)
    registerMapping_ = nullptr;
  return view_ == nullptr && mapping_ == nullptr && register_ == nullptr &&
         registerMapping_ == nullptr;
}

uint32_t MemObject::OpenSharedData(const char* devicePath) {
  Q7M_TRACE(kTraceFlow, "SEQUOR:Entry MemObject_OpenSharedData %s",
            devicePath != nullptr ? devicePath : "");
  if (devicePath == nullptr) return SEQUOR_INVALID_HANDLE;
  if (attached() || strnlen(devicePath, kMaxDevicePathLength + 1) > kMaxDevicePathLength)
    return SEQUOR_INVALID_PARAMETER;
  DeriveDeviceKey(devicePath, key_);
  // A path of backslashes only would name no object at all and leave the
  // data mutex private to this process.
  if (key_[0] == '\0') return SEQUOR_INVALID_PARAMETER;

  Q7M_HANDLE held;
  uint32_t r = GetMutex(&held);
  if (r != SEQUOR_SUCCESS) {
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject OpenSharedData GetMutex Error");
    return r;
  }
  bool created = false, registerCreated = false;
  Q7M_HANDLE mapping = nullptr, registerMapping = nullptr;
  auto* view = static_cast<SharedData*>(
      MapNamedBlock(kSharedDataSuffix, sizeof(SharedData), &mapping, &created));
  auto* reg = view == nullptr ? nullptr
                              : static_cast<SessionRegister*>(
                                    MapNamedBlock(kSessionRegisterSuffix, sizeof(SessionRegister),
                                                  &registerMapping, &registerCreated));
  if (reg == nullptr) {
    LastErrorKeeper keepLastError;
    if (view != nullptr) {
      Q7M_UnmapViewOfFile(view);
      Q7M_CloseHandle(mapping);
    }
    FreeMutex(held);
    return SEQUOR_SYSTEM_ERROR;
  }
  // Processes that ended without closing their sessions no longer count.
  ReclaimEndedShares(reg, view, key_);
  SweepFreeShareObjects(reg, key_);
  // A block nobody is attached to was just created, or was reset by the last
  // session of the device while some process kept it mapped, or lost its
  // last sessions with their processes; either way it holds (or gets) the
  // initial values, and the first session names the device in it.
  if (created || view->openCount == 0) InitializeSharedData(view, devicePath);
  if (!AddShare(reg, view, key_, &share_)) {
    LastErrorKeeper keepLastError;
    Q7M_UnmapViewOfFile(reg);
    Q7M_CloseHandle(registerMapping);
    Q7M_UnmapViewOfFile(view);
    Q7M_CloseHandle(mapping);
    FreeMutex(held);
    return SEQUOR_SYSTEM_ERROR;
  }
  r = FreeMutex(held);
  if (r == SEQUOR_SUCCESS) {
    mapping_ = mapping;
    view_ = view;
    registerMapping_ = registerMapping;
    register_ = reg;
  } else {
    // Giving back a mutex handle we just opened does not fail in practice;
    // if it does, at least nothing is left mapped. The count and the share
    // stay, as without the mutex they cannot be changed safely; the share
    // is taken back once this process has no session on the device left.
    LastErrorKeeper keepLastError;
    if (share_.object != nullptr) Q7M_CloseHandle(share_.object);
    share_ = {};
    Q7M_UnmapViewOfFile(reg);
    Q7M_CloseHandle(registerMapping);
    Q7M_UnmapViewOfFile(view);
    Q7M_CloseHandle(mapping);
  }
  return r;
}

uint32_t MemObject::CloseSharedData() {
  if (!attached()) return SEQUOR_INVALID_HANDLE;
  Q7M_HANDLE held;
  uint32_t r = GetMutex(&held);
  if (r != SEQUOR_SUCCESS) {
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject CloseSharedData GetMutex Error");
    return r;
  }
  ReclaimEndedShares(register_, view_, key_);
  RemoveShare(register_, view_, &share_);
  if (view_->openCount == 0) InitializeSharedData(view_, nullptr);
  if (!Detach()) {
    FreeMutex(held);
    return SystemFailure(Q7M_ERROR_INVALID_ACCESS);
  }
  return FreeMutex(held);
}

bool MemObject::BeginExchange() {
  return register_ != nullptr && q7m::BeginExchange(register_, key_, share_);
}

void MemObject::EndExchange(bool answerMayFollow) {
  if (register_ != nullptr) q7m::EndExchange(register_, share_, answerMayFollow);
}

template <typename Copy>
uint32_t MemObject::UnderDataMutex(const char* failureLine, Copy copy) {
  if (!attached()) return SEQUOR_INVALID_HANDLE;
  Q7M_HANDLE held;
  const uint32_t r = GetMutex(&held);
  if (r != SEQUOR_SUCCESS) {
    Q7M_TRACE(kTraceLockFault, "%s", failureLine);
    return r;
  }
  copy(*view_);
  return FreeMutex(held);
}

uint32_t MemObject::GetResult(uint32_t* value) {
  return UnderDataMutex("SEQUOR:MemObject GetResult GetMutex Error",
                        [&](SharedData& data) { *value = data.result; });
}

uint32_t MemObject::SetResult(uint32_t value) {
  return UnderDataMutex("SEQUOR:MemObject SetResult GetMutex Error",
                        [&](SharedData& data) { data.result = value; });
}

uint32_t MemObject::SetCommandBuffer(const void* bytes, uint32_t count) {
  // Commands longer than the stored copy keep their first bytes; the count
  // stays the number of bytes actually held, so readers never overrun.
  const uint32_t stored = std::min(count, kStoredCommandCapacity);
  return UnderDataMutex("SEQUOR:MemObject SetCommandBuffer GetMutex Error", [&](SharedData& data) {
    if (stored != 0) std::memcpy(data.command, bytes, stored);
    data.commandLength = stored;
  });
}

uint32_t MemObject::GetResponseBuffer(void* destination, uint32_t capacity, uint32_t* count) {
  return UnderDataMutex("SEQUOR:MemObject GetResponseBuffer GetMutex Error", [&](SharedData& data) {
    // The count comes from memory other processes write.
    const uint32_t n = std::min({data.responseLength, kStoredResponseCapacity, capacity});
    if (n != 0) std::memcpy(destination, data.response, n);
    *count = n;
  });
}

uint32_t MemObject::SetResponseBuffer(const void* bytes, uint32_t count) {
  const uint32_t stored = std::min(count, kStoredResponseCapacity);
  return UnderDataMutex("SEQUOR:MemObject SetResponseBuffer GetMutex Error", [&](SharedData& data) {
    if (stored != 0) std::memcpy(data.response, bytes, stored);
    data.responseLength = stored;
  });
}

uint32_t MemObject::GetCancelEvent(Q7M_HANDLE* event) {
  return UnderDataMutex("SEQUOR:MemObject GetCancelEvent GetMutex Error",
                        [&](SharedData&) { *event = cancelEvent_; });
}

}  // namespace q7m
