// clsShareMemory: one block seen by several objects, threads and processes;
// the creator's initialisation; the recursive lock that tells holders apart
// by (thread, object); and holders that vanish.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "q7m/common/cls_share_memory.h"
#include "q7m/common/results.h"
#include "q7m_test.h"

namespace {

using namespace q7m;

struct Counter {
  uint32_t value;
  uint32_t inside;  // >0 while a holder is between its read and its write
  uint32_t overlaps;
};

Counter* CounterOf(const clsShareMemory& m) {
  return static_cast<Counter*>(m.Data());
}

// Increments the counter `rounds` times under the lock, counting the times
// another holder was inside at the same moment. False when a lock failed.
bool CountUnderLock(clsShareMemory& m, int rounds) {
  for (int i = 0; i < rounds; ++i) {
    if (m.Lock(Q7M_INFINITE) != kOk) return false;
    Counter* c = CounterOf(m);
    if (c->inside++ != 0) c->overlaps++;
    uint32_t v = c->value;
    if (i % 16 == 0) std::this_thread::yield();
    c->value = v + 1;
    c->inside--;
    m.Unlock();
  }
  return true;
}

TEST(ClsShareMemoryTest, ObjectsOnOneBlockShareDataAndTheCreatorInitialises) {
  clsShareMemory a;
  ASSERT_EQ(a.Create("ShareBase", 100), kOk);
  EXPECT_EQ(a.DataSize(), 100u);
  ShareMemoryHeader* h = a.Header();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->lockCount, 0u);
  EXPECT_EQ(h->ownerThread, Q7M_GetCurrentThreadId());
  EXPECT_EQ(static_cast<char*>(a.Data()) - static_cast<char*>(static_cast<void*>(h)), 12);
  const char zeros[100] = {};
  EXPECT_EQ(std::memcmp(a.Data(), zeros, 100), 0);

  std::memcpy(a.Data(), "shared", 7);
  clsShareMemory b;
  ASSERT_EQ(b.Create("ShareBase", 100), kOk);
  EXPECT_STREQ(static_cast<char*>(b.Data()), "shared");  // not re-initialised
  EXPECT_EQ(a.Create("Elsewhere", 10), kOk);             // already held: unchanged
  EXPECT_EQ(a.DataSize(), 100u);

  // The guard is the base + "MemLock" + "Mutex".
  Q7M_HANDLE guard = Q7M_OpenMutex("Global\\ShareBaseMemLockMutex");
  ASSERT_NE(guard, nullptr);
  Q7M_CloseHandle(guard);
}

class PatternBlock : public clsShareMemory {
 public:
  int initialised = 0;

 protected:
  void InitializeData() override {
    ++initialised;
    std::memset(Data(), 0xA5, DataSize());
  }
};

TEST(ClsShareMemoryTest, ADerivedInitialisationRunsOnlyForTheCreator) {
  PatternBlock first, second;
  ASSERT_EQ(first.Create("PatternBase", 8), kOk);
  ASSERT_EQ(second.Create("PatternBase", 8), kOk);
  EXPECT_EQ(first.initialised, 1);
  EXPECT_EQ(second.initialised, 0);
  EXPECT_EQ(static_cast<unsigned char*>(second.Data())[7], 0xA5);
}

TEST(ClsShareMemoryTest, NestingCountsForTheSameThreadAndObjectOnly) {
  clsShareMemory a;
  ASSERT_EQ(a.Create("NestBase", 16), kOk);
  ASSERT_EQ(a.Lock(0), kOk);
  ASSERT_EQ(a.Lock(0), kOk);
  EXPECT_EQ(a.Header()->lockCount, 2u);
  a.Unlock();
  EXPECT_EQ(a.Header()->lockCount, 1u);

  // A second object of this same thread is another holder: it does not
  // nest, and it cannot take the hold away from the first.
  clsShareMemory b;
  ASSERT_EQ(b.Create("NestBase", 16), kOk);
  EXPECT_EQ(b.Lock(Q7M_INFINITE), kTimeout);
  EXPECT_EQ(a.Header()->lockCount, 1u);
  b.Unlock();  // not the holder: nothing happens
  EXPECT_EQ(a.Header()->lockCount, 1u);

  // Another thread waits while the hold lasts.
  clsShareMemory c;
  ASSERT_EQ(c.Create("NestBase", 16), kOk);
  uint32_t rc = 99;
  std::thread([&] { rc = c.Lock(30); }).join();
  EXPECT_EQ(rc, kTimeout);

  a.Unlock();
  EXPECT_EQ(a.Header()->lockCount, 0u);
  a.Unlock();                 // unbalanced: ignored
  ASSERT_EQ(b.Lock(0), kOk);  // free now
  b.Unlock();
  std::thread([&] {
    rc = c.Lock(1000);
    c.Unlock();
  }).join();
  EXPECT_EQ(rc, kOk);
}

