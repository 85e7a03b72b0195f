// Test support shared by every test executable of the tree.
//
// - Each test process runs in a named-object namespace of its own
//   (Q7M_OBJECT_DIR), a virtual HID bus directory of its own (Q7M_HIDBUS_DIR)
//   and a scratch directory, all removed when it ends, so `ctest -j` runs
//   never meet each other's objects.
// - Real child processes: a test registers child bodies with Q7M_CHILD and
//   starts them with ChildProcess; the child is this same executable started
//   again in child mode, so it is a genuinely separate process (fresh address
//   space, own threads) that inherits the namespace directories.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace q7mtest {

// The scratch directory of this test process (empty directory, removed at exit).
const std::string& ScratchDir();

// A fresh empty directory below ScratchDir().
std::string MakeTempDir(const std::string& stem = "d");

// Writes a whole file; fails the test on error.
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);

// Names of the objects some process holds in this test's object namespace
// (Q7M_OBJECT_DIR). A file nobody holds a flock on is a leftover the platform
// counts as absent (and a process keeps the files of a few closed mutexes
// for a fast re-create), so the files alone say nothing about leaks.
std::vector<std::string> LiveObjectNames();

// Directory holding the build tree's programs (bin/) and libraries (lib/).
std::string BuildBinDir();
std::string BuildLibDir();

using ChildBody = int (*)(const std::vector<std::string>& args);
struct ChildRegistration {
  ChildRegistration(const char* name, ChildBody body);
};

// A child process running a body registered with Q7M_CHILD, or any program.
// Its stdout is a pipe the test reads line by line, its stdin a pipe the test
// writes to; the child dies with the test (PDEATHSIG) and is killed and
// reaped by the destructor, so no process outlives a test.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts the registered child `name` with `args`.
  bool Start(const std::string& name, const std::vector<std::string>& args = {});
  // Starts a program (path) with argv[1..] = args; extraEnv are NAME=VALUE.
  bool StartProgram(const std::string& path, const std::vector<std::string>& args,
                    const std::vector<std::string>& extraEnv = {});

  pid_t pid() const { return pid_; }
  // Next line written by the child (without the newline); false on EOF or
  // time-out.
  bool ReadLine(std::string* line, std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Reads lines until one equals `expected`; false on EOF or time-out.
  bool Expect(const std::string& expected,
              std::chrono::milliseconds limit = std::chrono::seconds(10));
  bool WriteLine(const std::string& line);
  // Waits for the exit; returns the exit code, 128+signal when killed, -1 on
  // time-out (the child keeps running).
  int Wait(std::chrono::milliseconds limit = std::chrono::seconds(20));
  void Kill(int signal = 9);

 private:
  bool Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv);
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  std::string pending_;
  int status_ = -1;
};

// Inside a child body: write one line to the parent (flushed at once) and
// read one line from it.
void Say(const std::string& line);
bool Hear(std::string* line);

}  // namespace q7mtest

#define Q7M_CHILD_CONCAT2(a, b) a##b
#define Q7M_CHILD_CONCAT(a, b) Q7M_CHILD_CONCAT2(a, b)
// Q7M_CHILD(name) { ... return exitCode; }   -- args are in `args`
#define Q7M_CHILD(name)                                                               \
  static int Q7M_CHILD_CONCAT(q7mChild_, name)(const std::vector<std::string>& args); \
  static ::q7mtest::ChildRegistration Q7M_CHILD_CONCAT(q7mChildReg_, name)(           \
      #name, &Q7M_CHILD_CONCAT(q7mChild_, name));                                     \
  static int Q7M_CHILD_CONCAT(q7mChild_,                                              \
                              name)([[maybe_unused]] const std::vector<std::string>& args)
