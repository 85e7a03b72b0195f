// The control socket: a SOCK_SEQPACKET socket where each packet is one
// control command ("status r1", "fault r1 nak count=2", ...) and each answer
// is one packet starting with "OK" or "ERR <reason>" on its first line.
#pragma once

#include <array>
#include <string>

#include "event_loop.h"

namespace q7msim {

class Simulator;

class ControlServer : public EventLoop::Watcher {
 public:
  explicit ControlServer(Simulator* simulator);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  bool Start(const std::string& path, std::string* error);
  void OnIoReady(uint32_t events) override;

  static constexpr size_t kMaxClients = 8;
  static constexpr size_t kMaxRequest = 16384;  // a reply fault of 4096 bytes in hexadecimal

 private:
  struct Client : EventLoop::Watcher {
    ControlServer* server = nullptr;
    int fd = -1;
    void OnIoReady(uint32_t events) override { server->OnClient(this, events); }
  };
  void OnClient(Client* client, uint32_t events);
  void Drop(Client* client);

  Simulator* simulator_;
  int listen_ = -1;
  std::string path_;
  std::array<Client, kMaxClients> clients_{};
};

}  // namespace q7msim
