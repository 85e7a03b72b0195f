#include "unix_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace q7msim {

namespace {
bool MakeAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}
}  // namespace

bool FitsSocketPath(const std::string& path) {
  sockaddr_un address;
  return MakeAddress(path, &address);
}

int ConnectSeqpacket(const std::string& path) {
  sockaddr_un address;
  if (!MakeAddress(path, &address)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

int ListenSeqpacket(const std::string& path, int backlog, std::string* error) {
  sockaddr_un address;
  if (!MakeAddress(path, &address)) {
    *error = "socket path too long: " + path;
    return -1;
  }
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      *error = path + " exists and is not a socket";
      return -1;
    }
    int probe = ConnectSeqpacket(path);
    if (probe >= 0) {
      close(probe);
      *error = path + " is in use by a running process";
      return -1;
    }
    // Nobody answers: a leftover of a process that ended without cleaning up.
    if (errno == ECONNREFUSED) unlink(path.c_str());
  }
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, backlog) != 0) {
    *error = "cannot listen on " + path + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace q7msim
