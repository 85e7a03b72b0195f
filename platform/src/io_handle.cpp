// I/O readiness handles: a caller's descriptor made waitable, so a transport
// waits for "data, cancel or time limit" in one multiple-object wait.
#include <fcntl.h>

#include "handle_table.h"
#include "q7m/platform_sys.h"

namespace q7m::platform {

namespace {

class IoReadinessObject : public KernelObject {
 public:
  IoReadinessObject(int fd, short events)
      : KernelObject(ObjectKind::kIoReadiness), fd_(fd), events_(events) {}

  bool GetWaitFd(int* fd, short* events) const override {
    *fd = fd_;
    *events = events_;
    return true;
  }

  AcquireResult Acquire(short revents) override {
    if (revents & POLLNVAL) {
      // The caller closed the descriptor while the handle was open.
      Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
      return AcquireResult::kFailed;
    }
    return (revents & (events_ | POLLERR | POLLHUP)) ? AcquireResult::kAcquired
                                                     : AcquireResult::kLost;
  }

  bool IsLevelTriggered() const override { return true; }

 private:
  const int fd_;
  const short events_;
};

}  // namespace

}  // namespace q7m::platform

using namespace q7m::platform;

extern "C" Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_CreateIoHandle(int fd, short pollEvents) {
  if (fd < 0 || fcntl(fd, F_GETFD) < 0) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return InsertHandle(new IoReadinessObject(fd, pollEvents));
}
