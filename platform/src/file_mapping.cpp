// Shared-memory objects and their exported create/open/size functions.
#include <sys/mman.h>
#include <unistd.h>

#include "file_mapping_object.h"
#include "q7m/platform_sys.h"

namespace q7m::platform {

void* FileMappingObject::MapPayload(size_t length) const {
  void* view = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd(),
                    static_cast<off_t>(ObjectPageSize()));
  if (view == MAP_FAILED) {
    Q7M_SetLastErrorFromErrno();
    return nullptr;
  }
  return view;
}

namespace {

// context: the requested size (null for open-only).
SharedObject* MakeNamedMapping(const NamespaceLock&, std::string fileName, const ObjectFile& file,
                               const void* context) {
  uint64_t size;
  // Views map the payload directly; the header page is not kept mapped.
  if (file.fresh) {
    if (!context) {
      Q7M_SetLastError(Q7M_ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    size = *static_cast<const uint32_t*>(context);
    ObjectPage* page =
        InitObjectFile(file.fd, file.size, nullptr, ObjectKind::kFileMapping, 0, size, true);
    if (!page) return nullptr;
    UnmapObjectPage(page);
  } else {
    ObjectHeader header;
    if (!ReadObjectHeader(file.fd, file.size, ObjectKind::kFileMapping, &header)) return nullptr;
    size = header.dataSize;
  }
  return new FileMappingObject(std::move(fileName), file.fd, size);
}

FileMappingObject* MakeUnnamedMapping(uint32_t size) {
  int fd = memfd_create("q7m-mapping", MFD_CLOEXEC);
  if (fd < 0) {
    Q7M_SetLastErrorFromErrno();
    return nullptr;
  }
  ObjectPage* page = InitObjectFile(fd, 0, nullptr, ObjectKind::kFileMapping, 0, size, false);
  if (!page) {
    close(fd);
    return nullptr;
  }
  UnmapObjectPage(page);
  return new FileMappingObject(std::string(), fd, size);
}

}  // namespace

}  // namespace q7m::platform

using namespace q7m::platform;

extern "C" {

Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_CreateFileMapping(const char* name, uint32_t size) {
  if (size == 0) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  KernelObject* mapping;
  bool existed = false;
  if (IsObjectName(name)) {
    mapping =
        OpenSharedObject(name, ObjectKind::kFileMapping, true, MakeNamedMapping, &size, &existed);
  } else {
    mapping = MakeUnnamedMapping(size);
  }
  if (!mapping) return nullptr;
  Q7M_HANDLE handle = InsertHandle(mapping);
  if (handle) Q7M_SetLastError(existed ? Q7M_ERROR_ALREADY_EXISTS : Q7M_ERROR_SUCCESS);
  return handle;
}

Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_OpenFileMapping(const char* name) {
  if (!IsObjectName(name)) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool existed = false;
  KernelObject* mapping =
      OpenSharedObject(name, ObjectKind::kFileMapping, false, MakeNamedMapping, nullptr, &existed);
  return mapping ? InsertHandle(mapping) : nullptr;
}

Q7M_EXPORT uint32_t Q7M_API Q7M_GetFileMappingSize(Q7M_HANDLE handle) {
  ObjectRef ref = LookupHandle(handle, ObjectKind::kFileMapping);
  if (!ref) return 0;
  return static_cast<uint32_t>(static_cast<FileMappingObject*>(ref.get())->size());
}

}  // extern "C"
