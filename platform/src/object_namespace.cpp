#include "object_namespace.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/mman.h>
#include <cerrno>
#include <cstdlib>

#include <algorithm>

#include <mutex>
#include <unordered_map>
#include <vector>

#include "object_file_name.h"
#include "q7m/platform_sys.h"

namespace q7m::platform {

namespace {

constexpr const char kDefaultDirectory[] = "/dev/shm/q7m";
constexpr mode_t kDirectoryMode = 01777;
constexpr mode_t kObjectMode = 0660;
// How often an open starts over because the file it reached was removed
// under it, before giving up (someone creating and removing the name in a
// tight loop).
constexpr int kOpenAttempts = 100;
// How many closed mutexes a process keeps open and mapped: enough for the
// few a reader stack reopens all the time (the data mutex and the locks of
// each device it uses), few enough that the descriptors and pages do not
// matter.
constexpr size_t kKeptFiles = 16;
// The sweep of leftovers: how many directory entries one sweep looks at
// (each costs an open, a flock and a close), and after how many files this
// process created the next sweep comes. A process sweeps once when it first
// opens the namespace, and then in step with the files it adds, so the
// directory cannot grow without bound from names nobody opens again, while
// no single call pays for more than a bounded stretch of it.
constexpr int kSweepEntries = 256;
constexpr unsigned kCreatesPerSweep = 64;

struct Registered {
  KernelObject* object;
  int fd;
};

struct KeptFile {
  std::string fileName;
  int fd;
  ObjectPage* page;
};

struct Namespace {
  std::mutex mutex;
  int dirFd = -1;
  std::unordered_map<std::string, Registered> registry;
  std::vector<KeptFile> kept;  // oldest first
  // Where the sweep goes on from (it wraps round at the end of the
  // directory); null until the first sweep.
  DIR* sweepDir = nullptr;
  unsigned createsSinceSweep = 0;
};

Namespace& TheNamespace() {
  // Never destroyed: objects may be closed by static destructors at exit.
  static Namespace* ns = [] {
    auto* n = new Namespace;
    pthread_atfork([] { TheNamespace().mutex.lock(); }, [] { TheNamespace().mutex.unlock(); },
                   [] {
                     // Handles are not inherited (as on Win32): the child
                     // forgets the objects without running their close. Its
                     // copies of their descriptors share the parent's open
                     // files, and with them the parent's flocks; closing the
                     // copies leaves those flocks to the parent alone, so a
                     // child never keeps an object alive (or a closing
                     // parent's exclusive flock held) after the parent has
                     // let go of it.
                     Namespace& c = TheNamespace();
                     for (const auto& entry : c.registry) close(entry.second.fd);
                     c.registry.clear();
                     // Kept files hold no flock; their copies are just let go.
                     for (const KeptFile& k : c.kept) close(k.fd);
                     c.kept.clear();
                     // The stream's position is shared with the parent's
                     // copy; the child starts its own when it next sweeps.
                     if (c.sweepDir) closedir(c.sweepDir);
                     c.sweepDir = nullptr;
                     c.createsSinceSweep = 0;
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

// Whether a file of the namespace belongs to someone this process shares
// objects with: its own user, root, or a user of one of its groups (the
// file's group is one of ours). Anyone else could rewrite or remove it.
bool OwnedByUsOrOurGroup(const struct stat& st) {
  if (st.st_uid == geteuid() || st.st_uid == 0 || st.st_gid == getegid()) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  if (got <= 0) return false;
  groups.resize(static_cast<size_t>(got));
  return std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
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
  // The directory may have been made by someone else before us. A symbolic
  // link there is not followed, and a directory that others could empty or
  // fill with files of their own is not used: its owner may remove any
  // entry, and without the sticky bit so may everyone who may write to it.
  // Either way an object's name could be made to lead to another file while
  // processes hold it, and they would no longer agree on the object.
  int fd = open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (fd < 0) {
    // A link there (the kernel answers "not a directory") is refused as a
    // stranger's file is.
    if ((errno == ENOTDIR || errno == ELOOP) && lstat(dir, &st) == 0 && S_ISLNK(st.st_mode)) {
      Q7M_SetLastError(Q7M_ERROR_ACCESS_DENIED);
      return false;
    }
    return SetErrorFromErrno(Q7M_ERROR_PATH_NOT_FOUND);
  }
  if (fstat(fd, &st) != 0) {
    const int err = errno;
    close(fd);
    errno = err;
    return SetErrorFromErrno(Q7M_ERROR_PATH_NOT_FOUND);
  }
  const bool openToAll = (st.st_mode & S_IWOTH) != 0 && (st.st_mode & S_ISVTX) == 0;
  if (openToAll || !OwnedByUsOrOurGroup(st)) {
    close(fd);
    Q7M_SetLastError(Q7M_ERROR_ACCESS_DENIED);
    return false;
  }
  ns.dirFd = fd;
  return true;
}

bool IsKept(const Namespace& ns, const char* fileName) {
  for (const KeptFile& k : ns.kept)
    if (k.fileName == fileName) return true;
  return false;
}

int FlockRetryingInterrupts(int fd, int operation) {
  int rc;
  do {
    rc = flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

void RemoveObjectFiles(int dirFd, const std::string& fileName, bool hasSignalFile) {
  if (hasSignalFile) unlinkat(dirFd, (fileName + kSignalFileSuffix).c_str(), 0);
  unlinkat(dirFd, fileName.c_str(), 0);
}

// Removes the object file `fileName` when nobody holds it, by the steps of a
// last close: only the holder of the exclusive flock removes a name, and
// only while the file it holds is still the linked one. A live object (held
// by any process, this one included: its own descriptor is another open
// file) refuses the flock; an opener or creator that reached the file
// before the removal finds it unlinked once it gets its flock, and starts
// over.
void SweepObjectFile(int dirFd, const char* fileName) {
  int fd = openat(dirFd, fileName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return;  // gone meanwhile, someone else's, or a planted link
  struct stat st;
  // A stranger's file is not ours to remove (root could): it is left
  // exactly as it is, as an open or create leaves it.
  if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      st.st_nlink > 0 && OwnedByUsOrOurGroup(st))
    RemoveObjectFiles(dirFd, fileName, true);
  close(fd);
}

// Looks at the next stretch of the namespace directory and removes the
// leftovers in it: files nobody holds, whose names may never be opened again
// (names made from a process id or a slot of a process that was killed).
// The files this process keeps for its closed mutexes are leftovers too, but
// they are its own to give up.
void SweepLeftovers(Namespace& ns) {
  ns.createsSinceSweep = 0;
  if (!ns.sweepDir) {
    int fd = openat(ns.dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ns.sweepDir = fdopendir(fd);
    if (!ns.sweepDir) {
      close(fd);
      return;
    }
  }
  for (int seen = 0; seen < kSweepEntries; ++seen) {
    const dirent* entry = readdir(ns.sweepDir);
    if (!entry) {
      // The end (or an error): the next sweep starts from the beginning.
      rewinddir(ns.sweepDir);
      return;
    }
    const char* name = entry->d_name;
    if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
    // Only names an object can have: not ".", "..", a FIFO (it goes with
    // its object's file, under that file's flock) or anything else the
    // namespace did not make.
    if (!IsObjectFileName(name)) continue;
    // Held by this process, or kept by it for its next open.
    if (ns.registry.count(name) != 0 || IsKept(ns, name)) continue;
    SweepObjectFile(ns.dirFd, name);
  }
}

// Gives up a kept file: removed when nobody holds it (it is a leftover), then
// unmapped and closed.
void GiveUpKeptFile(int dirFd, const KeptFile& k) {
  struct stat st;
  if (flock(k.fd, LOCK_EX | LOCK_NB) == 0 && fstat(k.fd, &st) == 0 && st.st_nlink > 0)
    RemoveObjectFiles(dirFd, k.fileName, true);
  munmap(k.page, ObjectPageSize());
  close(k.fd);
}

// At exit the kept files go, and with them the leftovers nobody holds, so a
// process that ends normally leaves no files behind. A thread still inside a
// namespace call keeps them (they are leftovers, harmless to the protocol).
void GiveUpKeptFilesAtExit() {
  Namespace& ns = TheNamespace();
  if (!ns.mutex.try_lock()) return;
  for (const KeptFile& k : ns.kept) GiveUpKeptFile(ns.dirFd, k);
  ns.kept.clear();
  ns.mutex.unlock();
}

// Takes the kept file of `fileName` out of the list; false when none.
bool TakeKeptFile(Namespace& ns, const std::string& fileName, KeptFile* taken) {
  for (auto it = ns.kept.begin(); it != ns.kept.end(); ++it) {
    if (it->fileName == fileName) {
      *taken = std::move(*it);
      ns.kept.erase(it);
      return true;
    }
  }
  return false;
}

enum class Step { kDone, kFailed, kStartOver };

// The end of an open that holds the shared flock.
Step Held(int fd, ObjectFile* file) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    Q7M_SetLastErrorFromErrno();
    close(fd);
    return Step::kFailed;
  }
  if (st.st_nlink == 0) {
    close(fd);
    return Step::kStartOver;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return Step::kFailed;
  }
  if (ForeignObjectFile(st)) {
    close(fd);
    Q7M_SetLastError(Q7M_ERROR_ACCESS_DENIED);
    return Step::kFailed;
  }
  file->fd = fd;
  file->fresh = false;
  file->size = st.st_size;
  return Step::kDone;
}

// The flock step of an open (see the header). `fd` is closed unless kDone.
Step LockObjectFile(int dirFd, const std::string& fileName, bool mayCreate, int fd,
                    ObjectFile* file) {
  struct stat st;
  for (bool waited = false;; waited = true) {
    if (FlockRetryingInterrupts(fd, LOCK_EX | LOCK_NB) == 0) {
      // Nobody holds the file: new, a leftover, or removed a moment ago.
      if (fstat(fd, &st) != 0) {
        Q7M_SetLastErrorFromErrno();
      } else if (!S_ISREG(st.st_mode)) {
        Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
      } else if (st.st_nlink == 0) {
        close(fd);
        return Step::kStartOver;
      } else if (ForeignObjectFile(st)) {
        // Neither reused nor removed: it is not ours to touch.
        Q7M_SetLastError(Q7M_ERROR_ACCESS_DENIED);
      } else if (!mayCreate) {
        // Left behind by processes that were killed (or by a creator that
        // has not locked it yet, which then starts over): the object is
        // gone. Holding the exclusive flock of the linked file, the name is
        // ours to remove.
        RemoveObjectFiles(dirFd, fileName, true);
        Q7M_SetLastError(Q7M_ERROR_FILE_NOT_FOUND);
      } else {
        file->fd = fd;
        file->fresh = true;
        file->size = st.st_size;
        return Step::kDone;
      }
      close(fd);
      return Step::kFailed;
    }
    if (errno != EWOULDBLOCK) break;
    // Held by others.
    if (FlockRetryingInterrupts(fd, LOCK_SH | LOCK_NB) == 0) return Held(fd, file);
    if (errno != EWOULDBLOCK) break;
    // Someone holds it exclusively for a moment: a creator filling it in or
    // a closer removing it. A removed file is not waited for.
    if (fstat(fd, &st) != 0 || st.st_nlink == 0) {
      close(fd);
      return Step::kStartOver;
    }
    // Not for a file of a stranger, who could hold it for ever.
    if (ForeignObjectFile(st)) {
      close(fd);
      Q7M_SetLastError(Q7M_ERROR_ACCESS_DENIED);
      return Step::kFailed;
    }
    if (FlockRetryingInterrupts(fd, LOCK_SH) != 0) break;
    // The holder we waited for may have died half-way, leaving a leftover
    // nobody else holds: decide once more (a failed conversion keeps
    // nothing, so the shared flock is then taken anew).
    if (waited) return Held(fd, file);
  }
  Q7M_SetLastErrorFromErrno();
  close(fd);
  return Step::kFailed;
}

}  // namespace

bool ForeignObjectFile(const struct stat& st) {
  return !OwnedByUsOrOurGroup(st);
}

NamespaceLock::NamespaceLock() {
  Namespace& ns = TheNamespace();
  ns.mutex.lock();
  const bool firstOpen = ns.dirFd < 0;
  if (OpenDirectory(ns)) {
    ok_ = true;
    if (firstOpen) SweepLeftovers(ns);
  } else {
    ns.mutex.unlock();
  }
}

NamespaceLock::~NamespaceLock() {
  if (ok_) TheNamespace().mutex.unlock();
}

int NamespaceLock::dirFd() const {
  return TheNamespace().dirFd;
}

bool OpenObjectFile(const NamespaceLock& lock, const std::string& fileName, ObjectKind kind,
                    bool mayCreate, ObjectFile* file) {
  const int dirFd = lock.dirFd();
  const char* path = fileName.c_str();
  Namespace& ns = TheNamespace();
  if (ns.createsSinceSweep >= kCreatesPerSweep) SweepLeftovers(ns);
  KeptFile k;
  if (TakeKeptFile(ns, fileName, &k)) {
    if (kind == ObjectKind::kMutex) {
      switch (LockObjectFile(dirFd, fileName, mayCreate, k.fd, file)) {
        case Step::kDone:
          file->page = k.page;
          return true;
        case Step::kFailed:
          munmap(k.page, ObjectPageSize());
          return false;
        case Step::kStartOver:
          // Removed since: the name leads elsewhere now.
          munmap(k.page, ObjectPageSize());
          break;
      }
    } else {
      GiveUpKeptFile(dirFd, k);
    }
  }
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    int fd = -1;
    if (mayCreate) {
      fd = openat(dirFd, path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kObjectMode);
      if (fd >= 0) {
        // Group members share objects whatever their umask is.
        fchmod(fd, kObjectMode);
        ++ns.createsSinceSweep;
      } else if (errno != EEXIST) {
        return SetErrorFromErrno();
      }
    }
    if (fd < 0) {
      fd = openat(dirFd, path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
      if (fd < 0) {
        // Removed between the two calls: create it after all.
        if (errno == ENOENT && mayCreate) continue;
        return SetErrorFromErrno();
      }
    }
    switch (LockObjectFile(dirFd, fileName, mayCreate, fd, file)) {
      case Step::kDone:
        return true;
      case Step::kFailed:
        return false;
      case Step::kStartOver:
        break;
    }
  }
  Q7M_SetLastError(Q7M_ERROR_BUSY);
  return false;
}

void PublishObjectFile(int fd) {
  FlockRetryingInterrupts(fd, LOCK_SH);
}

void CloseObjectFile(const NamespaceLock& lock, int fd, const std::string& fileName,
                     bool hasSignalFile) {
  // A failed conversion drops our shared flock; that does not matter, the
  // descriptor is closed either way. A file we held all along cannot have
  // been removed by the protocol; a link count of 0 means it was removed by
  // hand, and the name may belong to another object by now.
  struct stat st;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &st) == 0 && st.st_nlink > 0)
    RemoveObjectFiles(lock.dirFd(), fileName, hasSignalFile);
  close(fd);
}

void CloseAndKeepObjectFile(const NamespaceLock& lock, int fd, const std::string& fileName,
                            ObjectPage* page) {
  // Whether or not we were the last holder, all there is to do is to let go
  // of our flock: without holders the file is a leftover, which every open
  // treats as absent (and an open-only call removes).
  flock(fd, LOCK_UN);
  Namespace& ns = TheNamespace();
  static const bool tidyAtExit = [] { return std::atexit(GiveUpKeptFilesAtExit) == 0; }();
  (void)tidyAtExit;
  KeptFile older;
  // A second object of one name exists only while the first one dies.
  if (TakeKeptFile(ns, fileName, &older)) GiveUpKeptFile(lock.dirFd(), older);
  if (ns.kept.size() >= kKeptFiles) {
    GiveUpKeptFile(lock.dirFd(), ns.kept.front());
    ns.kept.erase(ns.kept.begin());
  }
  ns.kept.push_back(KeptFile{fileName, fd, page});
}

KernelObject* FindRegisteredObject(const NamespaceLock&, const std::string& fileName,
                                   ObjectKind kind, bool* wrongKind) {
  Namespace& ns = TheNamespace();
  *wrongKind = false;
  auto it = ns.registry.find(fileName);
  if (it == ns.registry.end()) return nullptr;
  KernelObject* object = it->second.object;
  if (object->kind() != kind) {
    *wrongKind = true;
    return nullptr;
  }
  // A registered object whose last reference is going away right now
  // counts as closed; its destructor unregisters it shortly.
  return object->TryAddRef() ? object : nullptr;
}

void RegisterObject(const NamespaceLock&, const std::string& fileName, KernelObject* object,
                    int fd) {
  TheNamespace().registry[fileName] = Registered{object, fd};
}

void UnregisterObject(const NamespaceLock&, const std::string& fileName,
                      const KernelObject* object) {
  Namespace& ns = TheNamespace();
  auto it = ns.registry.find(fileName);
  if (it != ns.registry.end() && it->second.object == object) ns.registry.erase(it);
}

}  // namespace q7m::platform
