#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "q7m_test.h"

extern char** environ;

namespace q7mtest {

std::map<std::string, ChildBody>& ChildRegistry() {
  static std::map<std::string, ChildBody> registry;
  return registry;
}

ChildRegistration::ChildRegistration(const char* name, ChildBody body) {
  ChildRegistry()[name] = body;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && status_ < 0) {
    Kill(SIGKILL);
    Wait(std::chrono::seconds(10));
  }
  if (toChild_ >= 0) close(toChild_);
  if (fromChild_ >= 0) close(fromChild_);
}

bool ChildProcess::Start(const std::string& name, const std::vector<std::string>& args) {
  std::vector<std::string> argv{"/proc/self/exe", "--q7m-child=" + name};
  argv.insert(argv.end(), args.begin(), args.end());
  return Spawn(argv, {});
}

bool ChildProcess::StartProgram(const std::string& path, const std::vector<std::string>& args,
                                const std::vector<std::string>& extraEnv) {
  std::vector<std::string> argv{path};
  argv.insert(argv.end(), args.begin(), args.end());
  return Spawn(argv, extraEnv);
}

bool ChildProcess::Spawn(const std::vector<std::string>& argvText,
                         const std::vector<std::string>& extraEnv) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return false;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return false;
  }
  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls are allowed in a threaded parent.
  std::vector<char*> argv;
  for (const auto& a : argvText) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  for (const auto& e : extraEnv) envText.push_back(e);
  std::vector<char*> envp;
  for (auto& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t parent = getpid();

  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(in[0], 0);
    dup2(out[1], 1);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  toChild_ = in[1];
  fromChild_ = out[0];
  pid_ = pid;
  status_ = -1;
  return true;
}

bool ChildProcess::ReadLine(std::string* line, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto nl = pending_.find('\n');
    if (nl != std::string::npos) {
      *line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || fromChild_ < 0) return false;
    pollfd p{fromChild_, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    char buf[512];
    ssize_t n = read(fromChild_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    pending_.append(buf, static_cast<size_t>(n));
  }
}

bool ChildProcess::Expect(const std::string& expected, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  std::string line;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (!ReadLine(&line, left)) return false;
    if (line == expected) return true;
  }
}

bool ChildProcess::WriteLine(const std::string& line) {
  std::string text = line + "\n";
  return write(toChild_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

int ChildProcess::Wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  if (status_ >= 0) return status_;
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      return status_;
    }
    if (r < 0) return -1;
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    struct timespec ts{0, 2'000'000};
    nanosleep(&ts, nullptr);
  }
}

void ChildProcess::Kill(int signal) {
  if (pid_ > 0 && status_ < 0) ::kill(pid_, signal);
}

void Say(const std::string& line) {
  std::string text = line + "\n";
  ssize_t unused = write(1, text.data(), text.size());
  (void)unused;
}

bool Hear(std::string* line) {
  line->clear();
  char c;
  for (;;) {
    ssize_t n = read(0, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') return true;
    line->push_back(c);
  }
}

}  // namespace q7mtest
