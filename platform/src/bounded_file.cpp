#include "bounded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "q7m/platform_sys.h"

namespace q7m::platform {

uint32_t ReadBoundedFile(const char* path, size_t limit, std::string* content) {
  content->clear();
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused
  // below as "not a regular file" anyway.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return Q7M_Win32ErrorFromErrno(errno);
  struct stat st {};
  uint32_t result = Q7M_ERROR_SUCCESS;
  if (fstat(fd, &st) != 0) {
    result = Q7M_Win32ErrorFromErrno(errno);
  } else if (S_ISDIR(st.st_mode)) {
    result = Q7M_ERROR_ACCESS_DENIED;
  } else if (!S_ISREG(st.st_mode) || st.st_size < 0 || static_cast<size_t>(st.st_size) > limit) {
    result = Q7M_ERROR_INVALID_DATA;
  } else {
    content->resize(static_cast<size_t>(st.st_size));
    size_t filled = 0;
    // The file may change while it is read: stop at end of file, and treat
    // growth beyond the bound like an oversized file.
    for (;;) {
      if (filled == content->size()) {
        if (content->size() > limit) {
          result = Q7M_ERROR_INVALID_DATA;
          break;
        }
        content->resize(content->size() + 4096);
      }
      ssize_t n = read(fd, content->data() + filled, content->size() - filled);
      if (n < 0) {
        if (errno == EINTR) continue;
        result = Q7M_Win32ErrorFromErrno(errno);
        break;
      }
      if (n == 0) break;
      filled += static_cast<size_t>(n);
    }
    content->resize(result == Q7M_ERROR_SUCCESS ? filled : 0);
  }
  close(fd);
  return result;
}

}  // namespace q7m::platform
