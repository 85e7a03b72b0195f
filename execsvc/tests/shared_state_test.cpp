// The per-device shared state within one process: the device key, the
// SharedData block as other processes see it, the bounded stores, and the
// XFS and API locks between sessions and threads.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "device_key.h"
#include "mem_object.h"
#include "q7m/sequor_result.h"
#include "shared_block_view.h"

using q7m::MemObject;
using sequortest::SharedBlockView;

namespace {

std::string Key(const std::string& path) {
  char key[q7m::kDeviceKeyCapacity + 1];
  q7m::DeriveDeviceKey(path.c_str(), key);
  return key;
}

// A session's MemObject attached to `path`.
struct Attached {
  explicit Attached(const std::string& path) { result = memory.OpenSharedData(path.c_str()); }
  MemObject memory;
  uint32_t result;
};

// Runs `body` on a thread of its own and waits for it: locks belong to the
// thread that obtained them.
template <typename Body>
void OnOtherThread(Body body) {
  std::thread thread(body);
  thread.join();
}

}  // namespace

TEST(DeviceKey, DropsBackslashesAndKeepsAtMost256Characters) {
  EXPECT_EQ(Key("\\\\?\\hid#vid_0590&pid_0034#7&1a2b"), "?hid#vid_0590&pid_0034#7&1a2b");
  EXPECT_EQ(Key("/dev/pts/3"), "/dev/pts/3");
  const std::string longPath(300, 'a');
  EXPECT_EQ(Key(longPath), std::string(256, 'a'));
  // Only the first 260 characters of the path count, backslashes included.
  const std::string slashes = std::string(250, '\\') + std::string(20, 'b');
  EXPECT_EQ(Key(slashes), std::string(10, 'b'));
}

TEST(SharedData, FirstOpenInitialisesTheBlockAndKeepsTheFullPath) {
  Attached a("\\\\.\\reader\\one");
  ASSERT_EQ(a.result, SEQUOR_SUCCESS);
  EXPECT_STREQ(a.memory.key(), ".readerone");
  SharedBlockView block(a.memory.key());
  ASSERT_TRUE(block.valid());
  EXPECT_EQ(block.DeviceName(), "\\\\.\\reader\\one");
  EXPECT_EQ(block.result(), 0u);
  EXPECT_EQ(block.commandLength(), 0u);
  EXPECT_EQ(block.responseLength(), 0u);
  EXPECT_EQ(block.Word(264), 0u);
  EXPECT_EQ(block.Word(3356), 0u);
  EXPECT_EQ(block.Word(3360), 0u);
  EXPECT_EQ(block.openCount(), 1u);
  const uint32_t tail[5] = {3, 1, 3, 10, 30};
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(block.Word(3368 + 4 * i), tail[i]) << i;
}

TEST(SharedData, SessionsCountInAndTheLastOneResetsTheBlock) {
  auto a = std::make_unique<Attached>("/dev/shared-count");
  auto b = std::make_unique<Attached>("/dev/shared-count");
  ASSERT_EQ(a->result, SEQUOR_SUCCESS);
  ASSERT_EQ(b->result, SEQUOR_SUCCESS);
  SharedBlockView block("/dev/shared-count");
  ASSERT_TRUE(block.valid());
  EXPECT_EQ(block.openCount(), 2u);

  ASSERT_EQ(a->memory.SetResult(77), SEQUOR_SUCCESS);
  ASSERT_EQ(a->memory.SetCommandBuffer("C10", 3), SEQUOR_SUCCESS);
  uint32_t seen = 0;
  ASSERT_EQ(b->memory.GetResult(&seen), SEQUOR_SUCCESS);
  EXPECT_EQ(seen, 77u);

  EXPECT_EQ(a->memory.CloseSharedData(), SEQUOR_SUCCESS);
  EXPECT_EQ(block.openCount(), 1u);
  EXPECT_EQ(block.result(), 77u) << "not the last session: nothing is reset";
  EXPECT_EQ(a->memory.CloseSharedData(), SEQUOR_INVALID_HANDLE) << "already detached";

  b.reset();  // destruction detaches as well
  EXPECT_EQ(block.openCount(), 0u);
  EXPECT_EQ(block.result(), 0u);
  EXPECT_EQ(block.commandLength(), 0u);
  EXPECT_EQ(block.DeviceName(), "");
  EXPECT_EQ(block.Word(3384), 30u);

  // A block that survived (the view above keeps it) starts clean for the
  // next session and gets its name again.
  Attached c("/dev/shared-count");
  ASSERT_EQ(c.result, SEQUOR_SUCCESS);
  EXPECT_EQ(block.openCount(), 1u);
  EXPECT_EQ(block.DeviceName(), "/dev/shared-count");
  uint32_t fresh = 99;
  ASSERT_EQ(c.memory.GetResult(&fresh), SEQUOR_SUCCESS);
  EXPECT_EQ(fresh, 0u);
}

