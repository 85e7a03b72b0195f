// Attaching the library to a process and detaching it again.
#include <cstdlib>
#include <new>

#include "cls_com_list.h"
#include "library_state.h"
#include "pdlnk_trace.h"
#include "q7m/platform_sys.h"

namespace q7m {

namespace {

clsComList* gDeviceTable = nullptr;

void AnchorFunction() {}

}  // namespace

clsComList* DeviceTable() {
  return gDeviceTable;
}

const void* LibraryAnchor() {
  return reinterpret_cast<const void*>(&AnchorFunction);
}

}  // namespace q7m

using namespace q7m;

__attribute__((constructor)) static void PdlnkAttach() {
  // The random padding of encrypted messages uses the C library generator.
  std::srand(Q7M_GetTickCount());
  LibraryTrace().Attach(LibraryAnchor());
  // A shared object's constructor cannot refuse the load. Without a table
  // the library stays loaded but every export answers as an uninitialised
  // one: PDLNK_SYSTEM_ERROR with Q7M_ERROR_OUTOFMEMORY from PDLNK_Open,
  // PDLNK_INVALID_HANDLE from the others.
  gDeviceTable = new (std::nothrow) clsComList(LibraryAnchor());
  if (gDeviceTable == nullptr) Q7M_SetLastError(Q7M_ERROR_OUTOFMEMORY);
}

__attribute__((destructor)) static void PdlnkDetach() {
  // The trace client goes first, so closing the devices writes no lines.
  LibraryTrace().Detach();
  clsComList* table = gDeviceTable;
  gDeviceTable = nullptr;
  delete table;
}
