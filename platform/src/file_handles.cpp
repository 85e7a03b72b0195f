#include "file_handles.h"

namespace q7m::platform {

Q7M_HANDLE InsertFileHandle(std::unique_ptr<FileObject> file) {
  // The table takes over the object's initial reference.
  return InsertHandle(file.release());
}

FileRef FindFileHandle(Q7M_HANDLE handle) {
  return FileRef(LookupHandle(handle, ObjectKind::kFile));
}

}  // namespace q7m::platform
