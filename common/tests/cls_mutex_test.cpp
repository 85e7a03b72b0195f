// clsMutex: the create/open flags and their results, initial ownership only
// for the creator, waits with time limit, and abandonment by a process that
// dies holding the mutex.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "q7m/common/cls_mutex.h"
#include "q7m/common/object_name.h"
#include "q7m/common/results.h"
#include "q7m_test.h"

namespace {

using namespace q7m;

// Runs `body` on another thread and returns its result (a mutex is owned by
// a thread, so "someone else" must be another thread).
template <typename Body>
uint32_t OnOtherThread(Body body) {
  uint32_t result = 0;
  std::thread t([&] { result = body(); });
  t.join();
  return result;
}

TEST(ClsMutexTest, FlagsDecideWhetherCreatingOrOpeningIsAllowed) {
  clsMutex first;
  EXPECT_EQ(first.Create("FlagsBase", false, kMayCreate), kOk);
  EXPECT_NE(first.handle(), nullptr);
  EXPECT_EQ(first.Create("Other", false, kMayCreate), kOk);  // already held: nothing happens

  clsMutex second;
  EXPECT_EQ(second.Create("FlagsBase", false, kMayCreate), kMutexExisted);
  EXPECT_EQ(second.handle(), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ALREADY_EXISTS);
  EXPECT_EQ(second.Create("FlagsBase", false, kMayOpen), kOk);
  second.Close();
  EXPECT_EQ(second.Create("FlagsBase", false, kMayCreate | kMayOpen), kOk);

  // Created although only opening was allowed: closed again, so a second
  // try still finds nothing to open.
  clsMutex third;
  EXPECT_EQ(third.Create("NeverThere", true, kMayOpen), kMutexCreated);
  EXPECT_EQ(third.handle(), nullptr);
  EXPECT_EQ(third.Create("NeverThere", true, kMayOpen), kMutexCreated);
  EXPECT_EQ(Q7M_OpenMutex(ComposeObjectName("NeverThere", "Mutex").c_str()), nullptr);

  // The name is the composed one.
  Q7M_HANDLE opened = Q7M_OpenMutex("Global\\FlagsBaseMutex");
  ASSERT_NE(opened, nullptr);
  Q7M_CloseHandle(opened);
}

TEST(ClsMutexTest, OnlyTheCreatorGetsInitialOwnership) {
  clsMutex creator;
  ASSERT_EQ(creator.Create("OwnedBase", true, kMayCreate | kMayOpen), kOk);
  clsMutex opener;
  ASSERT_EQ(opener.Create("OwnedBase", true, kMayCreate | kMayOpen), kOk);
  // The opener's thread got no ownership: another thread cannot take it
  // while the creator holds it ...
  EXPECT_EQ(OnOtherThread([&] { return opener.Wait(0); }), kTimeout);
  creator.Release();
  // ... and can once it is released (and gives it back when it ends).
  EXPECT_EQ(OnOtherThread([&] {
              uint32_t rc = opener.Wait(1000);
              opener.Release();
              return rc;
            }),
            kOk);
}

TEST(ClsMutexTest, WaitsHonourTheLimitAndAreRecursiveForTheOwner) {
  clsMutex none;
  EXPECT_EQ(none.Wait(0), kOk);  // no handle: nothing to wait for
  none.Release();                // harmless

  clsMutex m;
  ASSERT_EQ(m.Create("WaitBase", false, kMayCreate), kOk);
  ASSERT_EQ(m.Wait(Q7M_INFINITE), kOk);
  ASSERT_EQ(m.Wait(0), kOk);  // recursive
  EXPECT_EQ(OnOtherThread([&] { return m.Wait(20); }), kTimeout);
  m.Release();
  EXPECT_EQ(OnOtherThread([&] { return m.Wait(0); }), kTimeout);  // one level still held
  m.Release();
  EXPECT_EQ(OnOtherThread([&] {
              uint32_t rc = m.Wait(0);
              if (rc == kOk) m.Release();
              return rc;
            }),
            kOk);
  // Close keeps the last error.
  Q7M_SetLastError(Q7M_ERROR_BUSY);
  m.Close();
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_BUSY);
  EXPECT_EQ(m.handle(), nullptr);
}

TEST(ClsMutexTest, LongAndPathLikeBasesMakeUsableNames) {
  std::string longBase(300, 'L');
  clsMutex a, b;
  ASSERT_EQ(a.Create(longBase.c_str(), false, kMayCreate), kOk);
  // The same tail makes the same name: the front is what gets cut.
  std::string otherFront = std::string(52, 'F') + std::string(248, 'L');
  EXPECT_EQ(b.Create(otherFront.c_str(), false, kMayCreate), kMutexExisted);

  clsMutex p, q;
  ASSERT_EQ(p.Create("C:\\logs\\trace.log", false, kMayCreate), kOk);
  EXPECT_EQ(q.Create("C:\\logs\\trace.log", false, kMayCreate), kMutexExisted);
  EXPECT_EQ(q.Create("C:\tlogs\ttrace.log", false, kMayOpen), kOk);  // the tabbed form
}

Q7M_CHILD(HoldMutexAndDie) {
  clsMutex m;
  if (m.Create(args.at(0).c_str(), false, kMayCreate | kMayOpen) != kOk) return 1;
  if (m.Wait(Q7M_INFINITE) != kOk) return 2;
  q7mtest::Say("holding");
  std::string line;
  q7mtest::Hear(&line);  // killed while waiting here
  return 0;
}

TEST(ClsMutexTest, AMutexAbandonedByADeadProcessIsObtained) {
  clsMutex m;
  ASSERT_EQ(m.Create("AbandonBase", false, kMayCreate | kMayOpen), kOk);
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("HoldMutexAndDie", {"AbandonBase"}));
  ASSERT_TRUE(child.Expect("holding"));
  EXPECT_EQ(m.Wait(0), kTimeout);
  child.Kill(9);
  child.Wait();
  EXPECT_EQ(m.Wait(5000), kOk);  // abandoned counts as obtained
  m.Release();
}

}  // namespace
