#include "sim_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

namespace q7mtest {

namespace {
std::string SimPath() {
  return BuildBinDir() + "/q7m-sim";
}
}  // namespace

std::string EnterFreshWorkingDirectory() {
  const std::string dir = MakeTempDir("cwd");
  EXPECT_EQ(::chdir(dir.c_str()), 0);
  return dir;
}

bool SimReader::Start(int com, const std::vector<std::string>& options) {
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return false;
  control_ = MakeTempDir("sim") + "/sim.ctl";
  std::vector<std::string> args{"--control",
                                control_,
                                "--serial=r1",
                                "--pdlnk-ini",
                                std::string(cwd) + "/PDLNK.INI",
                                "--com",
                                std::to_string(com)};
  args.insert(args.end(), options.begin(), options.end());
  if (!process_.StartProgram(SimPath(), args)) {
    ADD_FAILURE() << "cannot start " << SimPath();
    return false;
  }
  std::string line;
  while (process_.ReadLine(&line)) {
    std::istringstream words(line);
    std::string first, name, kind, path;
    words >> first >> name >> kind >> path;
    if (first == "reader" && kind == "serial") ptyPath_ = path;
    if (first == "ready") return !ptyPath_.empty();
  }
  ADD_FAILURE() << "q7m-sim did not become ready";
  return false;
}

void SimReader::Stop() {
  if (process_.pid() > 0) {
    process_.Kill(15);
    process_.Wait();
  }
}

std::vector<std::string> SimReader::Control(const std::string& command) {
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

std::map<std::string, std::string> SimReader::Status() {
  std::map<std::string, std::string> fields;
  for (const std::string& line : Control("status r1")) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    key.erase(0, key.find_first_not_of(" \t"));
    fields[key] = line.substr(eq + 1);
  }
  return fields;
}

long SimReader::Counter(const std::string& name) {
  auto fields = Status();
  auto it = fields.find(name);
  if (it == fields.end()) {
    ADD_FAILURE() << "q7m-sim status has no " << name;
    return -1;
  }
  return std::stol(it->second);
}

bool SimReader::WaitForCounter(const std::string& name, long atLeast) {
  for (int i = 0; i < 500; ++i) {
    if (Counter(name) >= atLeast) return true;
    ::usleep(20000);
  }
  return false;
}

}  // namespace q7mtest
