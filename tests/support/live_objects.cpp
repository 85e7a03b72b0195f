#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "q7m_test.h"

namespace q7mtest {

// A probe of our own takes the exclusive flock without waiting: it is
// granted only when no open file description anywhere (this process's own
// objects included) holds a flock on the file. The probe removes nothing, so
// it never races an opener over the name; closing drops the flock at once.
std::vector<std::string> LiveObjectNames() {
  std::vector<std::string> names;
  const char* dir = std::getenv("Q7M_OBJECT_DIR");
  if (dir == nullptr) return names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    if (name == "%lock") continue;
    const int fd = open(entry.path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;  // gone meanwhile, or not an object file
    int rc;
    do rc = flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno == EWOULDBLOCK) names.push_back(name);
    close(fd);
  }
  return names;
}

}  // namespace q7mtest
