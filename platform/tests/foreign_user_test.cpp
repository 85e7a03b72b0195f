// The namespace against users it is not shared with: a process of another
// user outside the group can neither open nor take over an object or the
// namespace directory, and a file, directory or link planted under a name
// before its owner came is never written through or adopted.
//
// Being another user takes root (CI runs as root): the tests skip otherwise.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "platform_test_util.h"
#include "q7m_test.h"

namespace {

using q7mtest::ChildProcess;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

#define SKIP_UNLESS_ROOT() \
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user (uid 65534)"

// A directory every user may enter (the test's own scratch tree is private
// to it), removed at the end of the test.
class OpenScratch {
 public:
  OpenScratch() {
    char pattern[] = "/tmp/q7m-foreign.XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
    if (!path_.empty()) chmod(path_.c_str(), 0755);
  }
  ~OpenScratch() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string FileIn(const std::string& dir, const std::string& name) {
  std::string file;
  q7m::platform::ObjectFileName(name.c_str(), &file);
  return dir + "/" + file;
}

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
    names.insert(entry.path().filename().string());
  return names;
}

// Creates the three kinds of object in namespace args[0] and reports each
// result: "0" created, else the last error.
std::string TryCreateAll() {
  std::string out;
  Q7M_HANDLE m = Q7M_CreateMutex(0, "m");
  out += std::to_string(m ? 0 : Q7M_GetLastError());
  Q7M_HANDLE e = Q7M_CreateEvent(1, 0, "e");
  out += " " + std::to_string(e ? 0 : Q7M_GetLastError());
  Q7M_HANDLE s = Q7M_CreateFileMapping("s", 64);
  out += " " + std::to_string(s ? 0 : Q7M_GetLastError());
  return out;
}

// The owner: creates a mutex, a set event and a mapping holding "owner" in
// namespace args[0], then on "check" reports whether they are as it left
// them.
Q7M_CHILD(OwnObjects) {
  setenv("Q7M_OBJECT_DIR", args.at(0).c_str(), 1);
  Q7M_HANDLE m = Q7M_CreateMutex(0, "m");
  Q7M_HANDLE e = Q7M_CreateEvent(1, 1, "e");
  Q7M_HANDLE s = Q7M_CreateFileMapping("s", 64);
  char* view = s ? static_cast<char*>(Q7M_MapViewOfFile(s, 64)) : nullptr;
  if (!m || !e || !view) {
    q7mtest::Say("failed " + std::to_string(Q7M_GetLastError()));
    return 1;
  }
  std::strcpy(view, "owner");
  q7mtest::Say("holding");
  std::string line;
  while (q7mtest::Hear(&line) && line == "check") {
    bool intact = std::strcmp(view, "owner") == 0 &&
                  Q7M_WaitForSingleObject(e, 0) == Q7M_WAIT_OBJECT_0 &&
                  Q7M_WaitForSingleObject(m, 0) == Q7M_WAIT_OBJECT_0;
    intact = Q7M_ReleaseMutex(m) == 1 && intact;
    q7mtest::Say(intact ? "intact" : "broken");
  }
  return 0;
}

// Becomes nobody/nogroup (no supplementary groups), then goes for the
// owner's objects in namespace args[0] by every way the API and the file
// system offer. One line: the six API results, then what the file system
// allowed.
Q7M_CHILD(StrangerGoesForObjects) {
  if (setgroups(0, nullptr) != 0 || setgid(kNoGroup) != 0 || setuid(kNobody) != 0) return 10;
  const std::string dir = args.at(0);
  setenv("Q7M_OBJECT_DIR", dir.c_str(), 1);
  std::string out;
  auto result = [&](Q7M_HANDLE h) {
    out += std::to_string(h ? 0 : Q7M_GetLastError()) + " ";
    if (h) Q7M_CloseHandle(h);
  };
  result(Q7M_OpenMutex("m"));
  result(Q7M_CreateMutex(0, "m"));
  result(Q7M_OpenEvent("e"));
  result(Q7M_CreateEvent(1, 0, "e"));
  result(Q7M_OpenFileMapping("s"));
  result(Q7M_CreateFileMapping("s", 64));
  // Straight at the files: read the memory, remove or rename a name, take
  // the directory itself.
  const std::string file = FileIn(dir, "s");
  const bool read = open(file.c_str(), O_RDONLY) >= 0;
  const bool removed = unlink(file.c_str()) == 0;
  const bool renamed = rename(FileIn(dir, "m").c_str(), (dir + "/mine").c_str()) == 0;
  const bool chmodded = chmod(dir.c_str(), 0777) == 0;
  out += std::string(read ? "read" : "-") + " " + (removed ? "removed" : "-") + " " +
         (renamed ? "renamed" : "-") + " " + (chmodded ? "chmodded" : "-");
  q7mtest::Say(out);
  return 0;
}

TEST(ForeignUser, CanNeitherOpenNorTakeOverAnotherUsersObjects) {
  SKIP_UNLESS_ROOT();
  OpenScratch scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string dir = scratch.path() + "/objects";
  ChildProcess owner;
  ASSERT_TRUE(owner.Start("OwnObjects", {dir}));
  ASSERT_TRUE(owner.Expect("holding"));
  // What the owner made: the shared directory (sticky, like /tmp) and
  // objects for its user and group only.
  struct stat st;
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 01777u);
  for (const char* name : {"m", "e", "s"}) {
    ASSERT_EQ(stat(FileIn(dir, name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0660u) << name;
  }
  const std::set<std::string> before = Entries(dir);

  ChildProcess stranger;
  ASSERT_TRUE(stranger.Start("StrangerGoesForObjects", {dir}));
  std::string line;
  ASSERT_TRUE(stranger.ReadLine(&line)) << "exit " << stranger.Wait();
  EXPECT_EQ(stranger.Wait(), 0);
  EXPECT_EQ(line, "5 5 5 5 5 5 - - - -");

  // Nothing was made, removed or renamed, and the owner's objects are as
  // it left them.
  EXPECT_EQ(Entries(dir), before);
  ASSERT_TRUE(owner.WriteLine("check"));
  EXPECT_TRUE(owner.Expect("intact"));
  owner.WriteLine("end");
  EXPECT_EQ(owner.Wait(), 0);
}

// Tries to create the three kinds of object in namespace args[0].
Q7M_CHILD(CreateObjectsIn) {
  setenv("Q7M_OBJECT_DIR", args.at(0).c_str(), 1);
  q7mtest::Say(TryCreateAll());
  return 0;
}

std::string CreateInFreshProcess(const std::string& dir) {
  ChildProcess child;
  std::string line;
  if (!child.Start("CreateObjectsIn", {dir}) || !child.ReadLine(&line)) return "no answer";
  child.Wait();
  return line;
}

TEST(ForeignUser, ANamespaceDirectoryAnotherUserMadeOrLinkedIsNotUsed) {
  SKIP_UNLESS_ROOT();
  OpenScratch scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string denied = "5 5 5";
  // Made first by a stranger, as /tmp is (sticky): he could still remove
  // every name in it.
  const std::string sticky = scratch.path() + "/sticky";
  ASSERT_EQ(mkdir(sticky.c_str(), 0), 0);
  ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
  ASSERT_EQ(chown(sticky.c_str(), kNobody, kNoGroup), 0);
  EXPECT_EQ(CreateInFreshProcess(sticky), denied);
  // Ours, but anyone may remove or replace a name in it.
  const std::string open = scratch.path() + "/open";
  ASSERT_EQ(mkdir(open.c_str(), 0), 0);
  ASSERT_EQ(chmod(open.c_str(), 0777), 0);
  EXPECT_EQ(CreateInFreshProcess(open), denied);
  // A link to a directory of the stranger's.
  const std::string linked = scratch.path() + "/linked";
  ASSERT_EQ(symlink(sticky.c_str(), linked.c_str()), 0);
  EXPECT_EQ(CreateInFreshProcess(linked), denied);
  // Nothing was made in any of them.
  EXPECT_TRUE(Entries(sticky).empty());
  EXPECT_TRUE(Entries(open).empty());

  // A directory of our group is shared as it is: group members share
  // readers.
  const std::string group = scratch.path() + "/group";
  ASSERT_EQ(mkdir(group.c_str(), 0), 0);
  ASSERT_EQ(chmod(group.c_str(), 02770), 0);
  ASSERT_EQ(chown(group.c_str(), kNobody, getegid()), 0);
  EXPECT_EQ(CreateInFreshProcess(group), "0 0 0");
}

TEST(ForeignUser, AFileAStrangerPlantedUnderAnObjectsNameIsNeitherAdoptedNorTouched) {
  SKIP_UNLESS_ROOT();
  OpenScratch scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string dir = scratch.path() + "/objects";
  ASSERT_EQ(mkdir(dir.c_str(), 0), 0);
  ASSERT_EQ(chmod(dir.c_str(), 01777), 0);
  // Planted before the owner came, open to all so the owner could use it,
  // the mapping's name held under an exclusive flock for ever.
  for (const char* name : {"m", "e", "s"}) {
    const std::string file = FileIn(dir, name);
    q7mtest::WriteFile(file, std::string(8192, 'x'));
    ASSERT_EQ(chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(chown(file.c_str(), kNobody, kNoGroup), 0);
  }
  const int held = open(FileIn(dir, "s").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);

  EXPECT_EQ(CreateInFreshProcess(dir), "5 5 5");
  for (const char* name : {"m", "e", "s"})
    EXPECT_TRUE(q7mtest::ReadFile(FileIn(dir, name)) == std::string(8192, 'x')) << name;
  EXPECT_EQ(Entries(dir).size(), 3u) << "no signal file or other name was made";
  close(held);
}

// ---- links planted in the namespace (no other user needed) ----

TEST(PlantedLinks, ALinkUnderAnObjectsNameIsNeverWrittenThroughNorRemoved) {
  // A link is not ours to remove: the create fails cleanly and the planter
  // finds his link and its target as they were. Following it would let
  // anyone who may write to the namespace make the owner truncate, map and
  // rewrite a file of his choice.
  const std::string target = q7mtest::ScratchDir() + "/victim";
  q7mtest::WriteFile(target, "precious");
  for (const char* name : {"link-m", "link-e", "link-s"})
    ASSERT_EQ(symlink(target.c_str(), q7mtest::ObjectFilePath(name).c_str()), 0) << name;
  EXPECT_EQ(Q7M_CreateMutex(1, "link-m"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
  EXPECT_EQ(Q7M_CreateEvent(1, 1, "link-e"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
  EXPECT_EQ(Q7M_OpenEvent("link-e"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
  EXPECT_EQ(Q7M_CreateFileMapping("link-s", 100000), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
  EXPECT_EQ(Q7M_OpenFileMapping("link-s"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
  EXPECT_EQ(q7mtest::ReadFile(target), "precious");
  struct stat st;
  for (const char* name : {"link-m", "link-e", "link-s"}) {
    ASSERT_EQ(lstat(q7mtest::ObjectFilePath(name).c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
  }
}

TEST(PlantedLinks, ALinkUnderAnEventsSignalNameIsReplacedByTheNewEventsOwnPipe) {
  // The signal pipe's name belongs to the event whose file the creator
  // holds exclusively while it makes the event: whatever sits there is a
  // leftover of that name, and is replaced, never opened through.
  const std::string target = q7mtest::ScratchDir() + "/victim-fifo";
  q7mtest::WriteFile(target, "precious");
  const std::string fifo = q7mtest::ObjectFilePath("sig") + q7m::platform::kSignalFileSuffix;
  ASSERT_EQ(symlink(target.c_str(), fifo.c_str()), 0);
  q7mtest::Handle e(Q7M_CreateEvent(1, 0, "sig"));
  ASSERT_NE(e.get(), nullptr) << Q7M_GetLastError();
  EXPECT_EQ(Q7M_SetEvent(e), 1);
  EXPECT_EQ(Q7M_WaitForSingleObject(e, 0), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(q7mtest::ReadFile(target), "precious");
  struct stat st;
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

}  // namespace
