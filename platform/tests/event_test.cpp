// Events: manual and automatic reset, in threads and processes, and their
// pollable descriptors.
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform_test_util.h"
#include "q7m_test.h"

namespace {

using q7mtest::ChildProcess;
using q7mtest::Handle;

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

// Opens the named event and reports each wait it wins, until told to stop.
Q7M_CHILD(EventWaiter) {
  Q7M_HANDLE e = Q7M_OpenEvent(args.at(0).c_str());
  if (!e) return 2;
  q7mtest::Say("ready");
  for (;;) {
    uint32_t r = Q7M_WaitForSingleObject(e, 20000);
    if (r != Q7M_WAIT_OBJECT_0) return 3;
    q7mtest::Say("got");
  }
}

class EventKinds : public ::testing::TestWithParam<const char*> {};

TEST_P(EventKinds, ManualResetReleasesEveryWaiterAndStaysSet) {
  Handle e(Q7M_CreateEvent(1, 0, GetParam()));
  ASSERT_NE(e.get(), nullptr);
  EXPECT_EQ(Q7M_WaitForSingleObject(e, 10), Q7M_WAIT_TIMEOUT);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (Q7M_WaitForSingleObject(e, 10000) == Q7M_WAIT_OBJECT_0) ++released;
    });
  EXPECT_EQ(Q7M_SetEvent(e), 1);
  EXPECT_EQ(Q7M_SetEvent(e), 1);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released, 3);
  EXPECT_EQ(Q7M_WaitForSingleObject(e, 0), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(Q7M_ResetEvent(e), 1);
  EXPECT_EQ(Q7M_WaitForSingleObject(e, 0), Q7M_WAIT_TIMEOUT);
}

TEST_P(EventKinds, OneSetReleasesExactlyOneAutoResetWaiter) {
  Handle e(Q7M_CreateEvent(0, 0, GetParam()));
  ASSERT_NE(e.get(), nullptr);
  constexpr int kWaiters = 3;
  std::atomic<int> released{0};
  std::atomic<pid_t> tids[kWaiters] = {};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i)
    waiters.emplace_back([&, i] {
      tids[i] = gettid();
      if (Q7M_WaitForSingleObject(e, 20000) == Q7M_WAIT_OBJECT_0) ++released;
    });
  for (auto& tid : tids) {
    while (tid == 0) std::this_thread::yield();
    ASSERT_TRUE(q7mtest::WaitUntilBlockedIn(getpid(), tid, SYS_ppoll));
  }
  for (int round = 1; round <= kWaiters; ++round) {
    EXPECT_EQ(Q7M_SetEvent(e), 1);
    while (released < round) std::this_thread::yield();
    // Give any wrongly woken second waiter the chance to show itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(released, round);
  }
  for (auto& t : waiters) t.join();
  EXPECT_EQ(Q7M_WaitForSingleObject(e, 0), Q7M_WAIT_TIMEOUT);
  // Sets with nobody waiting in between are one signal.
  EXPECT_EQ(Q7M_SetEvent(e), 1);
  EXPECT_EQ(Q7M_SetEvent(e), 1);
  EXPECT_EQ(Q7M_WaitForSingleObject(e, 0), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(Q7M_WaitForSingleObject(e, 0), Q7M_WAIT_TIMEOUT);
}

TEST_P(EventKinds, DescriptorIsReadableExactlyWhileSignalled) {
  for (int manual : {0, 1}) {
    SCOPED_TRACE(manual ? "manual" : "auto");
    std::string name = GetParam() ? std::string(GetParam()) + std::to_string(manual) : "";
    Handle e(Q7M_CreateEvent(manual, 1, GetParam() ? name.c_str() : nullptr));
    ASSERT_NE(e.get(), nullptr);
    int fd = Q7M_GetEventFd(e);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(Readable(fd));
    EXPECT_TRUE(Readable(fd));  // polling consumes nothing
    EXPECT_EQ(Q7M_WaitForSingleObject(e, 0), Q7M_WAIT_OBJECT_0);
    EXPECT_EQ(Readable(fd), manual == 1);
    EXPECT_EQ(Q7M_ResetEvent(e), 1);
    EXPECT_FALSE(Readable(fd));
    EXPECT_EQ(Q7M_SetEvent(e), 1);
    EXPECT_TRUE(Readable(fd));
    EXPECT_EQ(Q7M_ResetEvent(e), 1);
    EXPECT_FALSE(Readable(fd));
  }
}

