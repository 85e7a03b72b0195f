#include "control_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "unix_socket.h"

namespace q7msim {

bool SendControlCommand(const std::string& path, const std::string& command, int timeoutMs,
                        std::string* answer, std::string* error) {
  int fd = ConnectSeqpacket(path);
  if (fd < 0) {
    *error = "no emulator at " + path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = false;
  if (send(fd, command.data(), command.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(command.size())) {
    *error = std::string("send: ") + std::strerror(errno);
  } else {
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
      r = poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) {
      *error = "no answer from " + path;
    } else {
      // Status answers of many readers can be long; ask for the size first.
      ssize_t size = recv(fd, nullptr, 0, MSG_PEEK | MSG_TRUNC);
      if (size <= 0) {
        *error = "the emulator closed the connection";
      } else {
        std::vector<char> buffer(static_cast<size_t>(size));
        ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n > 0) {
          answer->assign(buffer.data(), static_cast<size_t>(n));
          ok = true;
        } else {
          *error = "the emulator closed the connection";
        }
      }
    }
  }
  close(fd);
  return ok;
}

}  // namespace q7msim