TEST(ClsShareMemoryTest, TwoThreadsWithTheirOwnObjectsSerialise) {
  clsShareMemory a, b;
  ASSERT_EQ(a.Create("ThreadsBase", sizeof(Counter)), kOk);
  ASSERT_EQ(b.Create("ThreadsBase", sizeof(Counter)), kOk);

  // While the first holds the lock the second waits, though both are in
  // one process.
  ASSERT_EQ(a.Lock(0), kOk);
  std::atomic<bool> secondGotIt{false};
  std::thread second([&] {
    if (b.Lock(10000) == kOk) {
      secondGotIt = true;
      b.Unlock();
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(secondGotIt.load());
  a.Unlock();
  second.join();
  EXPECT_TRUE(secondGotIt.load());

  bool ok1 = false, ok2 = false;
  std::thread t1([&] { ok1 = CountUnderLock(a, 2000); });
  std::thread t2([&] { ok2 = CountUnderLock(b, 2000); });
  t1.join();
  t2.join();
  EXPECT_TRUE(ok1 && ok2);
  EXPECT_EQ(CounterOf(a)->value, 4000u);
  EXPECT_EQ(CounterOf(a)->overlaps, 0u);
}

// A trace handle's ring block is one object used by every thread of the
// process: a thread that held the lock last must not take a new holder's
// hold for its own nested one.
TEST(ClsShareMemoryTest, ThreadsSharingOneObjectSerialise) {
  clsShareMemory shared;
  ASSERT_EQ(shared.Create("SharedObjectBase", sizeof(Counter)), kOk);
  constexpr int kThreads = 4;
  constexpr int kRounds = 3000;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        // Nesting through the shared object still works for the holder.
        if (shared.Lock(Q7M_INFINITE) != kOk || shared.Lock(0) != kOk) {
          ++failures;
          return;
        }
        Counter* c = CounterOf(shared);
        if (c->inside++ != 0) c->overlaps++;
        uint32_t v = c->value;
        if (i % 16 == 0) std::this_thread::yield();
        c->value = v + 1;
        c->inside--;
        shared.Unlock();
        shared.Unlock();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(CounterOf(shared)->value, uint32_t{kThreads * kRounds});
  EXPECT_EQ(CounterOf(shared)->overlaps, 0u);
  EXPECT_EQ(shared.Header()->lockCount, 0u);
}

Q7M_CHILD(CountInBlock) {
  clsShareMemory m;
  if (m.Create(args.at(0).c_str(), sizeof(Counter)) != kOk) return 1;
  q7mtest::Say("ready");
  std::string go;
  q7mtest::Hear(&go);
  return CountUnderLock(m, std::stoi(args.at(1))) ? 0 : 3;
}

TEST(ClsShareMemoryTest, ProcessesSerialiseOnTheBlock) {
  clsShareMemory m;
  ASSERT_EQ(m.Create("ProcBase", sizeof(Counter)), kOk);
  q7mtest::ChildProcess c1, c2;
  ASSERT_TRUE(c1.Start("CountInBlock", {"ProcBase", "1500"}));
  ASSERT_TRUE(c2.Start("CountInBlock", {"ProcBase", "1500"}));
  ASSERT_TRUE(c1.Expect("ready"));
  ASSERT_TRUE(c2.Expect("ready"));
  c1.WriteLine("go");
  c2.WriteLine("go");
  EXPECT_TRUE(CountUnderLock(m, 1500));
  EXPECT_EQ(c1.Wait(), 0);
  EXPECT_EQ(c2.Wait(), 0);
  EXPECT_EQ(CounterOf(m)->value, 4500u);
  EXPECT_EQ(CounterOf(m)->overlaps, 0u);
}

Q7M_CHILD(LockBlockAndDie) {
  clsShareMemory m;
  if (m.Create(args.at(0).c_str(), 8) != kOk) return 1;
  if (m.Lock(Q7M_INFINITE) != kOk) return 2;
  q7mtest::Say("locked");
  std::string line;
  q7mtest::Hear(&line);
  return 0;
}

TEST(ClsShareMemoryTest, HoldsEndWithDestroyAndWithADeadProcess) {
  clsShareMemory a, b;
  ASSERT_EQ(a.Create("GoneBase", 8), kOk);
  ASSERT_EQ(b.Create("GoneBase", 8), kOk);
  ASSERT_EQ(a.Lock(0), kOk);
  Q7M_SetLastError(Q7M_ERROR_BUSY);
  a.Destroy();  // gives the hold up, keeps the last error
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_BUSY);
  EXPECT_EQ(a.Data(), nullptr);
  uint32_t rc = 99;
  std::thread([&] {
    rc = b.Lock(1000);
    b.Unlock();
  }).join();
  EXPECT_EQ(rc, kOk);

  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("LockBlockAndDie", {"GoneBase"}));
  ASSERT_TRUE(child.Expect("locked"));
  EXPECT_EQ(b.Lock(0), kTimeout);
  child.Kill(9);
  child.Wait();
  ASSERT_EQ(b.Lock(5000), kOk);  // the dead holder's lock is taken over
  EXPECT_EQ(b.Header()->lockCount, 1u);
  EXPECT_EQ(b.Header()->ownerThread, Q7M_GetCurrentThreadId());
  b.Unlock();
}

TEST(ClsShareMemoryTest, BadSizesAndMissingBlocksFail) {
  clsShareMemory none;
  EXPECT_EQ(none.Lock(0), kSystemFailure);
  none.Unlock();
  EXPECT_EQ(none.Data(), nullptr);

  clsShareMemory huge;
  EXPECT_EQ(huge.Create("HugeBase", 0xFFFFFFFFu), kSystemFailure);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);

  // A block that exists with a smaller size is refused rather than overrun.
  clsShareMemory small, larger;
  ASSERT_EQ(small.Create("SizeBase", 16), kOk);
  EXPECT_EQ(larger.Create("SizeBase", 4096), kSystemFailure);
  EXPECT_EQ(larger.Data(), nullptr);
  clsShareMemory same;
  EXPECT_EQ(same.Create("SizeBase", 16), kOk);
}

}  // namespace
