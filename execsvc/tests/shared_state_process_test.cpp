// The per-device shared state between real processes: one SharedData block
// for all of them, locks held in another process, a holder that is killed,
// and a data mutex held elsewhere for longer than the service waits.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mem_object.h"
#include "q7m/sequor_result.h"
#include "q7m_test.h"
#include "shared_block_view.h"

using q7m::MemObject;
using q7mtest::ChildProcess;
using q7mtest::Hear;
using q7mtest::Say;

namespace {

// Serves commands from the parent on one attached session until "exit":
// "xfs"/"api" take a lock, "get" says the stored result, "set N" stores N,
// "close" destroys the session.
int ServeSession(const std::string& path) {
  auto memory = std::make_unique<MemObject>();
  if (memory->OpenSharedData(path.c_str()) != SEQUOR_SUCCESS) return 2;
  Say("attached");
  std::string line;
  while (Hear(&line)) {
    uint32_t value = 0;
    if (line == "xfs") {
      Say(std::to_string(memory->XfsLock()));
    } else if (line == "api") {
      Say(std::to_string(memory->ApiLock()));
    } else if (line == "get") {
      const uint32_t r = memory->GetResult(&value);
      Say(r == SEQUOR_SUCCESS ? std::to_string(value) : "error " + std::to_string(r));
    } else if (line.rfind("set ", 0) == 0) {
      Say(std::to_string(memory->SetResult(static_cast<uint32_t>(std::stoul(line.substr(4))))));
    } else if (line == "close") {
      memory.reset();
      Say("closed");
    } else if (line == "exit") {
      return 0;
    }
  }
  return 0;
}

std::string Ask(ChildProcess& child, const std::string& command) {
  std::string answer;
  if (!child.WriteLine(command) || !child.ReadLine(&answer)) return "no answer";
  return answer;
}

}  // namespace

Q7M_CHILD(serve_session) {
  return ServeSession(args.at(0));
}

// Holds the named mutex `args[0]` (owned) until told to let go.
Q7M_CHILD(hold_mutex) {
  Q7M_HANDLE mutex = Q7M_CreateMutex(1, args.at(0).c_str());
  if (mutex == nullptr) return 2;
  Say("held");
  std::string line;
  Hear(&line);
  Q7M_ReleaseMutex(mutex);
  Q7M_CloseHandle(mutex);
  return 0;
}

// Keeps a handle to the existing named mutex `args[0]` open, without owning it.
Q7M_CHILD(keep_mutex_open) {
  Q7M_HANDLE mutex = Q7M_OpenMutex(args.at(0).c_str());
  if (mutex == nullptr) return 2;
  Say("open");
  std::string line;
  Hear(&line);
  return 0;
}

TEST(SharedStateProcesses, TwoProcessesAttachToOneBlock) {
  const std::string path = "/dev/two-processes";
  ChildProcess other;
  ASSERT_TRUE(other.Start("serve_session", {path}));
  ASSERT_TRUE(other.Expect("attached"));

  MemObject memory;
  ASSERT_EQ(memory.OpenSharedData(path.c_str()), SEQUOR_SUCCESS);
  sequortest::SharedBlockView block(memory.key());
  ASSERT_TRUE(block.valid());
  EXPECT_EQ(block.openCount(), 2u) << "the second attach only counts in";

  ASSERT_EQ(memory.SetResult(1234), SEQUOR_SUCCESS);
  EXPECT_EQ(Ask(other, "get"), "1234");
  EXPECT_EQ(Ask(other, "set 42"), "0");
  uint32_t value = 0;
  ASSERT_EQ(memory.GetResult(&value), SEQUOR_SUCCESS);
  EXPECT_EQ(value, 42u);

  EXPECT_EQ(Ask(other, "close"), "closed");
  EXPECT_EQ(block.openCount(), 1u);
  EXPECT_EQ(block.result(), 42u);
  ASSERT_EQ(memory.CloseSharedData(), SEQUOR_SUCCESS);
  EXPECT_EQ(block.openCount(), 0u);
  EXPECT_EQ(block.result(), 0u) << "the last session resets the block";
  other.WriteLine("exit");
  EXPECT_EQ(other.Wait(), 0);
}

