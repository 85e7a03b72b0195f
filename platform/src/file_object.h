// A file opened through Q7M_CreateFile: the descriptor and the access the
// caller asked for. The object owns the descriptor and closes it when it is
// destroyed; every operation answers with a Win32 code (0 on success).
#pragma once

#include <cstdint>

namespace q7m::platform {

class FileObject {
 public:
  FileObject(int fd, uint32_t access) : fd_(fd), access_(access) {}
  ~FileObject();
  FileObject(const FileObject&) = delete;
  FileObject& operator=(const FileObject&) = delete;

  // At the file pointer, which then moves on. Short only at end of file.
  uint32_t Read(void* buffer, uint32_t count, uint32_t* done);
  // At the file pointer; loops until everything is written or it fails.
  uint32_t Write(const void* buffer, uint32_t count, uint32_t* done);
  // Positioned forms: the file pointer stays where it is, so threads that
  // share the object need no lock around a seek + transfer pair.
  uint32_t ReadAt(uint64_t offset, void* buffer, uint32_t count, uint32_t* done);
  uint32_t WriteAt(uint64_t offset, const void* buffer, uint32_t count, uint32_t* done);
  uint32_t Seek(uint64_t offset);
  uint32_t Flush();
  uint32_t Size(uint64_t* size);

  int fd() const { return fd_; }

 private:
  int fd_;
  uint32_t access_;
};

}  // namespace q7m::platform
