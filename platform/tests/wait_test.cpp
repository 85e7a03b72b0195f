// Multiple-object waits: events with descriptors, lowest index first,
// wait-all, and the combinations that are refused.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform_test_util.h"

namespace {

using q7mtest::Handle;

struct Pipe {
  int r = -1, w = -1;
  Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
      r = fds[0];
      w = fds[1];
    }
  }
  ~Pipe() {
    if (r >= 0) close(r);
    if (w >= 0) close(w);
  }
};

TEST(Wait, EventAndDescriptorTogetherLowestSignalledIndexWins) {
  Pipe pipe;
  Handle cancel(Q7M_CreateEvent(1, 0, nullptr));
  Handle data(Q7M_CreateIoHandle(pipe.r, POLLIN));
  ASSERT_NE(data.get(), nullptr);
  Q7M_HANDLE both[] = {cancel, data};
  EXPECT_EQ(Q7M_WaitForMultipleObjects(2, both, 0, 20), Q7M_WAIT_TIMEOUT);
  ASSERT_EQ(write(pipe.w, "x", 1), 1);
  EXPECT_EQ(Q7M_WaitForMultipleObjects(2, both, 0, 1000), Q7M_WAIT_OBJECT_0 + 1);
  EXPECT_EQ(Q7M_SetEvent(cancel), 1);
  EXPECT_EQ(Q7M_WaitForMultipleObjects(2, both, 0, 1000), Q7M_WAIT_OBJECT_0);
  // Peer gone: hang-up counts as signalled for a reader.
  char c;
  ASSERT_EQ(read(pipe.r, &c, 1), 1);
  close(pipe.w);
  pipe.w = -1;
  EXPECT_EQ(Q7M_WaitForSingleObject(data, 0), Q7M_WAIT_OBJECT_0);
}

TEST(Wait, WaitAllReturnsOnlyWhenEveryObjectIsSignalled) {
  Pipe pipe;
  Handle a(Q7M_CreateEvent(1, 0, nullptr));
  Handle b(Q7M_CreateEvent(1, 0, "all-b"));
  Handle io(Q7M_CreateIoHandle(pipe.r, POLLIN));
  Q7M_HANDLE all[] = {a, b, io};
  EXPECT_EQ(Q7M_WaitForMultipleObjects(3, all, 1, 10), Q7M_WAIT_TIMEOUT);
  Q7M_SetEvent(a);
  ASSERT_EQ(write(pipe.w, "x", 1), 1);
  EXPECT_EQ(Q7M_WaitForMultipleObjects(3, all, 1, 10), Q7M_WAIT_TIMEOUT);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Q7M_SetEvent(b);
  });
  EXPECT_EQ(Q7M_WaitForMultipleObjects(3, all, 1, 10000), Q7M_WAIT_OBJECT_0);
  setter.join();
}

TEST(Wait, RefusedCombinationsAndArguments) {
  Handle manual(Q7M_CreateEvent(1, 1, nullptr));
  Handle automatic(Q7M_CreateEvent(0, 1, nullptr));
  Handle mutex(Q7M_CreateMutex(0, nullptr));
  Q7M_HANDLE withMutex[] = {manual, mutex};
  EXPECT_EQ(Q7M_WaitForMultipleObjects(2, withMutex, 0, 0), Q7M_WAIT_FAILED);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_NOT_SUPPORTED);
  Q7M_HANDLE allWithAuto[] = {manual, automatic};
  EXPECT_EQ(Q7M_WaitForMultipleObjects(2, allWithAuto, 1, 0), Q7M_WAIT_FAILED);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_NOT_SUPPORTED);
  // The refused wait consumed nothing.
  EXPECT_EQ(Q7M_WaitForSingleObject(automatic, 0), Q7M_WAIT_OBJECT_0);
  Q7M_HANDLE twice[] = {manual, manual};
  EXPECT_EQ(Q7M_WaitForMultipleObjects(2, twice, 0, 0), Q7M_WAIT_FAILED);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Q7M_WaitForMultipleObjects(0, twice, 0, 0), Q7M_WAIT_FAILED);
  EXPECT_EQ(Q7M_WaitForMultipleObjects(65, twice, 0, 0), Q7M_WAIT_FAILED);
  EXPECT_EQ(Q7M_WaitForMultipleObjects(1, nullptr, 0, 0), Q7M_WAIT_FAILED);
  // A mutex alone in a multiple wait is an ordinary mutex wait.
  Q7M_HANDLE justMutex[] = {mutex};
  EXPECT_EQ(Q7M_WaitForMultipleObjects(1, justMutex, 1, 0), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(Q7M_ReleaseMutex(mutex), 1);
}

TEST(Wait, ClosedDescriptorFailsTheWaitInsteadOfHanging) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  Handle io(Q7M_CreateIoHandle(fds[0], POLLIN));
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ(Q7M_WaitForSingleObject(io, 1000), Q7M_WAIT_FAILED);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  EXPECT_EQ(Q7M_CreateIoHandle(fds[0], POLLIN), nullptr);
}

TEST(Wait, SignalsDuringAWaitNeitherEndNorRestartIt) {
  struct sigaction sa {};
  sa.sa_handler = [](int) {};
  struct sigaction old {};
  ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);  // no SA_RESTART
  Handle e(Q7M_CreateEvent(0, 0, nullptr));
  std::atomic<pid_t> tid{0};
  uint32_t result = 0;
  std::thread waiter([&] {
    tid = gettid();
    result = Q7M_WaitForSingleObject(e, 20000);
  });
  while (tid == 0) std::this_thread::yield();
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(q7mtest::WaitUntilBlockedIn(getpid(), tid, SYS_ppoll));
    syscall(SYS_tgkill, getpid(), tid.load(), SIGUSR1);
  }
  ASSERT_TRUE(q7mtest::WaitUntilBlockedIn(getpid(), tid, SYS_ppoll));
  Q7M_SetEvent(e);
  waiter.join();
  EXPECT_EQ(result, Q7M_WAIT_OBJECT_0);
  sigaction(SIGUSR1, &old, nullptr);
}

}  // namespace
