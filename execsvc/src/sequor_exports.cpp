// The exported interface of libSEQUOR.so. Every export looks its session up
// in the table of open sessions: a null, closed or made-up handle is
// answered with a result code, never followed.
#include "device_session.h"
#include "execute_engine.h"
#include "q7m/sequor.h"
#include "session_lifetime.h"
#include "shared_data.h"

using namespace q7m;

static_assert(SEQUOR_STORED_COMMAND_CAPACITY == kStoredCommandCapacity);
static_assert(SEQUOR_STORED_RESPONSE_CAPACITY == kStoredResponseCapacity);

namespace {

// Runs `operation` on the session's MemObject, or answers 1 for a handle
// that is not an open session.
template <typename Operation>
uint32_t OnMemory(SEQUOR_HANDLE handle, Operation operation) {
  SessionUse session(handle);
  if (!session) return SEQUOR_INVALID_HANDLE;
  return operation(*session->memory);
}

}  // namespace

extern "C" {

Q7M_EXPORT SEQUOR_HANDLE Q7M_API SEQUOR_Open(const char* name, const SEQUOR_OPEN_PARAMS* params) {
  return OpenSession(name, params);
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_Close(SEQUOR_HANDLE session) {
  return CloseSession(session);
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_Execute(SEQUOR_HANDLE session, const char* command,
                                           uint32_t commandLength, uint32_t sendTimeout,
                                           char* response, uint32_t responseCapacity,
                                           uint32_t* responseLength, uint32_t receiveTimeout,
                                           Q7M_HANDLE completionEvent) {
  SessionUse use(session);
  if (!use) return SEQUOR_INVALID_HANDLE;
  const ExecuteRequest request{use.get(),      command,        commandLength,
                               sendTimeout,    response,       responseCapacity,
                               responseLength, receiveTimeout, completionEvent};
  const uint32_t r = CheckExecuteArguments(request);
  if (r != SEQUOR_SUCCESS) return r;
  if (completionEvent == nullptr) return ExecuteMain(request);
  return StartAsyncExecute(request);
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_GetResult(SEQUOR_HANDLE session, char* buffer,
                                             uint32_t bufferCapacity, uint32_t* length,
                                             uint32_t* result) {
  return OnMemory(session, [&](MemObject& memory) {
    if (buffer == nullptr || length == nullptr || result == nullptr) return SEQUOR_INVALID_HANDLE;
    const uint32_t r = memory.GetResponseBuffer(buffer, bufferCapacity, length);
    if (r != SEQUOR_SUCCESS) return r;
    return memory.GetResult(result);
  });
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_SetResult(SEQUOR_HANDLE session, uint32_t value) {
  return OnMemory(session, [&](MemObject& memory) {
    (void)memory.SetResponseBuffer(nullptr, 0);
    return memory.SetResult(value);
  });
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_Cancel(SEQUOR_HANDLE session) {
  SessionUse use(session);
  if (!use) return SEQUOR_INVALID_HANDLE;
  return CancelExchange(use.get());
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_XfsLock(SEQUOR_HANDLE session) {
  return OnMemory(session, [](MemObject& memory) {
    const uint32_t held = memory.IsXfsLocked();
    return held != SEQUOR_SUCCESS ? held : memory.XfsLock();
  });
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_XfsUnlock(SEQUOR_HANDLE session) {
  return OnMemory(session, [](MemObject& memory) { return memory.XfsUnlock(); });
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_IsXfsLocked(SEQUOR_HANDLE session) {
  return OnMemory(session, [](MemObject& memory) { return memory.IsXfsLocked(); });
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_ApiLock(SEQUOR_HANDLE session) {
  return OnMemory(session, [](MemObject& memory) {
    const uint32_t held = memory.CheckApiLock();
    return held != SEQUOR_SUCCESS ? held : memory.ApiLock();
  });
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_ApiUnlock(SEQUOR_HANDLE session) {
  return OnMemory(session, [](MemObject& memory) { return memory.ApiUnlock(); });
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_IsApiLocked(SEQUOR_HANDLE session) {
  return OnMemory(session, [](MemObject& memory) { return memory.CheckApiLock(); });
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_CreateNewSessionKey(SEQUOR_HANDLE, uint32_t, uint32_t,
                                                       uint32_t) {
  return SEQUOR_NOT_SUPPORTED;
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_GetCryptoMode(SEQUOR_HANDLE, uint32_t*) {
  return SEQUOR_NOT_SUPPORTED;
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_DeviceReset(SEQUOR_HANDLE session) {
  SessionUse use(session);
  if (!use) return SEQUOR_INVALID_HANDLE;
  return PDLNK_DeviceReset(use->port.load());
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_Exists(SEQUOR_HANDLE session) {
  SessionUse use(session);
  if (!use) return SEQUOR_INVALID_HANDLE;
  return PDLNK_Exists(use->port.load());
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_GetDeviceInfo(SEQUOR_HANDLE session, PDLNK_DEVICE_INFO* info) {
  SessionUse use(session);
  if (!use || info == nullptr) return SEQUOR_INVALID_HANDLE;
  return PDLNK_GetDeviceInfo(use->port.load(), info, static_cast<int>(sizeof *info));
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_FindFirst(PDLNK_FIND_INFO* info) {
  if (info == nullptr) return SEQUOR_INVALID_HANDLE;
  return PDLNK_FindFirst(info, static_cast<int>(sizeof *info));
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_FindNext(PDLNK_FIND_INFO* info) {
  if (info == nullptr) return SEQUOR_INVALID_HANDLE;
  return PDLNK_FindNext(info);
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_FindClose(PDLNK_FIND_INFO* info) {
  if (info != nullptr) PDLNK_FindClose(info);
  return SEQUOR_SUCCESS;
}

}  // extern "C"
