#include "simulator.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "control_server.h"
#include "hid_bus_device.h"
#include "ini_entry_writer.h"
#include "reader_commands.h"
#include "serial_link.h"

namespace q7msim {

std::string DefaultControlPath() {
  const char* path = std::getenv("Q7M_SIM_CONTROL");
  if (path && *path) return path;
  return "/tmp/q7m-sim-" + std::to_string(getuid()) + ".ctl";
}

// Turns SIGINT, SIGTERM and SIGHUP into a clean stop of the loop.
class SignalWatcher : public EventLoop::Watcher {
 public:
  explicit SignalWatcher(EventLoop* loop) : loop_(loop) {}
  ~SignalWatcher() {
    if (fd_ >= 0) {
      loop_->Unwatch(fd_);
      close(fd_);
    }
  }
  bool Init(std::string* error) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0 ||
        (fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC)) < 0 ||
        !loop_->Watch(fd_, EPOLLIN, this)) {
      *error = std::string("signals: ") + std::strerror(errno);
      return false;
    }
    return true;
  }
  void OnIoReady(uint32_t) override {
    signalfd_siginfo info{};
    if (read(fd_, &info, sizeof info) == sizeof info) loop_->Stop(0);
  }

 private:
  EventLoop* loop_;
  int fd_ = -1;
};

Simulator::Simulator() {
  RegisterReaderCommands(&dispatcher_);
}

Simulator::~Simulator() {
  Stop();
}

void Simulator::Stop() {
  control_.reset();
  for (auto& reader : readers_) {
    if (reader->link()) reader->link()->Stop();
  }
}

Reader* Simulator::FindReader(std::string_view name) {
  for (auto& reader : readers_) {
    if (reader->name() == name) return reader.get();
  }
  return nullptr;
}

bool Simulator::Init(std::string* error) {
  if (initialized_) return true;
  initialized_ = loop_.Init(error);
  return initialized_;
}

bool Simulator::WatchSignals(std::string* error) {
  if (!Init(error)) return false;
  // A host that goes away must not kill the emulator with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  signals_ = std::make_unique<SignalWatcher>(&loop_);
  return signals_->Init(error);
}

bool Simulator::Start(const SimConfig& config, std::string* banner, std::string* error) {
  if (!Init(error)) return false;
  if (!config.logPath.empty() && !log_.Open(config.logPath, error)) return false;
  uint64_t seed = config.seed;
  for (const ReaderConfig& reader : config.readers) {
    if (FindReader(reader.name)) {
      *error = "two readers named '" + reader.name + "'";
      return false;
    }
    // Each reader draws its own random sequence, reproducible from the seed.
    if (!AddReader(reader, seed++, banner, error)) return false;
  }
  if (config.control) {
    controlPath_ = config.controlPath.empty() ? DefaultControlPath() : config.controlPath;
    control_ = std::make_unique<ControlServer>(this);
    if (!control_->Start(controlPath_, error)) return false;
    *banner += "control " + controlPath_ + "\n";
  }
  return true;
}

bool Simulator::AddReader(const ReaderConfig& config, uint64_t seed, std::string* banner,
                          std::string* error) {
  auto reader = std::make_unique<Reader>(config.name, &dispatcher_, &log_, seed);
  if (config.link == LinkKind::kSerial)
    reader->AttachLink(std::make_unique<SerialLink>(reader.get(), &loop_));
  else
    reader->AttachLink(std::make_unique<HidBusDevice>(reader.get(), &loop_));
  if (!reader->EnableHeldAnswers(&loop_, error)) return false;
  std::string prefix = "reader " + config.name + ": ";

  if (config.scenario) {
    std::string value;
    for (const FieldTable::Field& field : reader->fields().fields()) {
      if (!field.set || !config.scenario(field.name, &value)) continue;
      std::string problem = reader->fields().Set(field.name, value);
      if (!problem.empty()) {
        *error = prefix + "scenario: " + problem;
        return false;
      }
    }
    for (unsigned i = 1; i <= kScenarioFaultKeys; ++i) {
      if (!config.scenario("Fault" + std::to_string(i), &value)) continue;
      std::string problem = reader->ApplyFault(value);
      if (!problem.empty()) {
        *error = prefix + "scenario: Fault" + std::to_string(i) + ": " + problem;
        return false;
      }
    }
  }
  for (const auto& [name, value] : config.settings) {
    std::string problem = reader->fields().Set(name, value);
    if (!problem.empty()) {
      *error = prefix + problem;
      return false;
    }
  }
  for (const std::string& fault : config.faults) {
    std::string problem = reader->ApplyFault(fault);
    if (!problem.empty()) {
      *error = prefix + "fault '" + fault + "': " + problem;
      return false;
    }
  }
  if (!reader->link()->Start(error) || !reader->StartHostWatchdog(&loop_, error)) {
    *error = prefix + *error;
    return false;
  }
  std::string address = reader->link()->Address();
  if (config.link == LinkKind::kSerial && !config.pdlnkIni.empty()) {
    std::string section = "COM" + std::to_string(config.comPort);
    if (!WriteIniEntry(config.pdlnkIni, section, "DevicePath", address, error)) {
      *error = prefix + *error;
      return false;
    }
  }
  *banner += "reader " + config.name + (config.link == LinkKind::kSerial ? " serial " : " usb ") +
             address + "\n";
  readers_.push_back(std::move(reader));
  return true;
}

}  // namespace q7msim
