#include "event_loop.h"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace q7msim {

EventLoop::~EventLoop() {
  if (epoll_ >= 0) close(epoll_);
}

bool EventLoop::Init(std::string* error) {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_ < 0) {
    *error = std::string("epoll_create1: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool EventLoop::Watch(int fd, uint32_t events, Watcher* watcher) {
  epoll_event ev{};
  ev.events = events;
  ev.data.ptr = watcher;
  return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) == 0;
}

bool EventLoop::Rewatch(int fd, uint32_t events, Watcher* watcher) {
  epoll_event ev{};
  ev.events = events;
  ev.data.ptr = watcher;
  return epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev) == 0;
}

void EventLoop::Unwatch(int fd) {
  if (fd >= 0 && epoll_ >= 0) epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
}

bool EventLoop::RunOnce(int timeoutMs) {
  // One event per wait: a handler may close descriptors of other watchers,
  // and a batch could then hand out a watcher that no longer exists.
  epoll_event ev{};
  int n = epoll_wait(epoll_, &ev, 1, timeoutMs);
  if (n <= 0) return false;
  static_cast<Watcher*>(ev.data.ptr)->OnIoReady(ev.events);
  return true;
}

int EventLoop::Run() {
  while (!stopped_) {
    epoll_event ev{};
    int n = epoll_wait(epoll_, &ev, 1, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if (n == 1) static_cast<Watcher*>(ev.data.ptr)->OnIoReady(ev.events);
  }
  return code_;
}

void EventLoop::Stop(int code) {
  stopped_ = true;
  code_ = code;
}

Timer::Timer(EventLoop* loop, std::function<void()> onExpiry)
    : loop_(loop), onExpiry_(std::move(onExpiry)) {}

Timer::~Timer() {
  if (fd_ >= 0) {
    loop_->Unwatch(fd_);
    close(fd_);
  }
}

bool Timer::Init(std::string* error) {
  fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd_ < 0 || !loop_->Watch(fd_, EPOLLIN, this)) {
    *error = std::string("timer: ") + std::strerror(errno);
    return false;
  }
  return true;
}

void Timer::Start(uint32_t milliseconds) {
  itimerspec spec{};
  // A zero value would disarm the timer; the shortest delay is 1 ns.
  spec.it_value.tv_sec = milliseconds / 1000;
  spec.it_value.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  if (milliseconds == 0) spec.it_value.tv_nsec = 1;
  running_ = timerfd_settime(fd_, 0, &spec, nullptr) == 0;
}

void Timer::Cancel() {
  itimerspec spec{};
  timerfd_settime(fd_, 0, &spec, nullptr);
  uint64_t expirations = 0;
  // Drop an expiry that is already pending.
  [[maybe_unused]] ssize_t n = read(fd_, &expirations, sizeof expirations);
  running_ = false;
}

void Timer::OnIoReady(uint32_t) {
  uint64_t expirations = 0;
  if (read(fd_, &expirations, sizeof expirations) != sizeof expirations) return;
  running_ = false;
  onExpiry_();
}

}  // namespace q7msim
