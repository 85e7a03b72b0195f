#include "control_server.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "control_commands.h"
#include "simulator.h"
#include "unix_socket.h"

namespace q7msim {

ControlServer::ControlServer(Simulator* simulator) : simulator_(simulator) {
  for (Client& c : clients_) c.server = this;
}

ControlServer::~ControlServer() {
  for (Client& c : clients_) Drop(&c);
  if (listen_ >= 0) {
    simulator_->loop().Unwatch(listen_);
    close(listen_);
    unlink(path_.c_str());
  }
}

bool ControlServer::Start(const std::string& path, std::string* error) {
  listen_ = ListenSeqpacket(path, static_cast<int>(kMaxClients), error);
  if (listen_ < 0) return false;
  path_ = path;
  if (!simulator_->loop().Watch(listen_, EPOLLIN, this)) {
    *error = "cannot watch the control socket";
    return false;
  }
  return true;
}

void ControlServer::OnIoReady(uint32_t) {
  for (;;) {
    int fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;
    }
    Client* slot = nullptr;
    for (Client& c : clients_) {
      if (c.fd < 0) {
        slot = &c;
        break;
      }
    }
    if (!slot) {
      static const char kBusy[] = "ERR too many control clients\n";
      send(fd, kBusy, sizeof kBusy - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
      close(fd);
      continue;
    }
    slot->fd = fd;
    if (!simulator_->loop().Watch(fd, EPOLLIN, slot)) {
      close(fd);
      slot->fd = -1;
    }
  }
}

void ControlServer::Drop(Client* client) {
  if (client->fd < 0) return;
  simulator_->loop().Unwatch(client->fd);
  close(client->fd);
  client->fd = -1;
}

void ControlServer::OnClient(Client* client, uint32_t events) {
  char request[kMaxRequest + 1];
  for (;;) {
    if (client->fd < 0) return;
    ssize_t n = recv(client->fd, request, sizeof request, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      Drop(client);
      return;
    }
    std::string answer;
    if (static_cast<size_t>(n) > kMaxRequest)
      answer = "ERR request longer than " + std::to_string(kMaxRequest) + " bytes\n";
    else
      answer = RunControlCommand(simulator_, std::string_view(request, static_cast<size_t>(n)));
    // The answer may be large (status of many readers); a short or failed
    // send means the client is gone or not reading.
    if (send(client->fd, answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL) !=
        static_cast<ssize_t>(answer.size())) {
      Drop(client);
      return;
    }
  }
  if (events & (EPOLLHUP | EPOLLERR)) Drop(client);
}

}  // namespace q7msim
