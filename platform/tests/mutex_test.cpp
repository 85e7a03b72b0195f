// Mutexes: ownership by thread, recursion, initial ownership, abandonment by
// a killed process and by an ended thread, lifetime across processes.
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform_test_util.h"
#include "q7m_test.h"

namespace {

using q7mtest::ChildProcess;
using q7mtest::Handle;

std::string WaitText(uint32_t r) {
  switch (r) {
    case Q7M_WAIT_OBJECT_0:
      return "object0";
    case Q7M_WAIT_ABANDONED_0:
      return "abandoned";
    case Q7M_WAIT_TIMEOUT:
      return "timeout";
    default:
      return "failed";
  }
}

// Takes the mutex (creating it if needed) and holds it until told.
Q7M_CHILD(MutexOwner) {
  Q7M_HANDLE m = Q7M_CreateMutex(0, args.at(0).c_str());
  if (!m || Q7M_WaitForSingleObject(m, 10000) != Q7M_WAIT_OBJECT_0) return 2;
  q7mtest::Say("owned");
  std::string line;
  q7mtest::Hear(&line);
  if (Q7M_ReleaseMutex(m) != 1) return 3;
  q7mtest::Say("released");
  q7mtest::Hear(&line);
  Q7M_CloseHandle(m);
  return 0;
}

// Asks for initial ownership of an existing mutex, then waits for it.
Q7M_CHILD(MutexLateComer) {
  Q7M_HANDLE m = Q7M_CreateMutex(1, args.at(0).c_str());
  if (!m) return 2;
  q7mtest::Say(Q7M_GetLastError() == Q7M_ERROR_ALREADY_EXISTS ? "existed" : "new");
  q7mtest::Say(Q7M_ReleaseMutex(m) ? "released" : "not-owner");
  q7mtest::Say(WaitText(Q7M_WaitForSingleObject(m, 100)));
  std::string line;
  q7mtest::Hear(&line);
  q7mtest::Say(WaitText(Q7M_WaitForSingleObject(m, 10000)));
  Q7M_ReleaseMutex(m);
  Q7M_CloseHandle(m);
  return 0;
}

// Runs `body` on another thread and returns its result.
template <class F>
auto OnOtherThread(F body) {
  decltype(body()) result{};
  std::thread t([&] { result = body(); });
  t.join();
  return result;
}

class MutexKinds : public ::testing::TestWithParam<const char*> {};

TEST_P(MutexKinds, OwnedByOneThreadRecursivelyAndReleasedOnlyByIt) {
  Handle m(Q7M_CreateMutex(0, GetParam()));
  ASSERT_NE(m.get(), nullptr);
  EXPECT_EQ(Q7M_WaitForSingleObject(m, 0), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(Q7M_WaitForSingleObject(m, Q7M_INFINITE), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(OnOtherThread([&] { return Q7M_WaitForSingleObject(m, 20); }), Q7M_WAIT_TIMEOUT);
  EXPECT_EQ(OnOtherThread([&] {
              int released = Q7M_ReleaseMutex(m);
              return std::make_pair(released, Q7M_GetLastError());
            }),
            std::make_pair(0, Q7M_ERROR_NOT_OWNER));
  EXPECT_EQ(Q7M_ReleaseMutex(m), 1);
  // Still held once.
  EXPECT_EQ(OnOtherThread([&] { return Q7M_WaitForSingleObject(m, 0); }), Q7M_WAIT_TIMEOUT);
  EXPECT_EQ(Q7M_ReleaseMutex(m), 1);
  EXPECT_EQ(Q7M_ReleaseMutex(m), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_NOT_OWNER);
  EXPECT_EQ(OnOtherThread([&] {
              uint32_t r = Q7M_WaitForSingleObject(m, 0);
              Q7M_ReleaseMutex(m);
              return r;
            }),
            Q7M_WAIT_OBJECT_0);
}

TEST_P(MutexKinds, ThreadThatEndsOwningItAbandonsIt) {
  Handle m(Q7M_CreateMutex(0, GetParam()));
  ASSERT_NE(m.get(), nullptr);
  std::thread([&] { ASSERT_EQ(Q7M_WaitForSingleObject(m, 0), Q7M_WAIT_OBJECT_0); }).join();
  EXPECT_EQ(Q7M_WaitForSingleObject(m, 5000), Q7M_WAIT_ABANDONED_0);
  // The ownership came with it, recursively, and is clean afterwards.
  EXPECT_EQ(Q7M_WaitForSingleObject(m, 0), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(OnOtherThread([&] { return Q7M_WaitForSingleObject(m, 0); }), Q7M_WAIT_TIMEOUT);
  EXPECT_EQ(Q7M_ReleaseMutex(m), 1);
  EXPECT_EQ(Q7M_ReleaseMutex(m), 1);
  EXPECT_EQ(OnOtherThread([&] {
              uint32_t r = Q7M_WaitForSingleObject(m, 0);
              Q7M_ReleaseMutex(m);
              return r;
            }),
            Q7M_WAIT_OBJECT_0);
}

INSTANTIATE_TEST_SUITE_P(NamedAndUnnamed, MutexKinds,
                         ::testing::Values("Global\\TestMutex", nullptr),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

TEST(Mutex, InitialOwnershipOnlyForTheCreatorOfANewMutex) {
  Handle first(Q7M_CreateMutex(1, "initial"));
  ASSERT_NE(first.get(), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SUCCESS);
  auto [second, error, released] = OnOtherThread([] {
    Q7M_HANDLE h = Q7M_CreateMutex(1, "initial");
    uint32_t e = Q7M_GetLastError();
    return std::make_tuple(h, e, Q7M_ReleaseMutex(h));
  });
  Handle secondHandle(second);
  EXPECT_EQ(error, Q7M_ERROR_ALREADY_EXISTS);
  EXPECT_EQ(released, 0);
  EXPECT_EQ(Q7M_ReleaseMutex(first), 1);
  EXPECT_EQ(Q7M_ReleaseMutex(first), 0);
}

TEST(Mutex, OwnerThreadCanCloseItsHandleAndStillHoldAndAbandonIt) {
  Handle keeper(Q7M_CreateMutex(0, "closed-owner"));
  ASSERT_NE(keeper.get(), nullptr);
  std::thread([] {
    Q7M_HANDLE own = Q7M_CreateMutex(0, "closed-owner");
    ASSERT_EQ(Q7M_WaitForSingleObject(own, 0), Q7M_WAIT_OBJECT_0);
    ASSERT_EQ(Q7M_CloseHandle(own), 1);
  }).join();
  // Abandonment is only seen if the owner's mapping outlived its handle.
  EXPECT_EQ(Q7M_WaitForSingleObject(keeper, 5000), Q7M_WAIT_ABANDONED_0);
  EXPECT_EQ(Q7M_ReleaseMutex(keeper), 1);
  keeper.reset();
  // The ended owner's hold is let go too: the mutex is gone with the last
  // handle.
  EXPECT_EQ(Q7M_OpenMutex("closed-owner"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
}

TEST(Mutex, SecondProcessIsRefusedInitialOwnershipWaitsAndTimesOut) {
  Handle m(Q7M_CreateMutex(1, "shared-initial"));
  ASSERT_NE(m.get(), nullptr);
  ChildProcess child;
  ASSERT_TRUE(child.Start("MutexLateComer", {"shared-initial"}));
  EXPECT_TRUE(child.Expect("existed"));
  EXPECT_TRUE(child.Expect("not-owner"));
  EXPECT_TRUE(child.Expect("timeout"));
  EXPECT_EQ(Q7M_ReleaseMutex(m), 1);
  child.WriteLine("go");
  EXPECT_TRUE(child.Expect("object0"));
  EXPECT_EQ(child.Wait(), 0);
}

TEST(Mutex, ProcessKilledWhileOwningHandsAbandonedOwnershipToTheWaiter) {
  Handle m(Q7M_CreateMutex(0, "killed-owner"));
  ASSERT_NE(m.get(), nullptr);
  ChildProcess child;
  ASSERT_TRUE(child.Start("MutexOwner", {"killed-owner"}));
  ASSERT_TRUE(child.Expect("owned"));
  EXPECT_EQ(Q7M_WaitForSingleObject(m, 20), Q7M_WAIT_TIMEOUT);
  // A non-owner cannot release it for the owner.
  EXPECT_EQ(Q7M_ReleaseMutex(m), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_NOT_OWNER);

  std::atomic<pid_t> waiterTid{0};
  uint32_t result = 0;
  std::thread waiter([&] {
    waiterTid = gettid();
    result = Q7M_WaitForSingleObject(m, 10000);
    if (result == Q7M_WAIT_ABANDONED_0) Q7M_ReleaseMutex(m);
  });
  while (waiterTid == 0) std::this_thread::yield();
  EXPECT_TRUE(q7mtest::WaitUntilBlockedIn(getpid(), waiterTid, SYS_futex));
  child.Kill(SIGKILL);
  waiter.join();
  EXPECT_EQ(result, Q7M_WAIT_ABANDONED_0);
  EXPECT_EQ(Q7M_WaitForSingleObject(m, 0), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(Q7M_ReleaseMutex(m), 1);
}

TEST(Mutex, DisappearsWhenTheLastHandleInAnyProcessCloses) {
  ChildProcess child;
  ASSERT_TRUE(child.Start("MutexOwner", {"last-handle"}));
  ASSERT_TRUE(child.Expect("owned"));
  Handle opened(Q7M_OpenMutex("last-handle"));
  ASSERT_NE(opened.get(), nullptr);
  child.WriteLine("release");
  ASSERT_TRUE(child.Expect("released"));
  child.WriteLine("exit");
  ASSERT_EQ(child.Wait(), 0);
  // Still here through our handle.
  Handle again(Q7M_OpenMutex("last-handle"));
  EXPECT_NE(again.get(), nullptr);
  again.reset();
  opened.reset();
  EXPECT_EQ(Q7M_OpenMutex("last-handle"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
  EXPECT_NE(access(q7mtest::ObjectFilePath("last-handle").c_str(), F_OK), 0);
}

TEST(Mutex, DisappearsWhenTheLastHolderIsKilled) {
  ChildProcess child;
  ASSERT_TRUE(child.Start("MutexOwner", {"killed-holder"}));
  ASSERT_TRUE(child.Expect("owned"));
  child.Kill(SIGKILL);
  child.Wait();
  EXPECT_EQ(Q7M_OpenMutex("killed-holder"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
  // A new mutex of that name, neither existing nor abandoned.
  Handle fresh(Q7M_CreateMutex(0, "killed-holder"));
  ASSERT_NE(fresh.get(), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SUCCESS);
  EXPECT_EQ(Q7M_WaitForSingleObject(fresh, 0), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(Q7M_ReleaseMutex(fresh), 1);
}

}  // namespace