TEST(SharedData, RefusesPathsItCannotName) {
  MemObject memory;
  EXPECT_EQ(memory.OpenSharedData(nullptr), SEQUOR_INVALID_HANDLE);
  EXPECT_EQ(memory.OpenSharedData(std::string(261, 'p').c_str()), SEQUOR_INVALID_PARAMETER);
  EXPECT_EQ(memory.OpenSharedData("\\\\\\"), SEQUOR_INVALID_PARAMETER)
      << "backslashes only leave an empty key";
  EXPECT_FALSE(memory.attached());
  uint32_t value;
  EXPECT_EQ(memory.GetResult(&value), SEQUOR_INVALID_HANDLE) << "not attached";

  // 260 characters are accepted; the stored name stays a terminated string.
  const std::string longest = "/" + std::string(259, 'q');
  ASSERT_EQ(memory.OpenSharedData(longest.c_str()), SEQUOR_SUCCESS);
  SharedBlockView block(memory.key());
  ASSERT_TRUE(block.valid());
  EXPECT_EQ(block.DeviceName(), longest.substr(0, 259));
  EXPECT_EQ(block.result(), 0u);
  EXPECT_EQ(memory.OpenSharedData(longest.c_str()), SEQUOR_INVALID_PARAMETER)
      << "a session attaches once";
}

TEST(SharedData, StoresNeverWritePastTheirAreas) {
  Attached a("/dev/bounded-stores");
  ASSERT_EQ(a.result, SEQUOR_SUCCESS);
  SharedBlockView block(a.memory.key());
  ASSERT_TRUE(block.valid());

  const std::string bigCommand(3000, 'c');
  ASSERT_EQ(a.memory.SetCommandBuffer(bigCommand.data(), 3000), SEQUOR_SUCCESS);
  EXPECT_EQ(block.commandLength(), 2056u);
  EXPECT_EQ(block.Bytes(2328, 4), std::string(4, '\0')) << "the response area is untouched";

  std::string bigResponse(1500, 'r');
  ASSERT_EQ(a.memory.SetResponseBuffer(bigResponse.data(), 1500), SEQUOR_SUCCESS);
  EXPECT_EQ(block.responseLength(), 1024u);
  EXPECT_EQ(block.Word(3356), 0u);
  EXPECT_EQ(block.openCount(), 1u);

  // Reading back honours the destination's capacity.
  char small[10];
  std::memset(small, '#', sizeof small);
  uint32_t count = 0;
  ASSERT_EQ(a.memory.GetResponseBuffer(small, 8, &count), SEQUOR_SUCCESS);
  EXPECT_EQ(count, 8u);
  EXPECT_EQ(std::string(small, 10), std::string(8, 'r') + "##");

  // A count another process scribbled over is bounded by the area.
  block.SetWord(3352, 0xFFFFFFF0u);
  std::string whole(4096, '#');
  ASSERT_EQ(a.memory.GetResponseBuffer(whole.data(), 4096, &count), SEQUOR_SUCCESS);
  EXPECT_EQ(count, 1024u);
  EXPECT_EQ(whole[1024], '#');

  // Count 0 stores no bytes but does store the count.
  ASSERT_EQ(a.memory.SetResponseBuffer(nullptr, 0), SEQUOR_SUCCESS);
  EXPECT_EQ(block.responseLength(), 0u);
}

TEST(Locks, XfsLockAnswersForHolderOthersAndNobody) {
  Attached a("/dev/xfs-lock");
  Attached b("/dev/xfs-lock");
  ASSERT_EQ(a.result, SEQUOR_SUCCESS);
  ASSERT_EQ(b.result, SEQUOR_SUCCESS);

  EXPECT_EQ(a.memory.XfsUnlock(), SEQUOR_NOT_LOCKED_BY_SELF);
  EXPECT_EQ(a.memory.IsXfsLocked(), SEQUOR_SUCCESS);
  ASSERT_EQ(a.memory.XfsLock(), SEQUOR_SUCCESS);
  EXPECT_EQ(a.memory.IsXfsLocked(), SEQUOR_LOCKED_BY_SELF);

  // Another session on another thread finds it held.
  OnOtherThread([&] {
    EXPECT_EQ(b.memory.IsXfsLocked(), SEQUOR_LOCKED_BY_OTHER);
    EXPECT_EQ(b.memory.XfsLock(), SEQUOR_LOCKED_BY_OTHER);
    EXPECT_EQ(b.memory.XfsUnlock(), SEQUOR_LOCKED_BY_OTHER);
  });

  EXPECT_EQ(a.memory.XfsUnlock(), SEQUOR_SUCCESS);
  EXPECT_EQ(a.memory.IsXfsLocked(), SEQUOR_SUCCESS);
  OnOtherThread([&] {
    EXPECT_EQ(b.memory.XfsLock(), SEQUOR_SUCCESS);
    EXPECT_EQ(b.memory.IsXfsLocked(), SEQUOR_LOCKED_BY_SELF);
  });
  // b's thread has ended while holding it: the lock was abandoned, which
  // frees it, but b still has its handle and so still counts as holder.
  EXPECT_EQ(b.memory.IsXfsLocked(), SEQUOR_LOCKED_BY_SELF);
  EXPECT_EQ(a.memory.XfsLock(), SEQUOR_SUCCESS) << "abandoned by its owner thread";
}

