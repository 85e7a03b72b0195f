// A file opened through Q7M_CreateFile: the descriptor and the access the
// caller asked for. The object owns the descriptor and closes it when the
// last reference goes (the handle's, or a call still running on it); every
// operation answers with a Win32 code (0 on success).
#pragma once

#include <cstdint>

#include "handle_table.h"

namespace q7m::platform {

class FileObject : public KernelObject {
 public:
  FileObject(int fd, uint32_t access) : KernelObject(ObjectKind::kFile), fd_(fd), access_(access) {}
  ~FileObject() override;

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
