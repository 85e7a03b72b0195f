// Shared memory: shared between processes, zero-filled when new, existence
// reported, views that outlive their handle.
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "platform_test_util.h"
#include "q7m_test.h"

namespace {

using q7mtest::ChildProcess;
using q7mtest::Handle;

// Opens the block, checks what the parent wrote and answers in it.
Q7M_CHILD(MappingPeer) {
  Q7M_HANDLE m = Q7M_CreateFileMapping(args.at(0).c_str(), 1);
  if (!m) return 2;
  if (Q7M_GetLastError() != Q7M_ERROR_ALREADY_EXISTS) return 3;
  if (Q7M_GetFileMappingSize(m) != 8192) return 4;
  auto* view = static_cast<char*>(Q7M_MapViewOfFile(m, 0));
  if (!view || std::strcmp(view, "from parent") != 0) return 5;
  std::strcpy(view + 8000, "from child");
  Q7M_UnmapViewOfFile(view);
  Q7M_CloseHandle(m);
  return 0;
}

// Creates a block, fills it and waits to be killed.
Q7M_CHILD(MappingFiller) {
  Q7M_HANDLE m = Q7M_CreateFileMapping(args.at(0).c_str(), 4096);
  auto* view = static_cast<unsigned char*>(Q7M_MapViewOfFile(m, 0));
  if (!view) return 2;
  std::memset(view, 0xAB, 4096);
  q7mtest::Say("filled");
  std::string line;
  q7mtest::Hear(&line);
  return 0;
}

TEST(FileMapping, SharedBetweenProcessesAndZeroFilledWhenNew) {
  Handle m(Q7M_CreateFileMapping("Global\\block", 8192));
  ASSERT_NE(m.get(), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SUCCESS);
  EXPECT_EQ(Q7M_GetFileMappingSize(m), 8192u);
  auto* view = static_cast<char*>(Q7M_MapViewOfFile(m, 0));
  ASSERT_NE(view, nullptr);
  for (int i = 0; i < 8192; ++i) ASSERT_EQ(view[i], 0) << i;
  std::strcpy(view, "from parent");
  ChildProcess child;
  ASSERT_TRUE(child.Start("MappingPeer", {"Global\\block"}));
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_STREQ(view + 8000, "from child");
  EXPECT_EQ(Q7M_UnmapViewOfFile(view), 1);
}

TEST(FileMapping, ViewKeepsTheObjectAliveAfterItsHandleCloses) {
  Q7M_HANDLE m = Q7M_CreateFileMapping("kept-by-view", 100);
  auto* view = static_cast<char*>(Q7M_MapViewOfFile(m, 0));
  ASSERT_NE(view, nullptr);
  std::strcpy(view, "still here");
  ASSERT_EQ(Q7M_CloseHandle(m), 1);
  Handle again(Q7M_OpenFileMapping("kept-by-view"));
  ASSERT_NE(again.get(), nullptr);
  auto* second = static_cast<char*>(Q7M_MapViewOfFile(again, 10));
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(second, "still here");
  again.reset();
  EXPECT_EQ(Q7M_UnmapViewOfFile(second), 1);
  EXPECT_EQ(Q7M_UnmapViewOfFile(view), 1);
  EXPECT_EQ(Q7M_OpenFileMapping("kept-by-view"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
}

TEST(FileMapping, SizesAndAddressesAreChecked) {
  EXPECT_EQ(Q7M_CreateFileMapping("zero", 0), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
  Handle m(Q7M_CreateFileMapping(nullptr, 100));
  ASSERT_NE(m.get(), nullptr);
  EXPECT_EQ(Q7M_MapViewOfFile(m, 101), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
  void* view = Q7M_MapViewOfFile(m, 100);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(Q7M_UnmapViewOfFile(static_cast<char*>(view) + 1), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_ADDRESS);
  EXPECT_EQ(Q7M_UnmapViewOfFile(view), 1);
  EXPECT_EQ(Q7M_UnmapViewOfFile(view), 0);
}

TEST(FileMapping, LeftoverOfAKilledCreatorIsNewAndEmpty) {
  ChildProcess child;
  ASSERT_TRUE(child.Start("MappingFiller", {"stale-block"}));
  ASSERT_TRUE(child.Expect("filled"));
  child.Kill(SIGKILL);
  child.Wait();
  Handle m(Q7M_CreateFileMapping("stale-block", 4096));
  ASSERT_NE(m.get(), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SUCCESS);
  auto* view = static_cast<unsigned char*>(Q7M_MapViewOfFile(m, 0));
  ASSERT_NE(view, nullptr);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(view[i], 0) << i;
  Q7M_UnmapViewOfFile(view);
}

}  // namespace
