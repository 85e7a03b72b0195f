#include "file_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "q7m/platform_sys.h"

namespace q7m::platform {

namespace {

constexpr mode_t kNewFileMode = 0644;
// Another process may create or remove the file between our two attempts
// of an "open or create" step; a few rounds settle any realistic race.
constexpr int kOpenAttempts = 8;

int OpenRaw(const char* path, int flags) {
  int fd;
  do {
    fd = open(path, flags, kNewFileMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// ENOENT means a missing file when the directory exists, else a missing
// path: Win32 tells the two apart and callers show different texts.
uint32_t MissingError(const char* path) {
  std::string dir = path;
  size_t slash = dir.rfind('/');
  if (slash == std::string::npos) return Q7M_ERROR_FILE_NOT_FOUND;
  dir.resize(slash == 0 ? 1 : slash);
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Q7M_ERROR_FILE_NOT_FOUND;
  return Q7M_ERROR_PATH_NOT_FOUND;
}

uint32_t ErrorOfOpen(const char* path, int err) {
  if (err == ENOENT) return MissingError(path);
  if (err == EISDIR) return Q7M_ERROR_ACCESS_DENIED;
  return Q7M_Win32ErrorFromErrno(err);
}

}  // namespace

uint32_t OpenFileObject(const char* path, uint32_t access, uint32_t disposition,
                        std::unique_ptr<FileObject>* file, bool* existed) {
  *existed = false;
  if (path == nullptr) return Q7M_ERROR_INVALID_PARAMETER;
  if (*path == '\0') return Q7M_ERROR_PATH_NOT_FOUND;

  bool read = (access & Q7M_GENERIC_READ) != 0;
  bool write = (access & Q7M_GENERIC_WRITE) != 0;
  int flags = O_CLOEXEC | O_NOCTTY;
  if (read && write) {
    flags |= O_RDWR;
  } else if (write) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }

  int fd = -1;
  switch (disposition) {
    case Q7M_CREATE_NEW:
      fd = OpenRaw(path, flags | O_CREAT | O_EXCL);
      if (fd < 0 && errno == EEXIST) return Q7M_ERROR_FILE_EXISTS;
      break;
    case Q7M_CREATE_ALWAYS:
      for (int i = 0; i < kOpenAttempts && fd < 0; ++i) {
        fd = OpenRaw(path, flags | O_CREAT | O_EXCL);
        if (fd >= 0 || errno != EEXIST) break;
        fd = OpenRaw(path, flags | O_TRUNC);
        *existed = fd >= 0;
        if (fd < 0 && errno != ENOENT) break;
      }
      break;
    case Q7M_OPEN_EXISTING:
      fd = OpenRaw(path, flags);
      *existed = fd >= 0;
      break;
    case Q7M_OPEN_ALWAYS:
      for (int i = 0; i < kOpenAttempts && fd < 0; ++i) {
        fd = OpenRaw(path, flags);
        if (fd >= 0) {
          *existed = true;
          break;
        }
        if (errno != ENOENT) break;
        fd = OpenRaw(path, flags | O_CREAT | O_EXCL);
        if (fd >= 0 || errno != EEXIST) break;
      }
      break;
    case Q7M_TRUNCATE_EXISTING:
      if (!write) return Q7M_ERROR_INVALID_PARAMETER;
      fd = OpenRaw(path, flags | O_TRUNC);
      *existed = fd >= 0;
      break;
    default:
      return Q7M_ERROR_INVALID_PARAMETER;
  }
  if (fd < 0) return ErrorOfOpen(path, errno);

  // A directory opens read-only on Linux; Win32 refuses it as a file.
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    uint32_t rc = S_ISDIR(st.st_mode) ? Q7M_ERROR_ACCESS_DENIED : Q7M_Win32ErrorFromErrno(errno);
    close(fd);
    return rc;
  }
  *file = std::make_unique<FileObject>(fd, access);
  return Q7M_ERROR_SUCCESS;
}

}  // namespace q7m::platform
