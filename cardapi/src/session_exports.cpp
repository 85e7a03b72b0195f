// Opening and closing a device, collecting the last result, cancelling.
#include <cstring>

#include "export_table.h"
#include "q7m/last_error_keeper.h"
#include "q7m/rdax.h"
#include "q7m/sequor.h"
#include "rdax_trace.h"
#include "request.h"
#include "result_map.h"

using namespace q7m::rdax;
using q7m::LastErrorKeeper;
namespace x = q7m::rdax::exports;

namespace {

SEQUOR_HANDLE Session(const RDAX* handle) {
  return reinterpret_cast<SEQUOR_HANDLE>(const_cast<RDAX*>(handle));
}

// The response buffer RDAX_GetResult reads the stored response into.
constexpr uint32_t kStoredResponseBuffer = 4096;

}  // namespace

extern "C" {

Q7M_EXPORT const RDAX* Q7M_API RDAX_OpenDevice(const char* name, const RDAX_OPEN_PARAMS* params) {
  const uintptr_t values[] = {Word(name), Word(params)};
  TraceEntry(x::kOpenDevice, values);

  // The default product list lives on this stack: it is only read during
  // the open.
  const uint16_t defaultProducts[] = {RDAX_DEFAULT_PRODUCT_ID_1, RDAX_DEFAULT_PRODUCT_ID_2};
  RDAX_OPEN_PARAMS block{};
  if (params != nullptr) {
    block = *params;
  } else {
    block.words[0] = Word(defaultProducts);
    block.words[1] = 2;
  }
  static_assert(sizeof(RDAX_OPEN_PARAMS) >= sizeof(SEQUOR_OPEN_PARAMS));
  SEQUOR_OPEN_PARAMS sequorParams;
  std::memcpy(&sequorParams, &block, sizeof sequorParams);

  Q7M_SetLastError(Q7M_ERROR_SUCCESS);
  SEQUOR_HANDLE session = SEQUOR_Open(name, &sequorParams);
  // Opening shared objects that exist already leaves a last error on
  // success too: only a failed open is a fault worth a fatal line.
  if (session == nullptr) TraceFatal(x::kOpenDevice, Q7M_GetLastError(), values);
  TraceExit(x::kOpenDevice, TraceWord(Word(session)), RDAX_OK, values);
  if (session != nullptr) SEQUOR_SetResult(session, RDAX_OK);
  return reinterpret_cast<const RDAX*>(session);
}

Q7M_EXPORT uint32_t Q7M_API RDAX_CloseDevice(const RDAX* handle) {
  const uintptr_t values[] = {Word(handle)};
  TraceEntry(x::kCloseDevice, values);
  const uint32_t result =
      handle == nullptr ? RDAX_E_NULL_ARGUMENT : RdaxMapSequorCode(SEQUOR_Close(Session(handle)));
  return FinishExport(x::kCloseDevice, result, values);
}

Q7M_EXPORT uint32_t Q7M_API RDAX_GetResult(const RDAX* handle) {
  const uintptr_t values[] = {Word(handle)};
  TraceEntry(x::kGetResult, values);
  if (handle == nullptr) return FinishExport(x::kGetResult, RDAX_E_NULL_ARGUMENT, values);
  // An operation of this process counts as running from before its worker
  // starts, so a caller never collects the result before the last one.
  if (OperationInProgress(handle)) return FinishExport(x::kGetResult, RDAX_E_BUSY, values);
  const uint32_t locked = SEQUOR_IsApiLocked(Session(handle));
  if (IsApiLockHeld(locked)) return FinishExport(x::kGetResult, RDAX_E_BUSY, values);
  // A handle the execution service does not know is no busy device.
  if (locked != SEQUOR_SUCCESS)
    return FinishExport(x::kGetResult, RdaxMapSequorCode(locked), values);

  char buffer[kStoredResponseBuffer];
  uint32_t length = 0;
  uint32_t stored = RDAX_OK;
  const uint32_t r = SEQUOR_GetResult(Session(handle), buffer, sizeof buffer, &length, &stored);
  uint32_t result;
  if (r != SEQUOR_SUCCESS) {
    // Nothing was read: the stored value is no answer.
    result = RdaxMapSequorCode(r);
  } else if (length == 0) {
    result = RdaxMapSequorCode(stored);
  } else {
    result = RdaxCheckResponse(buffer, length);
  }
  return FinishExport(x::kGetResult, result, values);
}

Q7M_EXPORT uint32_t Q7M_API RDAX_Cancel(const RDAX* handle) {
  const uintptr_t values[] = {Word(handle)};
  TraceEntry(x::kCancel, values);
  if (handle == nullptr) return FinishExport(x::kCancel, RDAX_E_NULL_ARGUMENT, values);
  // The cancelled operation stores its own result after this one.
  BeginCancel(handle);
  const uint32_t result = RdaxMapSequorCode(SEQUOR_Cancel(Session(handle)));
  FinishExport(x::kCancel, result, values);
  {
    LastErrorKeeper keepLastError;
    SEQUOR_SetResult(Session(handle), result);
    EndCancel(handle);
  }
  return result;
}

}  // extern "C"
