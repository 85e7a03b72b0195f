#include "usb_sim.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace q7mtest {

namespace {
std::string SimPath() {
  return BuildBinDir() + "/q7m-sim";
}
}  // namespace

std::string BusDirectory() {
  const char* dir = std::getenv("Q7M_HIDBUS_DIR");
  return dir != nullptr ? dir : "";
}

bool UsbSim::Start(const std::string& name, const std::vector<std::string>& options) {
  return Start(std::vector<Reader>{{name, options}});
}

bool UsbSim::Start(const std::vector<Reader>& readers, const std::vector<std::string>& general) {
  const std::string dir = MakeTempDir("usbsim");
  control_ = dir + "/sim.ctl";
  log_ = dir + "/wire.log";
  std::vector<std::string> args{"--control", control_, "--log", log_};
  args.insert(args.end(), general.begin(), general.end());
  for (const Reader& reader : readers) {
    args.push_back("--usb=" + reader.name);
    args.insert(args.end(), reader.options.begin(), reader.options.end());
  }
  if (!process_.StartProgram(SimPath(), args)) {
    ADD_FAILURE() << "cannot start " << SimPath();
    return false;
  }
  std::string line;
  while (process_.ReadLine(&line)) {
    std::istringstream words(line);
    std::string first, name, kind, path;
    words >> first >> name >> kind >> path;
    if (first == "reader" && kind == "usb") paths_[name] = path;
    if (first == "ready") return paths_.size() == readers.size();
  }
  ADD_FAILURE() << "q7m-sim did not become ready";
  return false;
}

void UsbSim::Stop() {
  if (process_.pid() > 0 && !stopped_) {
    process_.Kill(15);
    process_.Wait();
  }
  stopped_ = true;
}

void UsbSim::Kill() {
  if (process_.pid() > 0 && !stopped_) {
    process_.Kill(9);
    process_.Wait();
  }
  stopped_ = true;
}

std::string UsbSim::PathOf(const std::string& name) const {
  auto it = paths_.find(name);
  return it == paths_.end() ? std::string() : it->second;
}

std::vector<std::string> UsbSim::Control(const std::string& command) {
  ChildProcess ctl;
  std::vector<std::string> args{"ctl", "--control", control_};
  std::istringstream words(command);
  for (std::string w; words >> w;) args.push_back(w);
  std::vector<std::string> lines;
  if (!ctl.StartProgram(SimPath(), args)) return lines;
  for (std::string line; ctl.ReadLine(&line);) lines.push_back(line);
  ctl.Wait();
  return lines;
}

std::map<std::string, std::string> UsbSim::Status(const std::string& reader) {
  std::map<std::string, std::string> fields;
  for (const std::string& line : Control("status " + reader)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    key.erase(0, key.find_first_not_of(" \t"));
    fields[key] = line.substr(eq + 1);
  }
  return fields;
}

long UsbSim::Counter(const std::string& reader, const std::string& name) {
  auto fields = Status(reader);
  auto it = fields.find(name);
  if (it == fields.end()) {
    ADD_FAILURE() << "q7m-sim status has no " << name;
    return -1;
  }
  return std::stol(it->second);
}

long UsbSim::AwaitCounter(const std::string& reader, const std::string& name, long value,
                          int timeLimitMs) {
  long seen = Counter(reader, name);
  for (int waited = 0; seen != value && seen >= 0 && waited < timeLimitMs; waited += 20) {
    ::usleep(20 * 1000);
    seen = Counter(reader, name);
  }
  return seen;
}

std::vector<std::string> UsbSim::LogLines(const std::string& reader, const std::string& kind) {
  std::vector<std::string> lines;
  std::istringstream log(ReadFile(log_));
  for (std::string line; std::getline(log, line);) {
    std::istringstream words(line);
    std::string stamp, name, word;
    words >> stamp >> name >> word;
    if (name != reader || word != kind) continue;
    std::string rest;
    std::getline(words, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    lines.push_back(rest);
  }
  return lines;
}

}  // namespace q7mtest
