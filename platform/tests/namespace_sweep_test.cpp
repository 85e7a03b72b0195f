// The sweep of the namespace directory: files nobody holds (left by killed
// processes, under names nobody may open again) are removed by later
// processes, while an object any process holds, and the name of a mutex a
// process keeps mapped, stay sound.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "object_file_name.h"
#include "platform_test_util.h"
#include "q7m_test.h"

namespace {

using q7mtest::ChildProcess;
using q7mtest::Handle;

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

std::string FifoPath(const std::string& name) {
  return q7mtest::ObjectFilePath(name) + q7m::platform::kSignalFileSuffix;
}

// Creates (and owns) the mutex args[0], the event args[1] and the file
// mapping args[2], then holds them until killed or told to end.
Q7M_CHILD(HoldObjects) {
  Q7M_HANDLE m = Q7M_CreateMutex(1, args.at(0).c_str());
  Q7M_HANDLE e = Q7M_CreateEvent(1, 0, args.at(1).c_str());
  Q7M_HANDLE f = Q7M_CreateFileMapping(args.at(2).c_str(), 100);
  q7mtest::Say(m && e && f ? "held" : "failed " + std::to_string(Q7M_GetLastError()));
  std::string line;
  q7mtest::Hear(&line);
  return 0;
}

// A process meeting the namespace for the first time (which sweeps it),
// then creating and closing args[0] (default 0) events of names of its own.
Q7M_CHILD(MeetNamespace) {
  Handle none(Q7M_OpenMutex("sweep-never-created"));
  const int creates = args.empty() ? 0 : std::stoi(args[0]);
  for (int i = 0; i < creates; ++i) {
    Handle e(Q7M_CreateEvent(0, 0, ("sweep-churn-" + std::to_string(i)).c_str()));
    if (!e.get()) return 1;
  }
  q7mtest::Say("done");
  return 0;
}

// Opens the mutex args[0] and tries to take it without waiting.
Q7M_CHILD(OpenAndTry) {
  Handle m(Q7M_OpenMutex(args.at(0).c_str()));
  if (!m.get()) {
    q7mtest::Say("missing");
    return 0;
  }
  const uint32_t r = Q7M_WaitForSingleObject(m, 0);
  q7mtest::Say(r == Q7M_WAIT_TIMEOUT ? "owned elsewhere" : "taken");
  if (r == Q7M_WAIT_OBJECT_0 || r == Q7M_WAIT_ABANDONED_0) Q7M_ReleaseMutex(m);
  return 0;
}

void MeetNamespaceInAFreshProcess(int creates = 0) {
  ChildProcess sweeper;
  ASSERT_TRUE(sweeper.Start("MeetNamespace", {std::to_string(creates)}));
  ASSERT_TRUE(sweeper.Expect("done"));
  ASSERT_EQ(sweeper.Wait(), 0);
}

TEST(NamespaceSweep, FilesOfAKilledHolderAreRemovedByTheNextProcessWhileLiveObjectsStay) {
  ChildProcess killed;
  ASSERT_TRUE(killed.Start("HoldObjects", {"dead-mutex", "dead-event", "dead-mapping"}));
  ASSERT_TRUE(killed.Expect("held"));
  ChildProcess live;
  ASSERT_TRUE(live.Start("HoldObjects", {"live-mutex", "live-event", "live-mapping"}));
  ASSERT_TRUE(live.Expect("held"));
  Handle mine(Q7M_CreateMutex(0, "parent-held"));
  ASSERT_NE(mine.get(), nullptr);

  killed.Kill(SIGKILL);
  killed.Wait();
  // The kernel dropped the flocks, the files stay: leftovers under names
  // nobody may ever open again.
  for (const char* name : {"dead-mutex", "dead-event", "dead-mapping"})
    ASSERT_TRUE(Exists(q7mtest::ObjectFilePath(name))) << name;
  ASSERT_TRUE(Exists(FifoPath("dead-event")));

  MeetNamespaceInAFreshProcess();

  for (const char* name : {"dead-mutex", "dead-event", "dead-mapping"})
    EXPECT_FALSE(Exists(q7mtest::ObjectFilePath(name))) << name;
  EXPECT_FALSE(Exists(FifoPath("dead-event")));

  // Held objects, of another process or of this one, were not touched.
  for (const char* name : {"live-mutex", "live-event", "live-mapping", "parent-held"})
    EXPECT_TRUE(Exists(q7mtest::ObjectFilePath(name))) << name;
  EXPECT_TRUE(Exists(FifoPath("live-event")));
  ChildProcess other;
  ASSERT_TRUE(other.Start("OpenAndTry", {"live-mutex"}));
  EXPECT_TRUE(other.Expect("owned elsewhere"));
  EXPECT_EQ(other.Wait(), 0);
  Handle event(Q7M_OpenEvent("live-event"));
  ASSERT_NE(event.get(), nullptr);
  EXPECT_EQ(Q7M_SetEvent(event), 1);
  EXPECT_EQ(Q7M_WaitForSingleObject(event, 0), Q7M_WAIT_OBJECT_0);
  Handle mapping(Q7M_OpenFileMapping("live-mapping"));
  EXPECT_NE(mapping.get(), nullptr);
  ChildProcess parentHeld;
  ASSERT_TRUE(parentHeld.Start("OpenAndTry", {"parent-held"}));
  EXPECT_TRUE(parentHeld.Expect("taken"));
  EXPECT_EQ(parentHeld.Wait(), 0);

  live.WriteLine("end");
  EXPECT_EQ(live.Wait(), 0);
}

TEST(NamespaceSweep, AKeptMutexWhoseFileWasSweptIsCreatedAnewUnderItsName) {
  const std::string name = "kept-then-swept";
  Q7M_HANDLE h = Q7M_CreateMutex(0, name.c_str());
  ASSERT_NE(h, nullptr);
  Q7M_CloseHandle(h);
  // Kept mapped here, but held by nobody: another process's sweep takes it.
  ASSERT_TRUE(Exists(q7mtest::ObjectFilePath(name)));
  MeetNamespaceInAFreshProcess();
  ASSERT_FALSE(Exists(q7mtest::ObjectFilePath(name)));

  Handle again(Q7M_CreateMutex(1, name.c_str()));
  ASSERT_NE(again.get(), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SUCCESS) << "new, not the swept file";
  // The name leads other processes to this object, not to nothing.
  EXPECT_TRUE(Exists(q7mtest::ObjectFilePath(name)));
  ChildProcess child;
  ASSERT_TRUE(child.Start("OpenAndTry", {name}));
  EXPECT_TRUE(child.Expect("owned elsewhere"));
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(Q7M_ReleaseMutex(again), 1);
}

TEST(NamespaceSweep, ObjectsCreatedWhileAnotherProcessSweepsAreNeverLost) {
  // The child sweeps again and again (it keeps adding files) while this
  // process creates, checks and closes objects: a sweep that took a file
  // between its creation and its creator's flock, or a held one, would
  // leave a handle here whose name leads nowhere.
  ChildProcess churn;
  ASSERT_TRUE(churn.Start("MeetNamespace", {"3000"}));
  for (int i = 0; i < 3000; ++i) {
    const std::string name = "race-" + std::to_string(i % 8);
    Handle h(i % 2 == 0 ? Q7M_CreateMutex(0, name.c_str()) : Q7M_CreateEvent(1, 0, name.c_str()));
    ASSERT_NE(h.get(), nullptr) << i;
    ASSERT_EQ(Q7M_GetLastError(), Q7M_ERROR_SUCCESS) << i;
    ASSERT_TRUE(Exists(q7mtest::ObjectFilePath(name))) << i;
  }
  EXPECT_TRUE(churn.Expect("done"));
  EXPECT_EQ(churn.Wait(), 0);
}

TEST(NamespaceSweep, AProcessThatKeepsCreatingNamesSweepsTheWholeDirectoryInTime) {
  // More leftovers than one sweep looks at: the rest go in the sweeps that
  // follow the process's creates.
  std::vector<std::string> leftovers;
  for (int i = 0; i < 1000; ++i) {
    leftovers.push_back(q7mtest::ObjectFilePath("pid-" + std::to_string(100000 + i)));
    q7mtest::WriteFile(leftovers.back(), std::string(64, 'x'));
  }
  MeetNamespaceInAFreshProcess(1000);
  int left = 0;
  for (const std::string& path : leftovers) left += Exists(path);
  EXPECT_EQ(left, 0);
}

}  // namespace
