// Views of shared memory. A view keeps its object alive (as on Win32: the
// memory stays shared, and openable by name, until the last view is
// unmapped and the last handle closed), so each view holds a reference,
// found again by its address when it is unmapped.
#include <sys/mman.h>

#include <map>
#include <mutex>

#include "file_mapping_object.h"
#include "q7m/platform_sys.h"

namespace q7m::platform {

namespace {

struct View {
  size_t length;
  KernelObject* object;
};

struct ViewTable {
  std::mutex mutex;
  std::map<uintptr_t, View> views;
};

ViewTable& TheViews() {
  static ViewTable* table = new ViewTable;
  return *table;
}

}  // namespace

}  // namespace q7m::platform

using namespace q7m::platform;

extern "C" {

Q7M_EXPORT void* Q7M_API Q7M_MapViewOfFile(Q7M_HANDLE handle, uint32_t size) {
  ObjectRef ref = LookupHandle(handle, ObjectKind::kFileMapping);
  if (!ref) return nullptr;
  auto* mapping = static_cast<FileMappingObject*>(ref.get());
  if (size > mapping->size()) {
    Q7M_SetLastError(Q7M_ERROR_ACCESS_DENIED);
    return nullptr;
  }
  size_t length = size ? size : static_cast<size_t>(mapping->size());
  void* view = mapping->MapPayload(length);
  if (!view) return nullptr;
  ViewTable& t = TheViews();
  std::lock_guard lock(t.mutex);
  t.views[reinterpret_cast<uintptr_t>(view)] = View{length, ref.release_ownership()};
  return view;
}

Q7M_EXPORT int Q7M_API Q7M_UnmapViewOfFile(const void* address) {
  View view{};
  {
    ViewTable& t = TheViews();
    std::lock_guard lock(t.mutex);
    auto it = t.views.find(reinterpret_cast<uintptr_t>(address));
    if (it == t.views.end()) {
      Q7M_SetLastError(Q7M_ERROR_INVALID_ADDRESS);
      return 0;
    }
    view = it->second;
    t.views.erase(it);
  }
  munmap(const_cast<void*>(address), view.length);
  view.object->Release();
  return 1;
}

}  // extern "C"
