// The exported interface of libSCRIBEL.so.
#include <cstdarg>
#include <memory>
#include <new>

#include "handle_registry.h"
#include "q7m/common/results.h"
#include "q7m/scribel.h"

using q7m::trace::HandleRegistry;
using q7m::trace::TraceHandle;

namespace {

// One export call on a handle: keeps the caller's last-error value across
// the call and holds the handle's busy count while the call uses it.
class ExportCall {
 public:
  explicit ExportCall(SCRIBEL_HANDLE handle)
      : savedError_(Q7M_GetLastError()), handle_(HandleRegistry::Instance().Enter(handle)) {}
  ~ExportCall() {
    if (handle_ != nullptr) HandleRegistry::Instance().Leave(handle_);
    Q7M_SetLastError(savedError_);
  }
  ExportCall(const ExportCall&) = delete;
  ExportCall& operator=(const ExportCall&) = delete;

  TraceHandle* handle() const { return handle_; }

 private:
  uint32_t savedError_;
  TraceHandle* handle_;
};

int CreateHandle(SCRIBEL_HANDLE* out, const char* iniName, const char* moduleName) {
  HandleRegistry& registry = HandleRegistry::Instance();
  if (!registry.attached()) return 0;
  uint32_t savedError = Q7M_GetLastError();
  std::unique_ptr<TraceHandle> handle(new (std::nothrow) TraceHandle(registry.libraryAnchor()));
  if (!handle) {
    Q7M_SetLastError(Q7M_ERROR_OUTOFMEMORY);
    return 0;
  }
  if (handle->Configure(iniName, moduleName, registry.librarySection()) != q7m::kOk) return 0;
  handle->ownFlags = handle->GetLibraryInteger(registry.librarySection(), "TRACE");
  if ((handle->ownFlags & 0x1) != 0) {
    handle->WriteLine(Q7M_INFINITE, "T:SCRIBEL_Initialize Q1=0x%02lX P1=%s P2=%s",
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle.get())),
                      iniName, moduleName);
  }
  if (!registry.Link(handle.get())) return 0;
  *out = reinterpret_cast<SCRIBEL_HANDLE>(handle.release());
  Q7M_SetLastError(savedError);
  return 1;
}

}  // namespace

extern "C" {

Q7M_EXPORT int Q7M_API SCRIBEL_Initialize(SCRIBEL_HANDLE* handle, const char* iniName,
                                          const char* moduleName) {
  if (handle == nullptr) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return 0;
  }
  *handle = nullptr;
  try {
    return CreateHandle(handle, iniName, moduleName);
  } catch (...) {
    // Only allocation can throw here; nothing may cross the library boundary.
    Q7M_SetLastError(Q7M_ERROR_OUTOFMEMORY);
    return 0;
  }
}

Q7M_EXPORT uint32_t Q7M_API SCRIBEL_GetInteger(SCRIBEL_HANDLE handle, const char* key) {
  ExportCall call(handle);
  if (call.handle() == nullptr) return 0;
  try {
    return call.handle()->GetModuleInteger(key);
  } catch (...) {
    return 0;
  }
}

Q7M_EXPORT uint32_t Q7M_API SCRIBEL_GetRecordLength(SCRIBEL_HANDLE handle) {
  ExportCall call(handle);
  return call.handle() != nullptr ? call.handle()->recordLength() : 0;
}

Q7M_EXPORT void Q7M_API SCRIBEL_Lock(SCRIBEL_HANDLE handle) {
  ExportCall call(handle);
  if (call.handle() != nullptr) call.handle()->LockRing();
}

Q7M_EXPORT void Q7M_API SCRIBEL_UnLock(SCRIBEL_HANDLE handle) {
  ExportCall call(handle);
  if (call.handle() != nullptr) call.handle()->UnlockRing();
}

Q7M_EXPORT void Q7M_API SCRIBEL_Output(SCRIBEL_HANDLE handle, const void* text, uint32_t count) {
  ExportCall call(handle);
  if (call.handle() != nullptr) call.handle()->WriteRecord(text, count);
}

Q7M_EXPORT void SCRIBEL_vOutputf(SCRIBEL_HANDLE handle, const char* format, va_list args) {
  ExportCall call(handle);
  if (call.handle() != nullptr) call.handle()->WriteFormatted(format, args);
}

Q7M_EXPORT void SCRIBEL_Outputf(SCRIBEL_HANDLE handle, const char* format, ...) {
  ExportCall call(handle);
  if (call.handle() == nullptr) return;
  va_list args;
  va_start(args, format);
  call.handle()->WriteFormatted(format, args);
  va_end(args);
}

}  // extern "C"
