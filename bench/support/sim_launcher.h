// q7m-sim for the benchmarks that measure the stack on an emulated reader: a
// serial reader on COM3 and a USB reader, started in a fresh directory that
// becomes the current one (so PDLNK.INI is found there), with a private
// named-object directory in memory, as the default name space is.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "q7m/platform.h"

extern char** environ;

namespace q7mbench {

class SimLauncher {
 public:
  // `label` names the benchmark in messages and temporary directories.
  explicit SimLauncher(const char* label) : label_(label) {}
  SimLauncher(const SimLauncher&) = delete;
  SimLauncher& operator=(const SimLauncher&) = delete;

  // Starts q7m-sim (beside the running program) and waits for its "ready";
  // a benchmark without its reader cannot run, so a failure ends the process.
  void Start() {
    dir_ = TempDir("/tmp/");
    objects_ = TempDir("/dev/shm/");
    std::filesystem::create_directories(dir_ + "/hidbus");
    setenv("Q7M_OBJECT_DIR", objects_.c_str(), 1);
    setenv("Q7M_HIDBUS_DIR", (dir_ + "/hidbus").c_str(), 1);
    if (chdir(dir_.c_str()) != 0) Fail("chdir");

    int out[2];
    if (pipe(out) != 0) Fail("pipe");
    const std::string program = ProgramDir() + "/q7m-sim";
    const std::string ini = dir_ + "/PDLNK.INI", control = dir_ + "/sim.ctl";
    const char* argv[] = {program.c_str(), "--serial",  "--pdlnk-ini",   ini.c_str(), "--com", "3",
                          "--usb",         "--control", control.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ) !=
        0)
      Fail("spawn q7m-sim");
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    FILE* banner = fdopen(out[0], "r");
    char line[512];
    while (banner != nullptr && std::fgets(line, sizeof line, banner) != nullptr) {
      if (std::string(line) == "ready\n") return;  // the pipe stays open: q7m-sim may print
    }
    Fail("q7m-sim did not get ready");
  }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    std::filesystem::remove_all(objects_, ec);
  }

  [[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "%s: %s (last error %u)\n", label_, what, Q7M_GetLastError());
    if (pid_ > 0) kill(pid_, SIGKILL);
    std::exit(1);
  }

 private:
  std::string TempDir(const std::string& parent) {
    std::string path = parent + label_ + ".XXXXXX";
    if (mkdtemp(path.data()) == nullptr) Fail("mkdtemp");
    return path;
  }

  // The directory of the running program (q7m-sim is beside it).
  std::string ProgramDir() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) Fail("readlink /proc/self/exe");
    path[n] = '\0';
    return std::filesystem::path(path).parent_path().string();
  }

  const char* label_;
  pid_t pid_ = -1;
  std::string dir_;
  std::string objects_;
};

}  // namespace q7mbench
