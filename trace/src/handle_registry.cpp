#include "handle_registry.h"

#include <chrono>
#include <new>

#include "q7m/platform_sys.h"

namespace q7m::trace {

HandleRegistry& HandleRegistry::Instance() {
  alignas(HandleRegistry) static unsigned char storage[sizeof(HandleRegistry)];
  static HandleRegistry* instance = new (storage) HandleRegistry();
  return *instance;
}

void HandleRegistry::Attach(const void* libraryAnchor) {
  std::lock_guard<std::mutex> lock(mutex_);
  libraryAnchor_ = libraryAnchor;
  char name[sizeof librarySection_];
  uint32_t saved = Q7M_GetLastError();
  uint32_t length = Q7M_GetModuleBaseName(libraryAnchor, name, sizeof name);
  Q7M_SetLastError(saved);
  if (length > 0 && length < sizeof name) {
    for (uint32_t i = 0; i <= length; ++i) librarySection_[i] = name[i];
  }
  head_ = nullptr;
  detaching_ = false;
  attached_ = true;
}

bool HandleRegistry::attached() {
  std::lock_guard<std::mutex> lock(mutex_);
  return attached_;
}

bool HandleRegistry::Link(TraceHandle* handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!attached_) return false;
  handle->next = head_;
  head_ = handle;
  return true;
}

TraceHandle* HandleRegistry::Enter(SCRIBEL_HANDLE handle) {
  if (handle == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  // Only handles of the list are used: a stale or foreign pointer is
  // refused instead of being dereferenced.
  for (TraceHandle* h = head_; h != nullptr; h = h->next) {
    if (reinterpret_cast<SCRIBEL_HANDLE>(h) == handle) {
      ++h->busy;
      return h;
    }
  }
  return nullptr;
}

void HandleRegistry::Leave(TraceHandle* handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--handle->busy == 0 && detaching_) idle_.notify_all();
}

bool HandleRegistry::AnyBusy(const TraceHandle* list) const {
  for (const TraceHandle* h = list; h != nullptr; h = h->next) {
    if (h->busy != 0) return true;
  }
  return false;
}

void HandleRegistry::Detach(uint32_t waitLimitMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitLimitMs);

  TraceHandle* idle = nullptr;
  TraceHandle** idleTail = &idle;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    TraceHandle* taken = head_;
    head_ = nullptr;
    attached_ = false;
    detaching_ = true;
    idle_.wait_until(lock, deadline, [&] { return !AnyBusy(taken); });
    // With the list empty no export can raise a busy count again, so a
    // handle idle now stays idle. The idle ones keep their list order.
    while (taken != nullptr) {
      TraceHandle* h = taken;
      taken = taken->next;
      if (h->busy == 0) {
        h->next = nullptr;
        *idleTail = h;
        idleTail = &h->next;
      }
    }
  }

  while (idle != nullptr) {
    TraceHandle* h = idle;
    idle = idle->next;
    if ((h->ownFlags & 0x1) != 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      uint32_t limit = left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
      h->WriteLine(limit, "F:SCRIBEL_Detach P1=0x%02lX",
                   static_cast<unsigned long>(reinterpret_cast<uintptr_t>(h)));
    }
    delete h;
  }
}

}  // namespace q7m::trace
