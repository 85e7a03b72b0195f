#include "shared_object.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "object_file_name.h"
#include "q7m/platform_sys.h"
#include "robust_mutex.h"

namespace q7m::platform {

size_t ObjectPageSize() {
  static const size_t size = [] {
    long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<size_t>(page) : size_t{4096};
  }();
  return size;
}

static_assert(sizeof(ObjectPage) <= 4096);

SharedObject::~SharedObject() {
  if (fd_ < 0) return;
  if (!named()) {
    close(fd_);
    return;
  }
  NamespaceLock lock;
  if (lock.ok()) {
    UnregisterObject(lock, fileName_, this);
    CloseObjectFile(lock, fd_, fileName_, kind() == ObjectKind::kEvent);
  } else {
    // Cannot decide whether we were the last holder: leave the file; the
    // next creator finds it unheld and reuses it.
    close(fd_);
  }
}

void SharedObject::CloseKeepingPage(ObjectPage* page) {
  NamespaceLock lock;
  if (lock.ok()) {
    UnregisterObject(lock, fileName_, this);
    CloseAndKeepObjectFile(lock, fd_, fileName_, page);
  } else {
    UnmapObjectPage(page);
    close(fd_);
  }
  fd_ = -1;
}

KernelObject* OpenSharedObject(const char* name, ObjectKind kind, bool mayCreate,
                               SharedObjectFactory factory, const void* context, bool* existed) {
  std::string fileName;
  if (!ObjectFileName(name, &fileName)) {
    Q7M_SetLastError(Q7M_ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  NamespaceLock lock;
  if (!lock.ok()) return nullptr;

  bool wrongKind = false;
  if (KernelObject* object = FindRegisteredObject(lock, fileName, kind, &wrongKind)) {
    *existed = true;
    return object;
  }
  if (wrongKind) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return nullptr;
  }

  ObjectFile file;
  if (!OpenObjectFile(lock, fileName, kind, mayCreate, &file)) return nullptr;
  SharedObject* object = factory(lock, fileName, file, context);
  if (!object) {
    uint32_t error = Q7M_GetLastError();
    CloseObjectFile(lock, file.fd, fileName, kind == ObjectKind::kEvent);
    Q7M_SetLastError(error);
    return nullptr;
  }
  if (file.fresh) PublishObjectFile(file.fd);
  RegisterObject(lock, fileName, object, file.fd);
  *existed = !file.fresh;
  return object;
}

namespace {

// Writes a fresh first page (already zero) into the mapping; unmaps it and
// gives null with the last error on failure.
ObjectPage* WriteObjectPage(ObjectPage* mapped, ObjectKind kind, uint32_t flags, uint64_t dataSize,
                            bool processShared) {
  auto* page = new (mapped) ObjectPage{};
  int rc = InitRobustMutex(&page->lock.mutex, processShared);
  if (rc != 0) {
    UnmapObjectPage(page);
    Q7M_SetLastError(Q7M_Win32ErrorFromErrno(rc));
    return nullptr;
  }
  page->header.version = kObjectLayoutVersion;
  page->header.kind = static_cast<uint16_t>(kind);
  page->header.flags = flags;
  page->header.dataSize = dataSize;
  page->header.magic = kObjectMagic;
  return page;
}

}  // namespace

ObjectPage* InitObjectFile(int fd, off_t currentSize, ObjectPage* mapped, ObjectKind kind,
                           uint32_t flags, uint64_t dataSize, bool processShared) {
  const size_t pageSize = ObjectPageSize();
  if (mapped && (dataSize != 0 || currentSize != static_cast<off_t>(pageSize))) {
    // Resized by another process since: start from nothing.
    UnmapObjectPage(mapped);
    mapped = nullptr;
  }
  if (mapped) {
    // The file is one page already and stays so: only its contents are new.
    std::memset(static_cast<void*>(mapped), 0, pageSize);
    return WriteObjectPage(mapped, kind, flags, dataSize, processShared);
  }
  // Emptied first: a stale leftover's old contents must not show through.
  if (currentSize != 0 && ftruncate(fd, 0) != 0) {
    Q7M_SetLastErrorFromErrno();
    return nullptr;
  }
  // Reserved now, so a full file system is reported here instead of as a
  // SIGBUS on the first write through a view.
  int rc = posix_fallocate(fd, 0, static_cast<off_t>(pageSize + dataSize));
  if (rc != 0) {
    Q7M_SetLastError(rc == ENOSPC ? Q7M_ERROR_NOT_ENOUGH_MEMORY : Q7M_Win32ErrorFromErrno(rc));
    return nullptr;
  }
  void* map = mmap(nullptr, pageSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    Q7M_SetLastErrorFromErrno();
    return nullptr;
  }
  return WriteObjectPage(static_cast<ObjectPage*>(map), kind, flags, dataSize, processShared);
}

namespace {

bool HeaderFits(const ObjectHeader& h, off_t size, ObjectKind kind) {
  const uint64_t pageSize = ObjectPageSize();
  return h.magic == kObjectMagic && h.version == kObjectLayoutVersion &&
         h.kind == static_cast<uint16_t>(kind) &&
         h.dataSize <= static_cast<uint64_t>(size) - pageSize &&
         h.dataSize + pageSize == static_cast<uint64_t>(size);
}

}  // namespace

ObjectPage* AttachObjectFile(int fd, off_t size, ObjectPage* mapped, ObjectKind kind) {
  const size_t pageSize = ObjectPageSize();
  if (size < static_cast<off_t>(pageSize)) {
    UnmapObjectPage(mapped);
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* map = mapped;
  if (!map) map = mmap(nullptr, pageSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    Q7M_SetLastErrorFromErrno();
    return nullptr;
  }
  auto* page = static_cast<ObjectPage*>(map);
  if (!HeaderFits(page->header, size, kind)) {
    munmap(map, pageSize);
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return page;
}

bool ReadObjectHeader(int fd, off_t size, ObjectKind kind, ObjectHeader* header) {
  if (size < static_cast<off_t>(ObjectPageSize())) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return false;
  }
  ssize_t n;
  do {
    n = pread(fd, header, sizeof *header, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    Q7M_SetLastErrorFromErrno();
    return false;
  }
  if (n != static_cast<ssize_t>(sizeof *header) || !HeaderFits(*header, size, kind)) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

void UnmapObjectPage(ObjectPage* page) {
  if (page) munmap(page, ObjectPageSize());
}

}  // namespace q7m::platform
