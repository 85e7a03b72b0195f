// Threads, time and process services.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <linux/capability.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform_test_util.h"
#include "q7m_test.h"

namespace {

using q7mtest::ChildProcess;
using q7mtest::Handle;

TEST(Threads, StartedThreadRunsDetachedWithItsArgument) {
  Handle done(Q7M_CreateEvent(1, 0, nullptr));
  struct Context {
    Q7M_HANDLE done;
    std::atomic<uint32_t> tid{0};
  } context{done.get()};
  ASSERT_EQ(Q7M_StartThread(
                [](void* arg) {
                  auto* c = static_cast<Context*>(arg);
                  c->tid = Q7M_GetCurrentThreadId();
                  Q7M_SetEvent(c->done);
                },
                &context),
            1);
  ASSERT_EQ(Q7M_WaitForSingleObject(done, 10000), Q7M_WAIT_OBJECT_0);
  EXPECT_NE(context.tid, 0u);
  EXPECT_NE(context.tid, Q7M_GetCurrentThreadId());
  EXPECT_EQ(Q7M_GetCurrentThreadId(), static_cast<uint32_t>(gettid()));
  EXPECT_EQ(Q7M_StartThread(nullptr, nullptr), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
}

TEST(Time, TickCountFollowsTheMonotonicClock) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint32_t expected = static_cast<uint32_t>(ts.tv_sec * 1000ull + ts.tv_nsec / 1000000);
  uint32_t ticks = Q7M_GetTickCount();
  EXPECT_LT(static_cast<uint32_t>(ticks - expected), 1000u);  // wrap-safe difference
  Q7M_Sleep(20);
  EXPECT_GE(static_cast<uint32_t>(Q7M_GetTickCount() - ticks), 20u);
}

TEST(Time, SystemAndLocalTimeMatchTheCalendar) {
  setenv("TZ", "UTC-3", 1);
  tzset();
  Q7M_SYSTEMTIME utc{}, local{};
  time_t before = time(nullptr);
  Q7M_GetSystemTime(&utc);
  Q7M_GetLocalTime(&local);
  tm t{};
  gmtime_r(&before, &t);
  EXPECT_EQ(utc.wYear, t.tm_year + 1900);
  EXPECT_EQ(utc.wMonth, t.tm_mon + 1);
  EXPECT_EQ(utc.wDayOfWeek, t.tm_wday);
  EXPECT_LT(utc.wMilliseconds, 1000);
  EXPECT_LE(utc.wSecond, 59);
  // Three hours ahead (modulo a day boundary).
  EXPECT_EQ((local.wHour + 24 - utc.wHour) % 24, 3);
  unsetenv("TZ");
  tzset();
  Q7M_GetSystemTime(nullptr);  // tolerated
}

Q7M_CHILD(ExitAtOnce) {
  return 0;
}

TEST(Process, ExistsOnlyWhileRunningNotAsZombie) {
  EXPECT_EQ(Q7M_ProcessExists(Q7M_GetCurrentProcessId()), 1);
  EXPECT_EQ(Q7M_GetCurrentProcessId(), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(Q7M_ProcessExists(0), 0);
  EXPECT_EQ(Q7M_ProcessExists(0xFFFFFFFFu), 0);
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  ASSERT_GT(pid, 0);
  // Not reaped yet: a zombie does not count.
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, pid, &info, WEXITED | WNOWAIT), 0);
  EXPECT_EQ(Q7M_ProcessExists(static_cast<uint32_t>(pid)), 0);
  ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
  EXPECT_EQ(Q7M_ProcessExists(static_cast<uint32_t>(pid)), 0);
}

// Opens a pipe, writes into it and tells its descriptor; with "private",
// makes itself non-dumpable so only a ptrace-capable process may reach in.
Q7M_CHILD(FdOwner) {
  if (!args.empty() && args[0] == "private") prctl(PR_SET_DUMPABLE, 0);
  int fds[2];
  if (pipe(fds) != 0) return 2;
  if (write(fds[1], "hello", 5) != 5) return 3;
  q7mtest::Say(std::to_string(fds[0]));
  std::string line;
  q7mtest::Hear(&line);
  return 0;
}

// Tries to take descriptor args[1] of process args[0] without the ptrace
// capability.
Q7M_CHILD(FdThief) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (geteuid() == 0) {
    if (syscall(SYS_capget, &header, data) != 0) return 10;
    data[CAP_SYS_PTRACE / 32].effective &= ~(1u << (CAP_SYS_PTRACE % 32));
    if (syscall(SYS_capset, &header, data) != 0) return 10;
  }
  int fd = Q7M_DuplicateProcessFd(std::stoul(args.at(0)), std::stoi(args.at(1)));
  q7mtest::Say(fd >= 0 ? "copied" : std::to_string(Q7M_GetLastError()));
  return 0;
}

TEST(Process, DuplicatesADescriptorOfAnotherProcess) {
  ChildProcess owner;
  ASSERT_TRUE(owner.Start("FdOwner"));
  std::string fdText;
  ASSERT_TRUE(owner.ReadLine(&fdText));
  int fd = Q7M_DuplicateProcessFd(static_cast<uint32_t>(owner.pid()), std::stoi(fdText));
  ASSERT_GE(fd, 0) << Q7M_GetLastError();
  char buffer[8] = {};
  EXPECT_EQ(read(fd, buffer, 5), 5);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  close(fd);
  EXPECT_EQ(Q7M_DuplicateProcessFd(static_cast<uint32_t>(owner.pid()), 999), -1);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  owner.WriteLine("done");
  owner.Wait();
  EXPECT_EQ(Q7M_DuplicateProcessFd(static_cast<uint32_t>(owner.pid()), 0), -1);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
}

TEST(Process, DuplicationRefusedByTheKernelIsAccessDenied) {
  ChildProcess owner;
  ASSERT_TRUE(owner.Start("FdOwner", {"private"}));
  std::string fdText;
  ASSERT_TRUE(owner.ReadLine(&fdText));
  ChildProcess thief;
  ASSERT_TRUE(thief.Start("FdThief", {std::to_string(owner.pid()), fdText}));
  std::string line;
  bool said = thief.ReadLine(&line);
  if (thief.Wait() == 10) GTEST_SKIP() << "cannot drop the ptrace capability here";
  ASSERT_TRUE(said);
  EXPECT_EQ(line, std::to_string(Q7M_ERROR_ACCESS_DENIED));
}

}  // namespace
