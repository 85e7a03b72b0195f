// The q7m-sim process: its readers, their links, the wire log and the
// control socket, all on one event loop.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "command_dispatcher.h"
#include "event_loop.h"
#include "reader.h"
#include "sim_config.h"
#include "wire_log.h"

namespace q7msim {

class ControlServer;
class SignalWatcher;

class Simulator {
 public:
  Simulator();
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Sets up the event loop; Start() does it when not done before.
  bool Init(std::string* error);
  // Builds and starts every reader and the control socket. `banner` gets the
  // lines that tell a user (or a test) where everything is:
  // "reader <name> <serial|usb> <path>", "control <path>".
  bool Start(const SimConfig& config, std::string* banner, std::string* error);
  // Stops on SIGINT, SIGTERM and SIGHUP as well.
  bool WatchSignals(std::string* error);
  int Run() { return loop_.Run(); }
  void Stop();

  EventLoop& loop() { return loop_; }
  WireLog& log() { return log_; }
  Reader* FindReader(std::string_view name);
  const std::vector<std::unique_ptr<Reader>>& readers() const { return readers_; }
  const std::string& controlPath() const { return controlPath_; }

 private:
  bool AddReader(const ReaderConfig& config, uint64_t seed, std::string* banner,
                 std::string* error);

  // Destroyed in reverse order: readers (which still log and unwatch) go
  // before the log and the loop.
  EventLoop loop_;
  WireLog log_;
  CommandDispatcher dispatcher_;
  std::vector<std::unique_ptr<Reader>> readers_;
  std::unique_ptr<ControlServer> control_;
  std::unique_ptr<SignalWatcher> signals_;
  std::string controlPath_;
  bool initialized_ = false;
};

}  // namespace q7msim
