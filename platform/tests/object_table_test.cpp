// The named-object table across processes: several handles per process, the
// last close in either process, a killed last holder, and mutexes a process
// keeps mapped after closing them.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

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

// What creating the mutex `name` gave: "new", "existed" or the error.
std::string CreateText(Q7M_HANDLE* h, const std::string& name) {
  *h = Q7M_CreateMutex(0, name.c_str());
  if (!*h) return "error " + std::to_string(Q7M_GetLastError());
  return Q7M_GetLastError() == Q7M_ERROR_ALREADY_EXISTS ? "existed" : "new";
}

std::string OpenText(Q7M_HANDLE* h, const std::string& name) {
  *h = Q7M_OpenMutex(name.c_str());
  return *h ? "opened" : "missing " + std::to_string(Q7M_GetLastError());
}

// Runs commands from the parent on mutexes of one name (args[0]); handles
// are numbered in the order they were obtained:
//   create | open | wait N | release N | close N
Q7M_CHILD(MutexScript) {
  const std::string name = args.at(0);
  std::vector<Q7M_HANDLE> handles;
  std::string line;
  while (q7mtest::Hear(&line)) {
    const std::string verb = line.substr(0, line.find(' '));
    const size_t n = line.size() > verb.size() ? std::stoul(line.substr(verb.size() + 1)) : 0;
    Q7M_HANDLE h = nullptr;
    if (verb == "create") {
      q7mtest::Say(CreateText(&h, name));
    } else if (verb == "open") {
      q7mtest::Say(OpenText(&h, name));
    } else if (verb == "wait") {
      q7mtest::Say(WaitText(Q7M_WaitForSingleObject(handles.at(n), 10000)));
    } else if (verb == "release") {
      q7mtest::Say(Q7M_ReleaseMutex(handles.at(n)) ? "released" : "not-owner");
    } else if (verb == "close") {
      q7mtest::Say(Q7M_CloseHandle(handles.at(n)) ? "closed" : "close-failed");
    } else {
      break;
    }
    if (h) handles.push_back(h);
  }
  return 0;
}

bool Ask(ChildProcess& child, const std::string& command, const std::string& answer) {
  return child.WriteLine(command) && child.Expect(answer);
}

std::string Open(const std::string& name) {
  Q7M_HANDLE h;
  std::string text = OpenText(&h, name);
  if (h) Q7M_CloseHandle(h);
  return text;
}

const std::string kMissing = "missing " + std::to_string(Q7M_ERROR_FILE_NOT_FOUND);

TEST(ObjectTable, LivesUntilTheLastHandleInAnyProcessClosesInEitherOrder) {
  for (bool childClosesLast : {false, true}) {
    SCOPED_TRACE(childClosesLast ? "child closes last" : "parent closes last");
    const std::string name = childClosesLast ? "order-child-last" : "order-parent-last";
    ChildProcess child;
    ASSERT_TRUE(child.Start("MutexScript", {name}));
    // Two handles in the child, one here.
    ASSERT_TRUE(Ask(child, "create", "new"));
    ASSERT_TRUE(Ask(child, "open", "opened"));
    Handle mine;
    Q7M_HANDLE h;
    ASSERT_EQ(CreateText(&h, name), "existed");
    mine.reset(h);
    // One object: what one process owns, the other waits for.
    ASSERT_TRUE(Ask(child, "wait 1", "object0"));
    EXPECT_EQ(Q7M_WaitForSingleObject(mine, 0), Q7M_WAIT_TIMEOUT);
    ASSERT_TRUE(Ask(child, "release 0", "released"));

    if (childClosesLast) {
      mine.reset();
      EXPECT_EQ(Open(name), "opened");  // the child still holds two
      ASSERT_TRUE(Ask(child, "close 0", "closed"));
      EXPECT_EQ(Open(name), "opened");  // and still one
      ASSERT_TRUE(Ask(child, "close 1", "closed"));
      EXPECT_EQ(Open(name), kMissing);
    } else {
      ASSERT_TRUE(Ask(child, "close 1", "closed"));
      ASSERT_TRUE(Ask(child, "close 0", "closed"));
      ASSERT_TRUE(Ask(child, "open", "opened"));  // through our handle
      ASSERT_TRUE(Ask(child, "close 2", "closed"));
      mine.reset();
      ASSERT_TRUE(Ask(child, "open", kMissing));
    }
    // Gone for both, so the next creator, whichever it is, makes it anew.
    ASSERT_TRUE(Ask(child, "create", "new"));
    ASSERT_TRUE(Ask(child, childClosesLast ? "wait 2" : "wait 3", "object0"));
    child.WriteLine("end");
    EXPECT_EQ(child.Wait(), 0);
  }
}

