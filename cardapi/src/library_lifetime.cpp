// Attaching the library to a process and detaching it again.
#include <dlfcn.h>

#include "rdax_trace.h"

namespace {

void AnchorFunction() {}

const void* LibraryAnchor() {
  return reinterpret_cast<const void*>(&AnchorFunction);
}

// The module handle the attach and detach lines print: the address the
// library is loaded at.
unsigned ModuleHandleWord() {
  Dl_info info{};
  return dladdr(LibraryAnchor(), &info) != 0
             ? q7m::rdax::TraceWord(reinterpret_cast<uintptr_t>(info.dli_fbase))
             : 0u;
}

}  // namespace

__attribute__((constructor)) static void RdaxAttach() {
  q7m::LibraryTrace().Attach(LibraryAnchor());
  Q7M_TRACE(q7m::rdax::kTraceFatal, "RDAX:DLL Atached=0x%08X", ModuleHandleWord());
}

__attribute__((destructor)) static void RdaxDetach() {
  Q7M_TRACE(q7m::rdax::kTraceFatal, "RDAX:DLL Detached=0x%08X", ModuleHandleWord());
  q7m::LibraryTrace().Detach();
}
