// The security exports that call the execution service directly: the
// restriction, which reserves the reader for one session through the
// service's cross-process lock, and the session key request.
#include "export_table.h"
#include "q7m/last_error_keeper.h"
#include "q7m/rdax.h"
#include "q7m/sequor.h"
#include "result_map.h"

using namespace q7m::rdax;
namespace x = q7m::rdax::exports;

namespace {

SEQUOR_HANDLE Session(const RDAX* handle) {
  return reinterpret_cast<SEQUOR_HANDLE>(const_cast<RDAX*>(handle));
}

// Every result, warnings included, becomes the handle's last result after
// the exit line.
uint32_t FinishStored(const ExportDesc& desc, const RDAX* handle, uint32_t result,
                      TraceValues values) {
  FinishExport(desc, result, values);
  if (handle != nullptr) {
    q7m::LastErrorKeeper keep;
    SEQUOR_SetResult(Session(handle), result);
  }
  return result;
}

uint32_t Restriction(const ExportDesc& desc, const RDAX* handle, uint32_t (*call)(SEQUOR_HANDLE)) {
  const uintptr_t values[] = {Word(handle)};
  TraceEntry(desc, values);
  if (handle == nullptr) return FinishExport(desc, RDAX_E_NULL_ARGUMENT, values);
  return FinishStored(desc, handle, RdaxMapSequorCode(call(Session(handle))), values);
}

}  // namespace

extern "C" {

Q7M_EXPORT uint32_t Q7M_API RDAX_StartRestriction(const RDAX* handle) {
  return Restriction(x::kStartRestriction, handle, &SEQUOR_XfsLock);
}

Q7M_EXPORT uint32_t Q7M_API RDAX_EndRestriction(const RDAX* handle) {
  return Restriction(x::kEndRestriction, handle, &SEQUOR_XfsUnlock);
}

Q7M_EXPORT uint32_t Q7M_API RDAX_CreateNewSessionKey(const RDAX* handle) {
  const ExportDesc& desc = x::kCreateNewSessionKey;
  const uintptr_t values[] = {Word(handle)};
  TraceEntry(desc, values);
  if (handle == nullptr) return FinishExport(desc, RDAX_E_NULL_ARGUMENT, values);
  SEQUOR_HANDLE session = Session(handle);
  uint32_t result;
  if (SEQUOR_IsXfsLocked(session) == SEQUOR_LOCKED_BY_OTHER) {
    result = RDAX_E_RESTRICTED;
  } else if (SEQUOR_IsApiLocked(session) != SEQUOR_SUCCESS) {
    result = RDAX_E_BUSY;
  } else {
    // The session key parameters the reader's line encryption would use;
    // the service answers "not supported" while no crypto provider is bound.
    result = RdaxMapSequorCode(SEQUOR_CreateNewSessionKey(session, 512, 1, 0));
  }
  return FinishStored(desc, handle, result, values);
}

}  // extern "C"
