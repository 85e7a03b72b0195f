// Unloading the library: it waits for handles in use, destroys the others,
// and from the moment it begins every export refuses.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "handle_registry.h"
#include "q7m_test.h"
#include "scribel_test_support.h"

namespace {

using namespace scribeltest;
using q7m::trace::HandleRegistry;
using q7m::trace::TraceHandle;

SCRIBEL_HANDLE AsHandle(TraceHandle* h) {
  return reinterpret_cast<SCRIBEL_HANDLE>(h);
}

// Bounded wait for a condition that another thread or process brings about.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 4000; ++i) {
    if (condition()) return true;
    Q7M_Sleep(5);
  }
  return condition();
}

TEST(HandleRegistry, LeavingWaitsForBusyHandlesAndRefusesEverythingMeanwhile) {
  HandleRegistry& registry = HandleRegistry::Instance();
  registry.Attach(nullptr);
  auto* busy = new TraceHandle(nullptr);
  auto* idle = new TraceHandle(nullptr);
  ASSERT_TRUE(registry.Link(busy));
  ASSERT_TRUE(registry.Link(idle));
  int notAHandle = 0;
  EXPECT_EQ(registry.Enter(reinterpret_cast<SCRIBEL_HANDLE>(&notAHandle)), nullptr);
  ASSERT_EQ(registry.Enter(AsHandle(busy)), busy);

  std::atomic<bool> detached{false};
  std::thread leaving([&] {
    registry.Detach(60000);
    detached = true;
  });
  ASSERT_TRUE(Eventually([&] { return !registry.attached(); }));
  EXPECT_EQ(registry.Enter(AsHandle(idle)), nullptr);
  EXPECT_EQ(registry.Enter(AsHandle(busy)), nullptr);
  TraceHandle late(nullptr);
  EXPECT_FALSE(registry.Link(&late));
  EXPECT_FALSE(detached);

  registry.Leave(busy);  // the last call on it ends; both handles are destroyed
  leaving.join();
  EXPECT_TRUE(detached);
}

TEST(HandleRegistry, AHandleStillBusyAtTheLimitIsLeftAlive) {
  HandleRegistry& registry = HandleRegistry::Instance();
  registry.Attach(nullptr);
  auto* stuck = new TraceHandle(nullptr);
  ASSERT_TRUE(registry.Link(stuck));
  ASSERT_EQ(registry.Enter(AsHandle(stuck)), stuck);
  registry.Detach(20);
  // Still valid memory: the straggler finishes its call safely.
  registry.Leave(stuck);
  EXPECT_EQ(stuck->busy, 0u);
  delete stuck;
}

// Holds the ring lock of INI args[0] until told to let go.
Q7M_CHILD(ring_lock_holder) {
  SCRIBEL_HANDLE h = nullptr;
  if (Scribel().Initialize(&h, args[0].c_str(), "HOLDER") != 1) return 11;
  Scribel().Lock(h);
  q7mtest::Say("locked");
  std::string line;
  q7mtest::Hear(&line);
  Scribel().UnLock(h);
  q7mtest::Say("released");
  q7mtest::Hear(&line);
  return 0;
}

// Loads the library on its own, opens a handle on ring B and then one on
// ring A, and once the holder has locked ring B unloads the library on a
// thread. The unloading writes A's detach record, then waits for B's lock:
// meanwhile every export must refuse.
Q7M_CHILD(unload_while_held) {
  ScribelLibrary lib;
  if (!lib.loaded()) return 10;
  SCRIBEL_HANDLE onB = nullptr, onA = nullptr;
  if (lib.Initialize(&onB, args[1].c_str(), "UNLOAD") != 1) return 11;
  if (lib.Initialize(&onA, args[0].c_str(), "UNLOAD") != 1) return 12;
  lib.Outputf(onA, "before");
  q7mtest::Say("handle " + std::to_string(reinterpret_cast<uintptr_t>(onB)));
  std::string line;
  q7mtest::Hear(&line);  // ring B is locked now

  std::thread unloading([&] { lib.Unload(); });
  bool begun = Eventually([&] {
    for (const auto& r : ReadRing(args[2], 120)) {
      if (Trimmed(r.text).rfind("F:SCRIBEL_Detach", 0) == 0) return true;
    }
    return false;
  });
  // The library is still mapped (its unloading is waiting for ring B).
  int failures = begun ? 0 : 1;
  lib.Outputf(onB, "after unloading began");
  lib.Output(onB, "raw after", 9);
  lib.Lock(onB);
  lib.UnLock(onB);
  if (lib.GetRecordLength(onB) != 0) ++failures;
  if (lib.GetInteger(onB, nullptr) != 0) ++failures;
  SCRIBEL_HANDLE fresh = nullptr;
  if (lib.Initialize(&fresh, args[0].c_str(), "UNLOAD") != 0 || fresh != nullptr) ++failures;
  q7mtest::Say(failures == 0 ? "refused" : "accepted");
  q7mtest::Hear(&line);
  unloading.join();
  return failures;
}

TEST(LibraryUnload, OutputAfterUnloadingHasBegunIsRefused) {
  TraceDir a = MakeTraceDir("");
  TraceDir b = MakeTraceDir("");
  q7mtest::WriteFile(a.ini, BasicIni(a.trace, 120, 50, "TRACE=1\n"));
  q7mtest::WriteFile(b.ini, BasicIni(b.trace, 120, 50, "TRACE=1\n"));
  q7mtest::ChildProcess unloader;
  ASSERT_TRUE(unloader.Start("unload_while_held", {a.ini, b.ini, a.trace}));
  const pid_t unloaderPid = unloader.pid();
  std::string handleLine;
  ASSERT_TRUE(unloader.ReadLine(&handleLine, std::chrono::seconds(20)));
  q7mtest::ChildProcess holder;
  ASSERT_TRUE(holder.Start("ring_lock_holder", {b.ini}));
  ASSERT_TRUE(holder.Expect("locked"));
  unloader.WriteLine("go");
  EXPECT_TRUE(unloader.Expect("refused", std::chrono::seconds(30)));
  holder.WriteLine("release");
  EXPECT_TRUE(holder.Expect("released"));
  unloader.WriteLine("done");
  EXPECT_EQ(unloader.Wait(std::chrono::seconds(30)), 0);
  holder.WriteLine("done");
  EXPECT_EQ(holder.Wait(), 0);

  std::vector<std::string> textsA;
  for (const auto& r : ReadRing(a.trace, 120)) textsA.push_back(Trimmed(r.text));
  ASSERT_EQ(textsA.size(), 3u);
  EXPECT_EQ(textsA[0].rfind("T:SCRIBEL_Initialize", 0), 0u);
  EXPECT_EQ(textsA[1], "before");
  EXPECT_EQ(textsA[2].rfind("F:SCRIBEL_Detach P1=0x", 0), 0u);
  // Ring B: the holder's and the unloader's initialisation, the unloader's
  // detach record once the lock was free, the holder's own detach at its
  // end, and nothing written after the unloading began.
  char detachB[64];
  std::snprintf(detachB, sizeof detachB, "F:SCRIBEL_Detach P1=0x%02lX",
                std::stoul(handleLine.substr(7)));
  int detachRecords = 0;
  for (const auto& r : ReadRing(b.trace, 120)) {
    std::string text = Trimmed(r.text);
    EXPECT_EQ(text.find("after"), std::string::npos) << text;
    if (text == detachB && r.header.processId == static_cast<uint32_t>(unloaderPid)) {
      ++detachRecords;
    }
  }
  EXPECT_EQ(detachRecords, 1);
}

}  // namespace
