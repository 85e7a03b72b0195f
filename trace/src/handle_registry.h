// The process's trace handles: the list, their busy counts, and the
// library's attachment to the process. Handles are created one at a time,
// live until the library leaves the process, and are destroyed only once no
// export is using them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "q7m/scribel.h"
#include "trace_handle.h"

namespace q7m::trace {

class HandleRegistry {
 public:
  // The one registry of this copy of the library. It is never destroyed, so
  // an export that a straggling thread calls during process exit still
  // finds a valid (if empty) registry.
  static HandleRegistry& Instance();

  // The library has been loaded into the process. `libraryAnchor` is an
  // address inside it; its base name names the library's INI section.
  void Attach(const void* libraryAnchor);
  // The library leaves the process: the list is taken and emptied (every
  // export refuses from now on), handles still busy are waited for (at most
  // `waitLimitMs`), and every idle handle is destroyed after writing its
  // detach record when its own flags ask for it. A handle still busy at the
  // limit is left alive, so the thread using it never touches freed memory.
  void Detach(uint32_t waitLimitMs);

  bool attached();
  const void* libraryAnchor() const { return libraryAnchor_; }
  const char* librarySection() const { return librarySection_; }

  // Puts a configured handle at the front of the list; false when the
  // library has begun to leave (the caller destroys the handle then).
  bool Link(TraceHandle* handle);
  // Raises the busy count of `handle` when it is one of the listed handles;
  // null otherwise (null handle, unknown handle, library leaving).
  TraceHandle* Enter(SCRIBEL_HANDLE handle);
  void Leave(TraceHandle* handle);

 private:
  HandleRegistry() = default;
  bool AnyBusy(const TraceHandle* list) const;

  std::mutex mutex_;
  std::condition_variable idle_;
  TraceHandle* head_ = nullptr;
  bool attached_ = false;
  bool detaching_ = false;
  const void* libraryAnchor_ = nullptr;
  char librarySection_[64] = "SCRIBEL";
};

}  // namespace q7m::trace