TEST(SharedStateProcesses, XfsLockOfAnotherProcessIsBusyUntilItsSessionCloses) {
  const std::string path = "/dev/xfs-elsewhere";
  ChildProcess holder;
  ASSERT_TRUE(holder.Start("serve_session", {path}));
  ASSERT_TRUE(holder.Expect("attached"));
  ASSERT_EQ(Ask(holder, "xfs"), "0");

  MemObject memory;
  ASSERT_EQ(memory.OpenSharedData(path.c_str()), SEQUOR_SUCCESS);
  EXPECT_EQ(memory.IsXfsLocked(), SEQUOR_LOCKED_BY_OTHER);
  EXPECT_EQ(memory.XfsLock(), SEQUOR_LOCKED_BY_OTHER);
  EXPECT_EQ(memory.XfsUnlock(), SEQUOR_LOCKED_BY_OTHER);
  EXPECT_EQ(Ask(holder, "xfs"), std::to_string(SEQUOR_LOCKED_BY_SELF))
      << "a second hold of the holder is given back at once";

  EXPECT_EQ(Ask(holder, "close"), "closed");
  EXPECT_EQ(memory.XfsLock(), SEQUOR_SUCCESS);
  EXPECT_EQ(memory.IsXfsLocked(), SEQUOR_LOCKED_BY_SELF);
  holder.WriteLine("exit");
  EXPECT_EQ(holder.Wait(), 0);
}

TEST(SharedStateProcesses, LocksOfAKilledProcessAreFreeForTheNextSession) {
  const std::string path = "/dev/killed-holder";
  for (const bool anotherHandleStaysOpen : {false, true}) {
    SCOPED_TRACE(anotherHandleStaysOpen ? "abandoned" : "vanished");
    ChildProcess holder;
    ASSERT_TRUE(holder.Start("serve_session", {path}));
    ASSERT_TRUE(holder.Expect("attached"));
    ASSERT_EQ(Ask(holder, "xfs"), "0");
    ASSERT_EQ(Ask(holder, "api"), "0");

    // With a handle of a bystander open the lock objects outlive the holder
    // and are abandoned; without one they vanish with it.
    ChildProcess bystander;
    if (anotherHandleStaysOpen) {
      ASSERT_TRUE(bystander.Start("keep_mutex_open", {path + "XFS"}));
      ASSERT_TRUE(bystander.Expect("open"));
    }
    auto memory = std::make_unique<MemObject>();
    ASSERT_EQ(memory->OpenSharedData(path.c_str()), SEQUOR_SUCCESS);
    EXPECT_EQ(memory->IsXfsLocked(), SEQUOR_LOCKED_BY_OTHER);
    EXPECT_EQ(memory->CheckApiLock(), SEQUOR_LOCKED_BY_OTHER);

    holder.Kill(9);
    EXPECT_EQ(holder.Wait(), 128 + 9);
    EXPECT_EQ(memory->XfsLock(), SEQUOR_SUCCESS);
    EXPECT_EQ(memory->ApiLock(), SEQUOR_SUCCESS);
    memory.reset();
  }
}

TEST(SharedStateProcesses, DataMutexHeldElsewhereTimesEveryAccessOut) {
  const std::string path = "/dev/data-mutex-held";
  MemObject memory;
  ASSERT_EQ(memory.OpenSharedData(path.c_str()), SEQUOR_SUCCESS);
  ASSERT_EQ(memory.SetResult(5), SEQUOR_SUCCESS);
  ChildProcess holder;
  ASSERT_TRUE(holder.Start("hold_mutex", {memory.key()}));
  ASSERT_TRUE(holder.Expect("held"));

  // Each access waits its 5000 ms; run them side by side.
  std::vector<uint32_t> results(9, 0xFFFFFFFFu);
  uint32_t value = 0, count = 0;
  char bytes[16];
  Q7M_HANDLE event = nullptr;
  std::vector<std::thread> threads;
  threads.emplace_back([&] { results[0] = memory.GetResult(&value); });
  threads.emplace_back([&] { results[1] = memory.SetResult(9); });
  threads.emplace_back([&] { results[2] = memory.SetCommandBuffer("C10", 3); });
  threads.emplace_back([&] { results[3] = memory.GetResponseBuffer(bytes, sizeof bytes, &count); });
  threads.emplace_back([&] { results[4] = memory.SetResponseBuffer("P", 1); });
  threads.emplace_back([&] { results[5] = memory.GetCancelEvent(&event); });
  threads.emplace_back([&] { results[6] = memory.CheckApiLock(); });
  threads.emplace_back([&] { results[7] = memory.XfsLock(); });
  threads.emplace_back([&] { results[8] = memory.ApiLock(); });
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(results[i], SEQUOR_TIMEOUT) << "access " << i;
  EXPECT_EQ(event, nullptr) << "nothing is written without the mutex";

  holder.WriteLine("release");
  EXPECT_EQ(holder.Wait(), 0);
  ASSERT_EQ(memory.GetResult(&value), SEQUOR_SUCCESS);
  EXPECT_EQ(value, 5u) << "the timed-out store did not happen";
  // The locks obtained before the data mutex timed out were given back.
  EXPECT_EQ(memory.IsXfsLocked(), SEQUOR_SUCCESS);
  EXPECT_EQ(memory.CheckApiLock(), SEQUOR_SUCCESS);
}
