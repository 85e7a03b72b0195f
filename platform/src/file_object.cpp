#include "file_object.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>

#include "q7m/platform_sys.h"

namespace q7m::platform {

namespace {

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

// Loops a read-like call until `count` bytes moved, end of file (0) or an
// error. `step(buffer, n, doneSoFar)` returns what read/pread return.
template <typename Step>
uint32_t Transfer(char* buffer, uint32_t count, uint32_t* done, Step step) {
  uint32_t moved = 0;
  uint32_t result = Q7M_ERROR_SUCCESS;
  while (moved < count) {
    ssize_t n = step(buffer + moved, count - moved, moved);
    if (n < 0) {
      if (errno == EINTR) continue;
      result = Q7M_Win32ErrorFromErrno(errno);
      break;
    }
    if (n == 0) break;
    moved += static_cast<uint32_t>(n);
  }
  if (done != nullptr) *done = moved;
  return result;
}

}  // namespace

FileObject::~FileObject() {
  if (fd_ >= 0) close(fd_);
}

uint32_t FileObject::Read(void* buffer, uint32_t count, uint32_t* done) {
  if (done != nullptr) *done = 0;
  if ((access_ & Q7M_GENERIC_READ) == 0) return Q7M_ERROR_ACCESS_DENIED;
  if (buffer == nullptr && count > 0) return Q7M_ERROR_INVALID_PARAMETER;
  return Transfer(static_cast<char*>(buffer), count, done,
                  [this](char* p, uint32_t n, uint32_t) { return read(fd_, p, n); });
}

uint32_t FileObject::Write(const void* buffer, uint32_t count, uint32_t* done) {
  if (done != nullptr) *done = 0;
  if ((access_ & Q7M_GENERIC_WRITE) == 0) return Q7M_ERROR_ACCESS_DENIED;
  if (buffer == nullptr && count > 0) return Q7M_ERROR_INVALID_PARAMETER;
  uint32_t moved = 0;
  uint32_t rc = Transfer(const_cast<char*>(static_cast<const char*>(buffer)), count, &moved,
                         [this](char* p, uint32_t n, uint32_t) { return write(fd_, p, n); });
  if (done != nullptr) *done = moved;
  // write() returning 0 for a non-empty request means no progress is
  // possible; report it rather than claim success for a partial write.
  if (rc == Q7M_ERROR_SUCCESS && moved < count) return Q7M_ERROR_WRITE_FAULT;
  return rc;
}

uint32_t FileObject::ReadAt(uint64_t offset, void* buffer, uint32_t count, uint32_t* done) {
  if (done != nullptr) *done = 0;
  if ((access_ & Q7M_GENERIC_READ) == 0) return Q7M_ERROR_ACCESS_DENIED;
  if ((buffer == nullptr && count > 0) || offset > kMaxOffset - count) {
    return Q7M_ERROR_INVALID_PARAMETER;
  }
  return Transfer(static_cast<char*>(buffer), count, done,
                  [&](char* p, uint32_t n, uint32_t sofar) {
                    return pread(fd_, p, n, static_cast<off_t>(offset + sofar));
                  });
}

uint32_t FileObject::WriteAt(uint64_t offset, const void* buffer, uint32_t count, uint32_t* done) {
  if (done != nullptr) *done = 0;
  if ((access_ & Q7M_GENERIC_WRITE) == 0) return Q7M_ERROR_ACCESS_DENIED;
  if ((buffer == nullptr && count > 0) || offset > kMaxOffset - count) {
    return Q7M_ERROR_INVALID_PARAMETER;
  }
  uint32_t moved = 0;
  uint32_t rc = Transfer(const_cast<char*>(static_cast<const char*>(buffer)), count, &moved,
                         [&](char* p, uint32_t n, uint32_t sofar) {
                           return pwrite(fd_, p, n, static_cast<off_t>(offset + sofar));
                         });
  if (done != nullptr) *done = moved;
  if (rc == Q7M_ERROR_SUCCESS && moved < count) return Q7M_ERROR_WRITE_FAULT;
  return rc;
}

uint32_t FileObject::Seek(uint64_t offset) {
  if (offset > kMaxOffset) return Q7M_ERROR_INVALID_PARAMETER;
  if (lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return Q7M_Win32ErrorFromErrno(errno);
  return Q7M_ERROR_SUCCESS;
}

uint32_t FileObject::Flush() {
  if ((access_ & Q7M_GENERIC_WRITE) == 0) return Q7M_ERROR_ACCESS_DENIED;
  while (fdatasync(fd_) != 0) {
    if (errno != EINTR) return Q7M_Win32ErrorFromErrno(errno);
  }
  return Q7M_ERROR_SUCCESS;
}

uint32_t FileObject::Size(uint64_t* size) {
  struct stat st {};
  if (fstat(fd_, &st) != 0) return Q7M_Win32ErrorFromErrno(errno);
  *size = static_cast<uint64_t>(st.st_size);
  return Q7M_ERROR_SUCCESS;
}

}  // namespace q7m::platform
