// Handles: never pointers, never reused as the same value, and every misuse
// answered with an error instead of undefined behaviour.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "platform_test_util.h"

namespace {

using q7mtest::Handle;

TEST(HandleTable, BogusAndStaleHandlesAreRejectedForEveryFunction) {
  int local = 0;
  const Q7M_HANDLE bogus[] = {reinterpret_cast<Q7M_HANDLE>(1), reinterpret_cast<Q7M_HANDLE>(-1),
                              &local, reinterpret_cast<Q7M_HANDLE>(0x51A7000000000000ull)};
  for (Q7M_HANDLE h : bogus) {
    Q7M_SetLastError(0);
    EXPECT_EQ(Q7M_CloseHandle(h), 0);
    EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
    EXPECT_EQ(Q7M_WaitForSingleObject(h, 0), Q7M_WAIT_FAILED);
    EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
    EXPECT_EQ(Q7M_SetEvent(h), 0);
    EXPECT_EQ(Q7M_ReleaseMutex(h), 0);
    EXPECT_EQ(Q7M_GetEventFd(h), -1);
    EXPECT_EQ(Q7M_MapViewOfFile(h, 0), nullptr);
    EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  }
  EXPECT_EQ(Q7M_CloseHandle(nullptr), 0);
}

TEST(HandleTable, DoubleCloseFailsAndDoesNotCloseTheSlotsNextOwner) {
  Q7M_HANDLE first = Q7M_CreateEvent(1, 0, nullptr);
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(Q7M_CloseHandle(first), 1);
  // The freed slot is reused at once; the old handle must not reach it.
  Handle second(Q7M_CreateEvent(1, 1, nullptr));
  ASSERT_NE(second.get(), nullptr);
  EXPECT_NE(second.get(), first);
  EXPECT_EQ(Q7M_CloseHandle(first), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  EXPECT_EQ(Q7M_WaitForSingleObject(second, 0), Q7M_WAIT_OBJECT_0);
}

TEST(HandleTable, WrongKindIsAnInvalidHandle) {
  Handle event(Q7M_CreateEvent(0, 0, nullptr));
  Handle mutex(Q7M_CreateMutex(0, nullptr));
  Handle mapping(Q7M_CreateFileMapping(nullptr, 100));
  EXPECT_EQ(Q7M_ReleaseMutex(event), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  EXPECT_EQ(Q7M_SetEvent(mutex), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  EXPECT_EQ(Q7M_MapViewOfFile(event, 0), nullptr);
  EXPECT_EQ(Q7M_GetFileMappingSize(mutex), 0u);
  // Shared memory is not waitable.
  EXPECT_EQ(Q7M_WaitForSingleObject(mapping, 0), Q7M_WAIT_FAILED);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
}

TEST(HandleTable, ClosingAHandleWhileAnotherThreadWaitsOnItIsSafe) {
  Q7M_HANDLE event = Q7M_CreateEvent(1, 0, "closed while waited on");
  ASSERT_NE(event, nullptr);
  uint32_t result = 0;
  std::atomic<pid_t> waiterTid{0};
  std::thread waiter([&] {
    waiterTid = gettid();
    result = Q7M_WaitForSingleObject(event, 10000);
  });
  while (waiterTid == 0) std::this_thread::yield();
  ASSERT_TRUE(q7mtest::WaitUntilBlockedIn(getpid(), waiterTid, SYS_ppoll));
  EXPECT_EQ(Q7M_CloseHandle(event), 1);
  // The waiter's reference keeps the object, and so the name, alive.
  Handle again(Q7M_OpenEvent("closed while waited on"));
  ASSERT_NE(again.get(), nullptr);
  EXPECT_EQ(Q7M_SetEvent(again), 1);
  waiter.join();
  EXPECT_EQ(result, Q7M_WAIT_OBJECT_0);
}

TEST(HandleTable, ManyHandlesStayDistinctAndValid) {
  std::vector<Q7M_HANDLE> handles;
  for (int i = 0; i < 2000; ++i) {
    Q7M_HANDLE h = Q7M_CreateMutex(0, nullptr);
    ASSERT_NE(h, nullptr);
    handles.push_back(h);
  }
  std::sort(handles.begin(), handles.end());
  EXPECT_EQ(std::adjacent_find(handles.begin(), handles.end()), handles.end());
  for (Q7M_HANDLE h : handles) EXPECT_EQ(Q7M_CloseHandle(h), 1);
}

}  // namespace

namespace {

TEST(HandleTable, ForkedChildInheritsNoHandlesAndCannotRemoveTheParentsObjects) {
  Handle event(Q7M_CreateEvent(1, 1, "kept across fork"));
  ASSERT_NE(event.get(), nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    // Closing the copy must fail and must not touch the parent's object.
    bool refused = Q7M_CloseHandle(event) == 0 && Q7M_GetLastError() == Q7M_ERROR_INVALID_HANDLE;
    _exit(refused ? 0 : 1);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  Handle again(Q7M_OpenEvent("kept across fork"));
  ASSERT_NE(again.get(), nullptr);
  EXPECT_EQ(Q7M_WaitForSingleObject(again, 0), Q7M_WAIT_OBJECT_0);
}

}  // namespace
