#include "hidraw_backend.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "q7m/platform_sys.h"

namespace q7m::hid::hidraw {

namespace {

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using EnumeratePtr = std::unique_ptr<udev_enumerate, UdevDeleter>;
using DevicePtr = std::unique_ptr<udev_device, UdevDeleter>;

udev_device* UsbParent(udev_device* hidraw) {
  return udev_device_get_parent_with_subsystem_devtype(hidraw, "usb", "usb_device");
}

// The number at the end of a node's name, for ordering hidraw2 before hidraw10.
unsigned long NodeNumber(const std::string& path) {
  size_t digits = path.size();
  while (digits > 0 && path[digits - 1] >= '0' && path[digits - 1] <= '9') --digits;
  return std::strtoul(path.c_str() + digits, nullptr, 10);
}

// Reads the report descriptor the kernel keeps beside the HID device.
size_t ReadDescriptorFile(const char* hidSysPath, uint8_t* buffer, size_t capacity) {
  std::string path = std::string(hidSysPath) + "/report_descriptor";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  size_t total = 0;
  while (total < capacity) {
    const ssize_t n = ::read(fd, buffer + total, capacity - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += static_cast<size_t>(n);
  }
  ::close(fd);
  return total;
}

uint32_t OpenError(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return Q7M_ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return Q7M_ERROR_ACCESS_DENIED;
    case EBUSY:
    case EWOULDBLOCK:
      return Q7M_ERROR_SHARING_VIOLATION;
    default:
      return Q7M_Win32ErrorFromErrno(err);
  }
}

// Errors of report reads and writes: nothing there yet, device gone, other.
bool TransferFailed(int err) {
  switch (err) {
    case EAGAIN:
      Q7M_SetLastError(Q7M_ERROR_IO_PENDING);
      break;
    case EIO:
    case ENODEV:
    case ENXIO:
    case ESHUTDOWN:
      Q7M_SetLastError(Q7M_ERROR_DEVICE_NOT_CONNECTED);
      break;
    default:
      Q7M_SetLastError(Q7M_Win32ErrorFromErrno(err));
      break;
  }
  return false;
}

}  // namespace

std::vector<std::string> ListDevices() {
  std::vector<std::string> nodes;
  UdevPtr u(udev_new());
  if (!u) return nodes;
  EnumeratePtr e(udev_enumerate_new(u.get()));
  if (!e || udev_enumerate_add_match_subsystem(e.get(), "hidraw") < 0 ||
      udev_enumerate_scan_devices(e.get()) < 0)
    return nodes;
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
    DevicePtr device(udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
    if (!device || UsbParent(device.get()) == nullptr) continue;
    const char* node = udev_device_get_devnode(device.get());
    if (node != nullptr) nodes.emplace_back(node);
  }
  std::sort(nodes.begin(), nodes.end(), [](const std::string& a, const std::string& b) {
    const unsigned long na = NodeNumber(a), nb = NodeNumber(b);
    return na != nb ? na < nb : a < b;
  });
  return nodes;
}

int Open(const char* path, bool reports, bool exclusive) {
  int fd = ::open(path, (reports ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && !reports && (errno == EACCES || errno == EPERM)) {
    // The identity needs no access to the node itself (it comes from the
    // device tree), so a node this user may not read can still be listed.
    fd = ::open(path, O_PATH | O_CLOEXEC);
    if (fd >= 0) return fd;
  }
  if (fd < 0) {
    Q7M_SetLastError(OpenError(errno));
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    ::close(fd);
    Q7M_SetLastError(Q7M_ERROR_FILE_NOT_FOUND);
    return -1;
  }
  // Share modes: an exclusive holder keeps a lock that every other open
  // (identity queries included) runs into; a report open holds a shared one.
  const int operation = (reports && exclusive) ? LOCK_EX : LOCK_SH;
  if (::flock(fd, operation | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    Q7M_SetLastError(OpenError(err));
    return -1;
  }
  if (!reports) ::flock(fd, LOCK_UN);
  return fd;
}

bool IdentityOf(int fd, DeviceIdentity* identity) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return false;
  }
  UdevPtr u(udev_new());
  if (!u) {
    Q7M_SetLastError(Q7M_ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  DevicePtr device(udev_device_new_from_devnum(u.get(), 'c', st.st_rdev));
  if (!device) {
    Q7M_SetLastError(Q7M_ERROR_DEVICE_NOT_CONNECTED);
    return false;
  }
  udev_device* usb = UsbParent(device.get());
  udev_device* hidDevice =
      udev_device_get_parent_with_subsystem_devtype(device.get(), "hid", nullptr);
  if (usb == nullptr || hidDevice == nullptr) {
    Q7M_SetLastError(Q7M_ERROR_NOT_SUPPORTED);
    return false;
  }
  UsbAttributes attributes;
  attributes.idVendor = udev_device_get_sysattr_value(usb, "idVendor");
  attributes.idProduct = udev_device_get_sysattr_value(usb, "idProduct");
  attributes.bcdDevice = udev_device_get_sysattr_value(usb, "bcdDevice");
  attributes.manufacturer = udev_device_get_sysattr_value(usb, "manufacturer");
  attributes.product = udev_device_get_sysattr_value(usb, "product");
  attributes.serial = udev_device_get_sysattr_value(usb, "serial");
  uint8_t descriptor[HID_MAX_DESCRIPTOR_SIZE];
  const size_t size =
      ReadDescriptorFile(udev_device_get_syspath(hidDevice), descriptor, sizeof descriptor);
  if (!IdentityFromAttributes(attributes, descriptor, size, identity)) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_DATA);
    return false;
  }
  return true;
}

bool Present(int fd) {
  hidraw_devinfo info;
  if (::ioctl(fd, HIDIOCGRAWINFO, &info) == 0) return true;
  if (errno == ENODEV || errno == EIO) return false;
  // A node opened for the identity only takes no ioctl: ask whether its
  // device number is still in the device tree.
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  char path[64];
  std::snprintf(path, sizeof path, "/sys/dev/char/%u:%u", major(st.st_rdev), minor(st.st_rdev));
  return ::access(path, F_OK) == 0;
}

bool Read(int fd, bool numbered, uint8_t* buffer, uint32_t size, uint32_t* count) {
  *count = 0;
  if (size == 0) return true;
  // hidraw gives a device's unnumbered reports without an id byte.
  uint8_t* target = numbered ? buffer : buffer + 1;
  const size_t room = numbered ? size : size - 1;
  for (;;) {
    const ssize_t n = ::read(fd, target, room);
    if (n >= 0) {
      if (!numbered) buffer[0] = 0;
      *count = static_cast<uint32_t>(n) + (numbered ? 0 : 1);
      return true;
    }
    if (errno != EINTR) return TransferFailed(errno);
  }
}

bool Write(int fd, const uint8_t* buffer, uint32_t size, uint32_t* count) {
  *count = 0;
  for (;;) {
    // Byte 0 is the report id, 0 for an unnumbered device: hidraw takes it
    // in exactly that form.
    const ssize_t n = ::write(fd, buffer, size);
    if (n >= 0) {
      *count = static_cast<uint32_t>(n);
      return true;
    }
    if (errno != EINTR) return TransferFailed(errno);
  }
}

}  // namespace q7m::hid::hidraw
