#include "bus_backend.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "q7m/platform_sys.h"

namespace q7m::hid::bus {

namespace {

// A device answers the open packet at once; this bounds a stuck one.
constexpr int kAnswerTimeLimitMs = 1000;
constexpr size_t kMaxNameStem = 64;

uint32_t ConnectError(int err) {
  switch (err) {
    case ENOENT:
    case ECONNREFUSED:
    case ENOTSOCK:
    case EPROTOTYPE:
    case ENOTDIR:
      return Q7M_ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return Q7M_ERROR_ACCESS_DENIED;
    case EAGAIN:
      return Q7M_ERROR_SHARING_VIOLATION;
    default:
      return Q7M_Win32ErrorFromErrno(err);
  }
}

bool Fail(int fd, uint32_t error) {
  if (fd >= 0) ::close(fd);
  Q7M_SetLastError(error);
  return false;
}

bool Gone(short revents) {
  return (revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
}

// Waits for the device's answer to the open packet, within its time limit.
bool AwaitAnswer(int fd) {
  const uint32_t start = Q7M_GetTickCount();
  for (;;) {
    const uint32_t spent = Q7M_GetTickCount() - start;
    if (spent >= static_cast<uint32_t>(kAnswerTimeLimitMs)) break;
    pollfd p{fd, POLLIN, 0};
    const int n = ::poll(&p, 1, kAnswerTimeLimitMs - static_cast<int>(spent));
    if (n > 0) return true;
    if (n == 0) break;
    if (errno != EINTR) return Fail(-1, Q7M_Win32ErrorFromErrno(errno));
  }
  return Fail(-1, Q7M_ERROR_TIMEOUT);
}

// Errors of report reads and writes: nothing there yet, device gone, other.
bool TransferFailed(int err) {
  switch (err) {
    case EAGAIN:
      Q7M_SetLastError(Q7M_ERROR_IO_PENDING);
      break;
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
      Q7M_SetLastError(Q7M_ERROR_DEVICE_NOT_CONNECTED);
      break;
    default:
      Q7M_SetLastError(Q7M_Win32ErrorFromErrno(err));
      break;
  }
  return false;
}

// Whether the devices in a bus directory can be trusted: it is a real
// directory of this user or root that nobody outside the group may write
// to. The default one lies in /tmp, where anyone may have made it first
// and would then put readers of his own there.
bool Trusted(const std::string& dir) {
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != ::geteuid() && st.st_uid != 0) return false;
  return (st.st_mode & S_IWOTH) == 0;
}

}  // namespace

std::string Directory() {
  const char* dir = std::getenv("Q7M_HIDBUS_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  return "/tmp/q7m-hidbus-" + std::to_string(::getuid());
}

bool IsDeviceName(const char* name) {
  const size_t length = std::strlen(name);
  if (length <= 4 || std::strcmp(name + length - 4, ".hid") != 0) return false;
  const size_t stem = length - 4;
  if (stem > kMaxNameStem || name[0] == '.') return false;
  for (size_t i = 0; i < stem; ++i) {
    const char c = name[i];
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

std::vector<std::string> ListDevices() {
  std::vector<std::string> names;
  const std::string dir = Directory();
  if (!Trusted(dir)) return names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* entry = ::readdir(d)) {
    if (!IsDeviceName(entry->d_name)) continue;
    struct stat st;
    if (::fstatat(::dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISSOCK(st.st_mode))
      continue;
    names.emplace_back(entry->d_name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  std::vector<std::string> paths;
  paths.reserve(names.size());
  for (const std::string& name : names) paths.push_back(dir + "/" + name);
  return paths;
}

int Open(const char* path, bool reports, bool exclusive, DeviceIdentity* identity) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) {
    Fail(-1, Q7M_ERROR_FILENAME_EXCED_RANGE);
    return -1;
  }
  std::strcpy(address.sun_path, path);
  const char* slash = std::strrchr(path, '/');
  const std::string dir = slash == nullptr ? std::string(".")
                          : slash == path  ? std::string("/")
                                           : std::string(path, static_cast<size_t>(slash - path));
  if (!Trusted(dir)) {
    Fail(-1, Q7M_ERROR_ACCESS_DENIED);
    return -1;
  }
  // Non-blocking from the start: a device whose listen queue is full must
  // answer "busy", not hold the caller in connect().
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    Fail(-1, Q7M_Win32ErrorFromErrno(errno));
    return -1;
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    Fail(fd, ConnectError(errno));
    return -1;
  }
  uint8_t open[hidbus::kOpenPacketSize];
  uint16_t flags = 0;
  if (reports)
    flags = exclusive ? (hidbus::kFlagReports | hidbus::kFlagExclusive) : hidbus::kFlagReports;
  hidbus::BuildOpenPacket(flags, Q7M_GetCurrentProcessId(), open);
  // A device without room for another connection refuses before it reads
  // the open packet and closes: the send may fail, the refusal is still
  // there to read. A device that went away leaves nothing to read.
  ::send(fd, open, sizeof open, MSG_NOSIGNAL);
  if (!AwaitAnswer(fd)) {
    const uint32_t error = Q7M_GetLastError();
    Fail(fd, error);
    return -1;
  }
  uint8_t answer[hidbus::kAnswerBufferSize];
  const ssize_t n = ::recv(fd, answer, sizeof answer, MSG_TRUNC | MSG_DONTWAIT);
  if (n <= 0) {
    // The connection ended (or failed) before the answer: the device is gone.
    Fail(fd, Q7M_ERROR_FILE_NOT_FOUND);
    return -1;
  }
  hidbus::Identity announced;
  const hidbus::Answer parsed =
      static_cast<size_t>(n) > sizeof answer
          ? hidbus::Answer{}
          : hidbus::ParseAnswer(answer, static_cast<size_t>(n), &announced);
  if (parsed.kind == hidbus::AnswerKind::kRefuse) {
    Fail(fd, hidbus::RefusalError(parsed.refuseReason));
    return -1;
  }
  if (parsed.kind != hidbus::AnswerKind::kAccept) {
    Fail(fd, Q7M_ERROR_INVALID_DATA);
    return -1;
  }
  *identity = IdentityFromAnnouncement(announced);
  return fd;
}

bool IdentityOf(int fd, DeviceIdentity* identity) {
  if (!Present(fd)) return Fail(-1, Q7M_ERROR_DEVICE_NOT_CONNECTED);
  sockaddr_un peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
      length <= offsetof(sockaddr_un, sun_path) || peer.sun_path[0] == '\0')
    return Fail(-1, Q7M_ERROR_INVALID_HANDLE);
  // The peer's address is the path the device listens on; make sure it is
  // terminated even when it fills sun_path.
  char path[sizeof peer.sun_path + 1] = {};
  std::memcpy(path, peer.sun_path, length - offsetof(sockaddr_un, sun_path));
  const int probe = Open(path, false, false, identity);
  if (probe < 0) {
    // The socket file is gone although the connection still looked alive:
    // the device is being unplugged.
    if (Q7M_GetLastError() == Q7M_ERROR_FILE_NOT_FOUND)
      Q7M_SetLastError(Q7M_ERROR_DEVICE_NOT_CONNECTED);
    return false;
  }
  ::close(probe);
  return true;
}

bool Present(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  const int n = ::poll(&p, 1, 0);
  if (n < 0 || (p.revents & POLLNVAL)) return false;
  return !Gone(p.revents);
}

bool Read(int fd, uint8_t* buffer, uint32_t size, uint32_t* count) {
  *count = 0;
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, size, MSG_DONTWAIT | MSG_TRUNC);
    if (n > 0) {
      *count = static_cast<uint32_t>(n) < size ? static_cast<uint32_t>(n) : size;
      return true;
    }
    if (n == 0) {
      // End of the connection, or an empty packet from a device that is
      // still there.
      if (!Present(fd)) {
        Q7M_SetLastError(Q7M_ERROR_DEVICE_NOT_CONNECTED);
        return false;
      }
      return true;
    }
    if (errno != EINTR) return TransferFailed(errno);
  }
}

bool Write(int fd, const uint8_t* buffer, uint32_t size, uint32_t* count) {
  *count = 0;
  for (;;) {
    const ssize_t n = ::send(fd, buffer, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
      *count = static_cast<uint32_t>(n);
      return true;
    }
    if (errno != EINTR) return TransferFailed(errno);
  }
}

}  // namespace q7m::hid::bus
