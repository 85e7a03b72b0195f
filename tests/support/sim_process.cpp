#include "sim_process.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

namespace q7mtest {

using namespace std::chrono_literals;

std::string SimProgramPath() {
  return BuildBinDir() + "/q7m-sim";
}

bool SimProcess::Start(const std::vector<std::string>& args, int readers) {
  Stop();
  const std::string dir = MakeTempDir("sim");
  control_ = dir + "/sim.ctl";
  log_ = dir + "/wire.log";
  paths_.clear();
  std::vector<std::string> all{"--control", control_, "--log", log_};
  all.insert(all.end(), args.begin(), args.end());
  if (!process_.StartProgram(SimProgramPath(), all)) {
    ADD_FAILURE() << "cannot start " << SimProgramPath();
    return false;
  }
  running_ = true;
  std::string line;
  while (process_.ReadLine(&line)) {
    std::istringstream words(line);
    std::string first, name, kind, path;
    words >> first >> name >> kind >> path;
    if (first == "reader") paths_[name] = path;
    if (first == "ready") {
      if (readers < 0 || paths_.size() == static_cast<size_t>(readers)) return true;
      ADD_FAILURE() << "q7m-sim reported " << paths_.size() << " readers, not " << readers;
      return false;
    }
  }
  ADD_FAILURE() << "q7m-sim did not become ready";
  return false;
}

void SimProcess::Stop() {
  if (!running_) return;
  process_.Kill(15);
  process_.Wait();
  running_ = false;
}

void SimProcess::Kill() {
  if (!running_) return;
  process_.Kill(9);
  process_.Wait();
  running_ = false;
}

std::string SimProcess::PathOf(const std::string& reader) const {
  auto it = paths_.find(reader);
  return it == paths_.end() ? std::string() : it->second;
}

std::vector<std::string> SimProcess::Control(const std::string& command) {
  std::vector<std::string> args{"ctl", "--control", control_};
  std::istringstream words(command);
  for (std::string w; words >> w;) args.push_back(w);
  std::vector<std::string> lines;
  ChildProcess ctl;
  if (!ctl.StartProgram(SimProgramPath(), args)) return lines;
  for (std::string line; ctl.ReadLine(&line);) lines.push_back(line);
  ctl.Wait();
  return lines;
}

std::map<std::string, std::string> SimProcess::Status(const std::string& reader) {
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

long SimProcess::Counter(const std::string& reader, const std::string& name) {
  auto fields = Status(reader);
  auto it = fields.find(name);
  if (it == fields.end()) {
    ADD_FAILURE() << "q7m-sim status of " << reader << " has no " << name;
    return -1;
  }
  return std::stol(it->second);
}

template <typename Done>
long SimProcess::AwaitCounterUntil(const std::string& reader, const std::string& name, Done done,
                                   std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  long seen = Counter(reader, name);
  while (seen >= 0 && !done(seen) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
    seen = Counter(reader, name);
  }
  return seen;
}

long SimProcess::AwaitCounter(const std::string& reader, const std::string& name, long value,
                              std::chrono::milliseconds limit) {
  return AwaitCounterUntil(
      reader, name, [value](long seen) { return seen == value; }, limit);
}

long SimProcess::AwaitCounterAtLeast(const std::string& reader, const std::string& name, long value,
                                     std::chrono::milliseconds limit) {
  return AwaitCounterUntil(
      reader, name, [value](long seen) { return seen >= value; }, limit);
}

bool SimProcess::WaitForLog(const std::string& needle, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (ReadFile(log_).find(needle) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

std::vector<std::string> SimProcess::LogLines(const std::string& reader,
                                              const std::string& kind) const {
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
