// The exported file functions: handle lookup around FileObject, with the
// Win32 convention of 1/0 results and the reason in the last error.
#include <memory>

#include "file_handles.h"
#include "file_open.h"
#include "q7m/platform_sys.h"

namespace {

using q7m::platform::FileObject;
using q7m::platform::FileRef;

int Done(uint32_t rc) {
  if (rc == Q7M_ERROR_SUCCESS) return 1;
  Q7M_SetLastError(rc);
  return 0;
}

// Sets Q7M_ERROR_INVALID_HANDLE when `handle` is no open file.
FileRef Lookup(Q7M_HANDLE handle) {
  return q7m::platform::FindFileHandle(handle);
}

}  // namespace

extern "C" {

Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_CreateFile(const char* path, uint32_t access, uint32_t shareMode,
                                             uint32_t disposition) {
  (void)shareMode;  // Linux has no share modes; callers coordinate themselves.
  std::unique_ptr<FileObject> file;
  bool existed = false;
  uint32_t rc = q7m::platform::OpenFileObject(path, access, disposition, &file, &existed);
  if (rc != Q7M_ERROR_SUCCESS) {
    Q7M_SetLastError(rc);
    return nullptr;
  }
  Q7M_HANDLE handle = q7m::platform::InsertFileHandle(std::move(file));
  if (handle != nullptr && (disposition == Q7M_CREATE_ALWAYS || disposition == Q7M_OPEN_ALWAYS)) {
    Q7M_SetLastError(existed ? Q7M_ERROR_ALREADY_EXISTS : Q7M_ERROR_SUCCESS);
  }
  return handle;
}

Q7M_EXPORT int Q7M_API Q7M_SetFilePointer(Q7M_HANDLE handle, uint64_t offset) {
  auto file = Lookup(handle);
  return file ? Done(file->Seek(offset)) : 0;
}

Q7M_EXPORT int Q7M_API Q7M_ReadFile(Q7M_HANDLE handle, void* buffer, uint32_t count,
                                    uint32_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  auto file = Lookup(handle);
  return file ? Done(file->Read(buffer, count, bytesRead)) : 0;
}

Q7M_EXPORT int Q7M_API Q7M_WriteFile(Q7M_HANDLE handle, const void* buffer, uint32_t count,
                                     uint32_t* bytesWritten) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  auto file = Lookup(handle);
  return file ? Done(file->Write(buffer, count, bytesWritten)) : 0;
}

Q7M_EXPORT int Q7M_API Q7M_ReadFileAt(Q7M_HANDLE handle, uint64_t offset, void* buffer,
                                      uint32_t count, uint32_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  auto file = Lookup(handle);
  return file ? Done(file->ReadAt(offset, buffer, count, bytesRead)) : 0;
}

Q7M_EXPORT int Q7M_API Q7M_WriteFileAt(Q7M_HANDLE handle, uint64_t offset, const void* buffer,
                                       uint32_t count, uint32_t* bytesWritten) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  auto file = Lookup(handle);
  return file ? Done(file->WriteAt(offset, buffer, count, bytesWritten)) : 0;
}

Q7M_EXPORT int Q7M_API Q7M_FlushFileBuffers(Q7M_HANDLE handle) {
  auto file = Lookup(handle);
  return file ? Done(file->Flush()) : 0;
}

Q7M_EXPORT int Q7M_API Q7M_GetFileSize(Q7M_HANDLE handle, uint64_t* size) {
  if (size == nullptr) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto file = Lookup(handle);
  return file ? Done(file->Size(size)) : 0;
}

}  // extern "C"
