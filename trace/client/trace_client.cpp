#include "q7m/trace_client.h"

#include <new>

#include "q7m/platform_sys.h"
#include "trace_binding.h"

namespace q7m {

namespace {
// The INI file every client library reads its settings from.
constexpr const char kTraceIniName[] = "SCRIBEL";
// Longest module file name the client takes as its module name.
constexpr uint32_t kModuleNameCapacity = 263;

constinit TraceClient gLibraryTrace;
}  // namespace

TraceClient& LibraryTrace() {
  return gLibraryTrace;
}

void TraceClient::Attach(const void* ownModule) {
  std::lock_guard<std::mutex> lock(startMutex_);
  if (record_ != nullptr) return;
  ownModule_ = ownModule;
  record_ = new (std::nothrow) Binding();
  started_.store(false, std::memory_order_release);
}

bool TraceClient::IsOn(uint32_t bits) {
  if (!started_.load(std::memory_order_acquire)) Start();
  return active_.load(std::memory_order_acquire) != nullptr &&
         (mask_.load(std::memory_order_relaxed) & bits) != 0;
}

void TraceClient::Start() {
  std::lock_guard<std::mutex> lock(startMutex_);
  if (started_.load(std::memory_order_relaxed)) return;
  // Loading and initialising set the last error on their failures; the
  // carrying library may be about to report its own value to its caller.
  uint32_t savedError = Q7M_GetLastError();
  if (record_ != nullptr) {
    if (Bind(record_)) {
      active_.store(record_, std::memory_order_release);
    } else {
      Release(record_);
      record_ = nullptr;
    }
  }
  started_.store(true, std::memory_order_release);
  Q7M_SetLastError(savedError);
}

template <typename Fn>
static bool LookUp(Q7M_HMODULE module, const char* name, Fn* entry) {
  *entry = reinterpret_cast<Fn>(Q7M_GetProcAddress(module, name));
  return *entry != nullptr;
}

bool TraceClient::Bind(Binding* b) {
  b->module = Q7M_LoadLibrary(libraryName_, ownModule_);
  if (b->module == nullptr) return false;
  if (!LookUp(b->module, "SCRIBEL_Initialize", &b->initialize) ||
      !LookUp(b->module, "SCRIBEL_GetRecordLength", &b->getRecordLength) ||
      !LookUp(b->module, "SCRIBEL_GetInteger", &b->getInteger) ||
      !LookUp(b->module, "SCRIBEL_Lock", &b->lock) ||
      !LookUp(b->module, "SCRIBEL_UnLock", &b->unlock) ||
      !LookUp(b->module, "SCRIBEL_Output", &b->output) ||
      !LookUp(b->module, "SCRIBEL_Outputf", &b->outputf) ||
      !LookUp(b->module, "SCRIBEL_vOutputf", &b->voutputf)) {
    return false;
  }
  char moduleName[kModuleNameCapacity] = {};
  if (Q7M_GetModuleBaseName(ownModule_, moduleName, sizeof moduleName) == 0) moduleName[0] = 0;
  if (b->initialize(&b->handle, kTraceIniName, moduleName) == 0) return false;
  mask_.store(b->getInteger(b->handle, nullptr), std::memory_order_relaxed);
  recordLength_.store(b->getRecordLength(b->handle), std::memory_order_relaxed);
  return true;
}

void TraceClient::Release(Binding* binding) {
  if (binding == nullptr) return;
  if (binding->module != nullptr) Q7M_FreeLibrary(binding->module);
  delete binding;
}

void TraceClient::Write(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(format, args);
  va_end(args);
}

void TraceClient::WriteV(const char* format, va_list args) {
  Binding* b = active_.load(std::memory_order_acquire);
  if (b != nullptr) b->voutputf(b->handle, format, args);
}

void TraceClient::Detach() {
  std::lock_guard<std::mutex> lock(startMutex_);
  active_.store(nullptr, std::memory_order_release);
  started_.store(true, std::memory_order_release);
  uint32_t savedError = Q7M_GetLastError();
  Release(record_);
  record_ = nullptr;
  mask_.store(0, std::memory_order_relaxed);
  recordLength_.store(0, std::memory_order_relaxed);
  Q7M_SetLastError(savedError);
}

}  // namespace q7m
