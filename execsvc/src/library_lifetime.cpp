// Attaching the library to a process and detaching it again.
#include <dlfcn.h>

#include "sequor_trace.h"
#include "session_lifetime.h"

namespace {

void AnchorFunction() {}

const void* LibraryAnchor() {
  return reinterpret_cast<const void*>(&AnchorFunction);
}

// The module handle the attach and detach lines print: the address the
// library is loaded at.
unsigned ModuleHandleWord() {
  Dl_info info{};
  return dladdr(LibraryAnchor(), &info) != 0 ? q7m::TraceWord(info.dli_fbase) : 0u;
}

}  // namespace

__attribute__((constructor)) static void SequorAttach() {
  q7m::LibraryTrace().Attach(LibraryAnchor());
  Q7M_TRACE(q7m::kTraceAttach, "SEQUOR: DLL Atached=0x%08X Version 1.3.0.0, 2006/09/28",
            ModuleHandleWord());
}

__attribute__((destructor)) static void SequorDetach() {
  // What callers left open is given back with the library: port handles,
  // the shared block's count, held locks.
  q7m::CloseIdleSessions();
  Q7M_TRACE(q7m::kTraceAttach, "SEQUOR:DLL Detached=0x%08X", ModuleHandleWord());
  q7m::LibraryTrace().Detach();
}
