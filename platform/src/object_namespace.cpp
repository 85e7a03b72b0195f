#include "object_namespace.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "object_file_name.h"
#include "q7m/platform_sys.h"

namespace q7m::platform {

namespace {

constexpr const char kDefaultDirectory[] = "/dev/shm/q7m";
constexpr mode_t kDirectoryMode = 01777;
constexpr mode_t kObjectMode = 0660;
// Attempts to take the lock file before giving up when it keeps being
// replaced under us (someone deleting it in a loop).
constexpr int kLockAttempts = 100;

struct Namespace {
  std::mutex mutex;
  int dirFd = -1;
  int lockFd = -1;
  std::unordered_map<std::string, KernelObject*> registry;
};

Namespace& TheNamespace() {
  // Never destroyed: objects may be closed by static destructors at exit.
  static Namespace* ns = [] {
    auto* n = new Namespace;
    pthread_atfork([] { TheNamespace().mutex.lock(); }, [] { TheNamespace().mutex.unlock(); },
                   [] {
                     // The child shares the parent's open file descriptions,
                     // and with them the parent's flocks: it must take the
                     // namespace lock through its own, and it inherits no
                     // objects (handles are not inherited, as on Win32), so
                     // they are forgotten without being closed.
                     Namespace& c = TheNamespace();
                     if (c.lockFd >= 0) close(c.lockFd);
                     c.lockFd = -1;
                     c.registry.clear();
                     c.mutex.unlock();
                   });
    return n;
  }();
  return *ns;
}

bool SetErrorFromErrno(uint32_t notFoundCode = Q7M_ERROR_FILE_NOT_FOUND) {
  if (errno == ENOENT) {
    Q7M_SetLastError(notFoundCode);
  } else if (errno == ELOOP) {
    // A symbolic link planted in the namespace is never followed.
    Q7M_SetLastError(Q7M_ERROR_ACCESS_DENIED);
  } else {
    Q7M_SetLastErrorFromErrno();
  }
  return false;
}

bool OpenDirectory(Namespace& ns) {
  if (ns.dirFd >= 0) return true;
  const char* dir = getenv("Q7M_OBJECT_DIR");
  if (!dir || !*dir) dir = kDefaultDirectory;
  if (mkdir(dir, kDirectoryMode) == 0) {
    // Shared by every user of the machine, like /tmp; not left to the umask.
    chmod(dir, kDirectoryMode);
  } else if (errno != EEXIST) {
    return SetErrorFromErrno(Q7M_ERROR_PATH_NOT_FOUND);
  }
  int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return SetErrorFromErrno(Q7M_ERROR_PATH_NOT_FOUND);
  ns.dirFd = fd;
  return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Takes the flock on the lock file; reopens it when the file we hold is no
// longer the one in the directory (removed by hand): two processes locking
// different files would not exclude each other.
bool LockNamespaceFile(Namespace& ns) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    if (ns.lockFd < 0) {
      int fd = openat(ns.dirFd, kNamespaceLockFile,
                      O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kObjectMode);
      if (fd >= 0) {
        fchmod(fd, kObjectMode);
      } else if (errno == EEXIST) {
        fd = openat(ns.dirFd, kNamespaceLockFile, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0 && errno == ENOENT) continue;
      }
      if (fd < 0) return SetErrorFromErrno();
      ns.lockFd = fd;
    }
    int rc;
    do {
      rc = flock(ns.lockFd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return SetErrorFromErrno();
    struct stat held, named;
    if (fstat(ns.lockFd, &held) == 0 &&
        fstatat(ns.dirFd, kNamespaceLockFile, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameFile(held, named))
      return true;
    close(ns.lockFd);
    ns.lockFd = -1;
  }
  Q7M_SetLastError(Q7M_ERROR_LOCK_VIOLATION);
  return false;
}

// Removes an object's files, but only if the name still refers to the file
// behind `fd`.
void RemoveObjectFiles(int dirFd, int fd, const std::string& fileName) {
  struct stat held, named;
  if (fstat(fd, &held) != 0 || fstatat(dirFd, fileName.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      !SameFile(held, named))
    return;
  unlinkat(dirFd, (fileName + kSignalFileSuffix).c_str(), 0);
  unlinkat(dirFd, fileName.c_str(), 0);
}

}  // namespace

NamespaceLock::NamespaceLock() {
  Namespace& ns = TheNamespace();
  ns.mutex.lock();
  if (OpenDirectory(ns) && LockNamespaceFile(ns)) {
    ok_ = true;
  } else {
    ns.mutex.unlock();
  }
}

NamespaceLock::~NamespaceLock() {
  if (!ok_) return;
  Namespace& ns = TheNamespace();
  flock(ns.lockFd, LOCK_UN);
  ns.mutex.unlock();
}

int NamespaceLock::dirFd() const {
  return TheNamespace().dirFd;
}

bool OpenObjectFile(const NamespaceLock& lock, const std::string& fileName, bool mayCreate,
                    ObjectFile* file) {
  const int dirFd = lock.dirFd();
  const char* path = fileName.c_str();
  int fd = -1;
  for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
    if (mayCreate) {
      fd = openat(dirFd, path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kObjectMode);
      if (fd >= 0) {
        // Group members share objects whatever their umask is.
        fchmod(fd, kObjectMode);
        break;
      }
      if (errno != EEXIST) return SetErrorFromErrno();
    }
    fd = openat(dirFd, path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    // Gone between the two calls (removed from outside the protocol): try
    // once more to create it.
    if (fd < 0 && !(errno == ENOENT && mayCreate)) return SetErrorFromErrno();
  }
  if (fd < 0) return SetErrorFromErrno();

  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return false;
  }

  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    if (!mayCreate) {
      // Left behind by processes that were killed: the object is gone.
      RemoveObjectFiles(dirFd, fd, fileName);
      close(fd);
      Q7M_SetLastError(Q7M_ERROR_FILE_NOT_FOUND);
      return false;
    }
    file->fd = fd;
    file->fresh = true;
    return true;
  }
  // Held by others. Nobody holds it exclusively outside the namespace lock,
  // so this never waits.
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
    close(fd);
    Q7M_SetLastError(Q7M_ERROR_BUSY);
    return false;
  }
  file->fd = fd;
  file->fresh = false;
  return true;
}

void PublishObjectFile(int fd) {
  flock(fd, LOCK_SH);
}

void CloseObjectFile(const NamespaceLock& lock, int fd, const std::string& fileName) {
  // Converting to exclusive drops our shared lock first; that does not
  // matter, the descriptor is closed either way.
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) RemoveObjectFiles(lock.dirFd(), fd, fileName);
  close(fd);
}

KernelObject* FindRegisteredObject(const NamespaceLock&, const std::string& fileName,
                                   ObjectKind kind, bool* wrongKind) {
  Namespace& ns = TheNamespace();
  *wrongKind = false;
  auto it = ns.registry.find(fileName);
  if (it == ns.registry.end()) return nullptr;
  if (it->second->kind() != kind) {
    *wrongKind = true;
    return nullptr;
  }
  // A registered object whose last reference is going away right now
  // counts as closed; its destructor unregisters it shortly.
  return it->second->TryAddRef() ? it->second : nullptr;
}

void RegisterObject(const NamespaceLock&, const std::string& fileName, KernelObject* object) {
  TheNamespace().registry[fileName] = object;
}

void UnregisterObject(const NamespaceLock&, const std::string& fileName,
                      const KernelObject* object) {
  Namespace& ns = TheNamespace();
  auto it = ns.registry.find(fileName);
  if (it != ns.registry.end() && it->second == object) ns.registry.erase(it);
}

}  // namespace q7m::platform
