// Interim home of file handles, until the kernel-object handle table takes
// them over: a map from handle number to file, with numbers never reused so
// a stale handle can never reach another file.
#include "file_handles.h"

#include <cstdint>
#include <map>
#include <mutex>

#include "q7m/platform_sys.h"

namespace q7m::platform {

namespace {

struct FileTable {
  std::mutex lock;
  std::map<uintptr_t, std::shared_ptr<FileObject>> files;
  uintptr_t next = 0x10001;
};

FileTable& Table() {
  static FileTable* table = new FileTable;  // outlives static destructors
  return *table;
}

}  // namespace

Q7M_HANDLE InsertFileHandle(std::unique_ptr<FileObject> file) {
  FileTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  uintptr_t id = t.next;
  t.next += 2;
  t.files.emplace(id, std::shared_ptr<FileObject>(std::move(file)));
  return reinterpret_cast<Q7M_HANDLE>(id);
}

std::shared_ptr<FileObject> FindFileHandle(Q7M_HANDLE handle) {
  FileTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.files.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.files.end() ? nullptr : it->second;
}

bool CloseFileHandle(Q7M_HANDLE handle) {
  std::shared_ptr<FileObject> file;
  {
    FileTable& t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.files.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.files.end()) return false;
    file = std::move(it->second);
    t.files.erase(it);
  }
  return true;  // the descriptor closes with the last reference, outside the lock
}

}  // namespace q7m::platform

// Until the kernel-object handle table provides Q7M_CloseHandle, this one
// closes file handles. It is weak so that the table's definition replaces it
// without a link conflict.
extern "C" Q7M_EXPORT __attribute__((weak)) int Q7M_API Q7M_CloseHandle(Q7M_HANDLE handle) {
  if (q7m::platform::CloseFileHandle(handle)) return 1;
  Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
  return 0;
}