TEST(Locks, SecondSessionOnTheHoldersThreadObtainsTheLock) {
  // The named mutex belongs to the thread: a second session used from the
  // same thread gets what the first one holds.
  Attached a("/dev/same-thread");
  Attached b("/dev/same-thread");
  ASSERT_EQ(a.memory.XfsLock(), SEQUOR_SUCCESS);
  EXPECT_EQ(b.memory.IsXfsLocked(), SEQUOR_SUCCESS);
  EXPECT_EQ(b.memory.XfsLock(), SEQUOR_SUCCESS);
  EXPECT_EQ(a.memory.IsXfsLocked(), SEQUOR_LOCKED_BY_SELF);
  EXPECT_EQ(b.memory.IsXfsLocked(), SEQUOR_LOCKED_BY_SELF);
}

TEST(Locks, ApiLockAnswersAndDestructionGivesLocksBack) {
  Attached a("/dev/api-lock");
  ASSERT_EQ(a.result, SEQUOR_SUCCESS);
  auto b = std::make_unique<Attached>("/dev/api-lock");

  EXPECT_EQ(a.memory.ApiUnlock(), SEQUOR_NOT_LOCKED_BY_SELF);
  EXPECT_EQ(a.memory.CheckApiLock(), SEQUOR_SUCCESS);
  OnOtherThread([&] {
    ASSERT_EQ(b->memory.ApiLock(), SEQUOR_SUCCESS);
    ASSERT_EQ(b->memory.XfsLock(), SEQUOR_SUCCESS);
    EXPECT_EQ(b->memory.CheckApiLock(), SEQUOR_LOCKED_BY_SELF);
    // Taken by b's thread; a busy API lock is a time-out, not "busy".
    std::thread other([&] {
      EXPECT_EQ(a.memory.CheckApiLock(), SEQUOR_LOCKED_BY_OTHER);
      EXPECT_EQ(a.memory.ApiLock(), SEQUOR_TIMEOUT);
      EXPECT_EQ(a.memory.ApiUnlock(), SEQUOR_LOCKED_BY_OTHER);
      EXPECT_EQ(a.memory.IsXfsLocked(), SEQUOR_LOCKED_BY_OTHER);
    });
    other.join();
    // Destroying the session closes its handles: with no other handle open
    // the lock objects vanish and are free for the next session.
    b.reset();
  });
  EXPECT_EQ(a.memory.CheckApiLock(), SEQUOR_SUCCESS);
  EXPECT_EQ(a.memory.IsXfsLocked(), SEQUOR_SUCCESS);
  ASSERT_EQ(a.memory.ApiLock(), SEQUOR_SUCCESS);
  EXPECT_EQ(a.memory.ApiUnlock(), SEQUOR_SUCCESS);
  EXPECT_EQ(a.memory.ApiUnlock(), SEQUOR_NOT_LOCKED_BY_SELF);
}

TEST(Locks, QueriesFromManyThreadsLeaveTheLocksFree) {
  // Queries take the lock for a moment and give it back; whatever they
  // race into, afterwards nobody holds anything.
  Attached a("/dev/query-storm");
  Attached b("/dev/query-storm");
  std::thread t1([&] {
    for (int i = 0; i < 50; ++i) {
      const uint32_t r = a.memory.IsXfsLocked();
      EXPECT_TRUE(r == SEQUOR_SUCCESS || r == SEQUOR_LOCKED_BY_OTHER) << r;
      const uint32_t api = a.memory.CheckApiLock();
      EXPECT_TRUE(api == SEQUOR_SUCCESS || api == SEQUOR_LOCKED_BY_OTHER) << api;
    }
  });
  std::thread t2([&] {
    for (int i = 0; i < 50; ++i) {
      const uint32_t r = b.memory.IsXfsLocked();
      EXPECT_TRUE(r == SEQUOR_SUCCESS || r == SEQUOR_LOCKED_BY_OTHER) << r;
      uint32_t value;
      EXPECT_EQ(b.memory.SetResult(static_cast<uint32_t>(i)), SEQUOR_SUCCESS);
      EXPECT_EQ(b.memory.GetResult(&value), SEQUOR_SUCCESS);
    }
  });
  t1.join();
  t2.join();
  EXPECT_EQ(a.memory.IsXfsLocked(), SEQUOR_SUCCESS);
  EXPECT_EQ(b.memory.CheckApiLock(), SEQUOR_SUCCESS);
}