INSTANTIATE_TEST_SUITE_P(NamedAndUnnamed, EventKinds,
                         ::testing::Values("Global\\TestEvent", nullptr),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

TEST(Event, CreatorsKindHoldsForLaterOpeners) {
  Handle creator(Q7M_CreateEvent(0, 0, "kind"));
  ASSERT_NE(creator.get(), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SUCCESS);
  // Asks for manual reset and a set state: both ignored.
  Handle second(Q7M_CreateEvent(1, 1, "kind"));
  ASSERT_NE(second.get(), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ALREADY_EXISTS);
  EXPECT_EQ(Q7M_WaitForSingleObject(creator, 0), Q7M_WAIT_TIMEOUT);
  EXPECT_EQ(Q7M_SetEvent(second), 1);
  EXPECT_EQ(Q7M_WaitForSingleObject(creator, 0), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(Q7M_WaitForSingleObject(second, 0), Q7M_WAIT_TIMEOUT);
  EXPECT_EQ(Q7M_OpenEvent("no such event"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
}

TEST(Event, AutoResetSignalReachesExactlyOneWaitingProcess) {
  Handle e(Q7M_CreateEvent(0, 0, "Global\\cross-process"));
  ASSERT_NE(e.get(), nullptr);
  ChildProcess a, b;
  ASSERT_TRUE(a.Start("EventWaiter", {"Global\\cross-process"}));
  ASSERT_TRUE(b.Start("EventWaiter", {"Global\\cross-process"}));
  ASSERT_TRUE(a.Expect("ready"));
  ASSERT_TRUE(b.Expect("ready"));
  ASSERT_TRUE(q7mtest::WaitUntilBlockedIn(a.pid(), a.pid(), SYS_ppoll));
  ASSERT_TRUE(q7mtest::WaitUntilBlockedIn(b.pid(), b.pid(), SYS_ppoll));
  // Each set wakes one process; count the wake-ups over a bounded time.
  int got = 0;
  std::string line;
  for (int round = 1; round <= 2; ++round) {
    EXPECT_EQ(Q7M_SetEvent(e), 1);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got < round && std::chrono::steady_clock::now() < deadline) {
      if (a.ReadLine(&line, std::chrono::milliseconds(20)) && line == "got") ++got;
      if (b.ReadLine(&line, std::chrono::milliseconds(20)) && line == "got") ++got;
    }
    // A second winner would show up now.
    if (a.ReadLine(&line, std::chrono::milliseconds(50)) && line == "got") ++got;
    if (b.ReadLine(&line, std::chrono::milliseconds(50)) && line == "got") ++got;
    EXPECT_EQ(got, round);
  }
}

TEST(Event, ManualResetSetInOneProcessReleasesAnother) {
  Handle e(Q7M_CreateEvent(1, 0, "manual-cross"));
  ChildProcess child;
  ASSERT_TRUE(child.Start("EventWaiter", {"manual-cross"}));
  ASSERT_TRUE(child.Expect("ready"));
  EXPECT_EQ(Q7M_SetEvent(e), 1);
  EXPECT_TRUE(child.Expect("got"));
  // Still set: the child keeps winning until it is reset.
  EXPECT_TRUE(child.Expect("got"));
  EXPECT_EQ(Q7M_ResetEvent(e), 1);
}

TEST(Event, NameOfAnotherKindIsRefused) {
  Handle mutex(Q7M_CreateMutex(0, "taken-by-mutex"));
  EXPECT_EQ(Q7M_CreateEvent(1, 0, "taken-by-mutex"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  EXPECT_EQ(Q7M_OpenFileMapping("taken-by-mutex"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
}

}  // namespace
