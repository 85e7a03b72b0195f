// What the provider keeps about each open device descriptor: its back end
// and the identity of the device behind it. An entry is made when the
// provider opens a device, or on first use of a descriptor taken over from
// another process; entries are matched by descriptor number and by the file
// behind it, so a number reused for another file is never mistaken for the
// old one.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <mutex>
#include <vector>

#include "device_identity.h"
#include "q7m/platform.h"

namespace q7m::hid {

class OpenDevices {
 public:
  static OpenDevices& Instance();

  void Remember(int fd, Backend backend, const DeviceIdentity& identity);
  void Forget(int fd);

  // Runs `use(backend, identity)` on the descriptor's entry under the table
  // lock, learning the entry first when there is none. false with the last
  // error when the descriptor is no device or its identity is out of reach.
  template <typename Use>
  bool With(int fd, Use&& use);

  // The back end and whether reports are numbered, for the report paths
  // (no copy of the identity). false with the last error.
  bool TransferInfo(int fd, Backend* backend, bool* numbered);

 private:
  struct Entry {
    int fd;
    dev_t device;
    ino_t inode;
    Backend backend;
    DeviceIdentity identity;
  };
  // Caller holds lock_. The entry of `fd` if it still describes the same file.
  Entry* Find(int fd, dev_t device, ino_t inode);
  // Makes an entry for a descriptor the provider did not open.
  bool Learn(int fd);

  std::mutex lock_;
  std::vector<Entry> entries_;
};

template <typename Use>
bool OpenDevices::With(int fd, Use&& use) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    struct stat st;
    if (::fstat(fd, &st) != 0) break;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (Entry* entry = Find(fd, st.st_dev, st.st_ino)) {
        use(entry->backend, entry->identity);
        return true;
      }
    }
    if (!Learn(fd)) return false;
  }
  Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
  return false;
}

}  // namespace q7m::hid