TEST(ObjectTable, KilledLastHolderLeavesANewMutexEvenForAProcessThatKeptItMapped) {
  const std::string name = "killed-kept";
  Q7M_HANDLE h;
  // Created and closed here first, so this process keeps its file.
  ASSERT_EQ(CreateText(&h, name), "new");
  Q7M_CloseHandle(h);
  ChildProcess child;
  ASSERT_TRUE(child.Start("MutexScript", {name}));
  ASSERT_TRUE(Ask(child, "create", "new"));
  ASSERT_TRUE(Ask(child, "wait 0", "object0"));
  child.Kill(SIGKILL);
  child.Wait();
  EXPECT_EQ(Open(name), kMissing);
  ASSERT_EQ(CreateText(&h, name), "new");
  Handle fresh(h);
  EXPECT_EQ(Q7M_WaitForSingleObject(fresh, 0), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(Q7M_ReleaseMutex(fresh), 1);
}

TEST(ObjectTable, AbandonmentIsSeenThroughAKeptMutex) {
  const std::string name = "abandoned-kept";
  ChildProcess child;
  ASSERT_TRUE(child.Start("MutexScript", {name}));
  ASSERT_TRUE(Ask(child, "create", "new"));
  ASSERT_TRUE(Ask(child, "wait 0", "object0"));
  // Opened and closed while the child owns it: kept here, without a hold.
  Q7M_HANDLE h;
  ASSERT_EQ(OpenText(&h, name), "opened");
  EXPECT_EQ(Q7M_WaitForSingleObject(h, 0), Q7M_WAIT_TIMEOUT);
  Q7M_CloseHandle(h);
  ASSERT_EQ(OpenText(&h, name), "opened");
  Handle again(h);
  child.Kill(SIGKILL);
  child.Wait();
  EXPECT_EQ(Q7M_WaitForSingleObject(again, 0), Q7M_WAIT_ABANDONED_0);
  EXPECT_EQ(Q7M_ReleaseMutex(again), 1);
  EXPECT_EQ(Q7M_WaitForSingleObject(again, 0), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(Q7M_ReleaseMutex(again), 1);
}

TEST(ObjectTable, ManyMutexesOpenedAndClosedInTurnVanishWithTheirLastHandle) {
  // More names than a process keeps mapped: the ones given up to make room
  // still vanish for everybody, and every one comes back as new.
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) names.push_back("turn-" + std::to_string(i));
  for (int round = 0; round < 2; ++round) {
    for (const auto& name : names) {
      Q7M_HANDLE h;
      ASSERT_EQ(CreateText(&h, name), "new") << name;
      Q7M_CloseHandle(h);
    }
  }
  ChildProcess child;
  ASSERT_TRUE(child.Start("MutexScript", {names.front()}));
  ASSERT_TRUE(Ask(child, "open", kMissing));
  child.WriteLine("end");
  EXPECT_EQ(child.Wait(), 0);
  for (const auto& name : names) EXPECT_EQ(Open(name), kMissing) << name;
}

TEST(ObjectTable, AProcessThatEndsLeavesNoFilesOfTheMutexesItClosed) {
  ChildProcess child;
  ASSERT_TRUE(child.Start("MutexScript", {"ended-tidily"}));
  ASSERT_TRUE(Ask(child, "create", "new"));
  ASSERT_TRUE(Ask(child, "close 0", "closed"));
  child.WriteLine("end");
  ASSERT_EQ(child.Wait(), 0);
  EXPECT_NE(access(q7mtest::ObjectFilePath("ended-tidily").c_str(), F_OK), 0);
}

TEST(ObjectTable, AKeptMutexNameCanBecomeAnObjectOfAnotherKind) {
  Q7M_HANDLE h;
  ASSERT_EQ(CreateText(&h, "kind-change"), "new");
  Q7M_CloseHandle(h);
  Handle event(Q7M_CreateEvent(1, 0, "kind-change"));
  ASSERT_NE(event.get(), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SUCCESS);
  EXPECT_EQ(Q7M_OpenMutex("kind-change"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
}

}  // namespace
