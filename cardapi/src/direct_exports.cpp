// The exports that call the execution service directly: the device
// listing, the port reset and the user trace line (the restriction and the
// session key: security_exports.cpp).
#include "export_table.h"
#include "q7m/rdax.h"
#include "q7m/sequor.h"
#include "rdax_trace.h"
#include "result_map.h"

using namespace q7m::rdax;
namespace x = q7m::rdax::exports;

namespace {

SEQUOR_HANDLE Session(const RDAX* handle) {
  return reinterpret_cast<SEQUOR_HANDLE>(const_cast<RDAX*>(handle));
}

// The listing readers count as "attached devices" when of this product.
constexpr uint16_t kCountedProduct = RDAX_DEFAULT_PRODUCT_ID_1;

uint32_t MapFindCode(uint32_t code) {
  switch (code) {
    case SEQUOR_SUCCESS:
      return RDAX_OK;
    case SEQUOR_INVALID_HANDLE:
    case SEQUOR_INVALID_PARAMETER:
      return RDAX_E_PARAMETER;
    case SEQUOR_NO_MORE_DEVICES:
      return RDAX_E_NO_DEVICE;
    default:
      // Among them 8, no reader at all, and the end of the list.
      return RDAX_F_SYSTEM;
  }
}

uint32_t Find(const ExportDesc& desc, uint32_t (*find)(PDLNK_FIND_INFO*), PDLNK_FIND_INFO* info) {
  const uintptr_t values[] = {Word(info)};
  TraceEntry(desc, values);
  const uint32_t result = info == nullptr ? RDAX_E_NULL_ARGUMENT : MapFindCode(find(info));
  return FinishExport(desc, result, values, Word(info));
}

}  // namespace

extern "C" {

Q7M_EXPORT uint32_t Q7M_API RDAX_EnumerateDevices(uint32_t* count) {
  const uintptr_t values[] = {Word(count)};
  TraceEntry(x::kEnumerateDevices, values);
  if (count == nullptr) return FinishExport(x::kEnumerateDevices, RDAX_E_NULL_ARGUMENT, values);
  *count = 0;
  PDLNK_FIND_INFO info{};
  info.recordSize = sizeof info;
  uint32_t r = SEQUOR_FindFirst(&info);
  if (r == SEQUOR_DEVICE_NOT_FOUND) return FinishExport(x::kEnumerateDevices, RDAX_OK, values, 0);
  if (r != SEQUOR_SUCCESS) return FinishExport(x::kEnumerateDevices, RDAX_F_SYSTEM, values, 0);
  uint32_t found = 0;
  uint32_t result = RDAX_OK;
  while (r == SEQUOR_SUCCESS) {
    if (info.productId == kCountedProduct) ++found;
    r = SEQUOR_FindNext(&info);
    if (r == SEQUOR_SYSTEM_ERROR) result = RDAX_F_SYSTEM;
  }
  SEQUOR_FindClose(&info);
  *count = found;
  return FinishExport(x::kEnumerateDevices, result, values, found);
}

Q7M_EXPORT uint32_t Q7M_API RDAX_FindFirst(PDLNK_FIND_INFO* info) {
  return Find(x::kFindFirst, &SEQUOR_FindFirst, info);
}

Q7M_EXPORT uint32_t Q7M_API RDAX_FindNext(PDLNK_FIND_INFO* info) {
  return Find(x::kFindNext, &SEQUOR_FindNext, info);
}

Q7M_EXPORT void Q7M_API RDAX_FindClose(PDLNK_FIND_INFO* info) {
  const uintptr_t values[] = {Word(info)};
  TraceEntry(x::kFindClose, values);
  if (info != nullptr) SEQUOR_FindClose(info);
  FinishExport(x::kFindClose, info == nullptr ? RDAX_E_NULL_ARGUMENT : RDAX_OK, values);
}

Q7M_EXPORT uint32_t Q7M_API RDAX_LogErrorData(const RDAX* handle, const char* text) {
  const uintptr_t values[] = {Word(handle), Word(text)};
  TraceEntry(x::kLogErrorData, values);
  uint32_t result = RDAX_OK;
  if (handle == nullptr || text == nullptr) {
    result = RDAX_E_NULL_ARGUMENT;
  } else if (text[0] == '\0') {
    result = RDAX_E_PARAMETER;
  } else {
    // Written whatever the mask: starting the trace client is all it needs.
    (void)q7m::LibraryTrace().IsOn(0);
    q7m::LibraryTrace().Write("RDAX:User=%s", text);
  }
  FinishExport(x::kLogErrorData, result, values);
  if (handle != nullptr) SEQUOR_SetResult(Session(handle), result);
  return result;
}

}  // extern "C"

// Exported under its C++ name.
Q7M_EXPORT unsigned long Q7M_API RDAX_ResetDevice(const RDAX* handle) {
  const uintptr_t values[] = {Word(handle)};
  TraceEntry(x::kResetDevice, values);
  const uint32_t result = handle == nullptr
                              ? RDAX_E_NULL_ARGUMENT
                              : RdaxMapSequorCode(SEQUOR_DeviceReset(Session(handle)));
  return FinishExport(x::kResetDevice, result, values);
}
