// The emulator runs on one thread around one epoll set: pseudo-terminal
// masters, bus sockets, the control socket, timers and signals are all
// descriptors, so every wait is event-driven and no state needs a lock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace q7msim {

class EventLoop {
 public:
  class Watcher {
   public:
    virtual void OnIoReady(uint32_t events) = 0;

   protected:
    ~Watcher() = default;
  };

  EventLoop() = default;
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  bool Init(std::string* error);
  // `events` are EPOLLIN / EPOLLOUT / ...; false with errno set on failure.
  bool Watch(int fd, uint32_t events, Watcher* watcher);
  bool Rewatch(int fd, uint32_t events, Watcher* watcher);
  void Unwatch(int fd);

  // Dispatches events until Stop(); returns the code given to Stop.
  int Run();
  // Dispatches at most one event, waiting up to `timeoutMs` (-1: forever);
  // false when nothing happened. Used by in-process tests.
  bool RunOnce(int timeoutMs);
  void Stop(int code);
  bool stopped() const { return stopped_; }

 private:
  int epoll_ = -1;
  bool stopped_ = false;
  int code_ = 0;
};

// A one-shot timer on the loop (timerfd).
class Timer : public EventLoop::Watcher {
 public:
  Timer(EventLoop* loop, std::function<void()> onExpiry);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  bool Init(std::string* error);
  void Start(uint32_t milliseconds);
  void Cancel();
  bool running() const { return running_; }
  void OnIoReady(uint32_t events) override;

 private:
  EventLoop* loop_;
  std::function<void()> onExpiry_;
  int fd_ = -1;
  bool running_ = false;
};

}  // namespace q7msim
