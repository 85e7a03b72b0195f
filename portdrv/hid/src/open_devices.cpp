#include "open_devices.h"

#include <sys/stat.h>

#include "backends.h"

namespace q7m::hid {

OpenDevices& OpenDevices::Instance() {
  // Never destroyed: a caller may release a device while the process ends.
  static OpenDevices* instance = new OpenDevices();
  return *instance;
}

OpenDevices::Entry* OpenDevices::Find(int fd, dev_t device, ino_t inode) {
  for (Entry& entry : entries_)
    if (entry.fd == fd) return entry.device == device && entry.inode == inode ? &entry : nullptr;
  return nullptr;
}

void OpenDevices::Remember(int fd, Backend backend, const DeviceIdentity& identity) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return;
  std::lock_guard<std::mutex> guard(lock_);
  for (Entry& entry : entries_) {
    if (entry.fd == fd) {
      entry = Entry{fd, st.st_dev, st.st_ino, backend, identity};
      return;
    }
  }
  entries_.push_back(Entry{fd, st.st_dev, st.st_ino, backend, identity});
}

void OpenDevices::Forget(int fd) {
  std::lock_guard<std::mutex> guard(lock_);
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].fd == fd) {
      entries_[i] = std::move(entries_.back());
      entries_.pop_back();
      return;
    }
  }
}

bool OpenDevices::Learn(int fd) {
  const BackendOps* ops = BackendOfDescriptor(fd);
  if (ops == nullptr) return false;
  DeviceIdentity identity;
  if (!ops->identity(fd, &identity)) return false;
  Remember(fd, ops->backend, identity);
  return true;
}

bool OpenDevices::TransferInfo(int fd, Backend* backend, bool* numbered) {
  return With(fd, [&](Backend b, const DeviceIdentity& identity) {
    *backend = b;
    *numbered = identity.layout.numbered;
  });
}

}  // namespace q7m::hid
