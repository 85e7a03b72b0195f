// The named-object namespace: how names become files, odd names, file
// modes, stale leftovers and access that is refused.
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "platform_test_util.h"
#include "q7m_test.h"
#include "sha256.h"

namespace {

using q7mtest::ChildProcess;
using q7mtest::Handle;

std::string Hex(const std::array<uint8_t, 32>& d) {
  static const char* k = "0123456789abcdef";
  std::string s;
  for (uint8_t b : d) {
    s.push_back(k[b >> 4]);
    s.push_back(k[b & 15]);
  }
  return s;
}

std::string FileName(const std::string& name) {
  std::string f;
  EXPECT_TRUE(q7m::platform::ObjectFileName(name.c_str(), &f));
  return f;
}

TEST(ObjectFileName, Sha256MatchesPublishedVectors) {
  using q7m::platform::Sha256;
  EXPECT_EQ(Hex(Sha256("", 0)), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex(Sha256("abc", 3)),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the padding needs a second block.
  const char* two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(Hex(Sha256(two, std::strlen(two))),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  std::string million(1000000, 'a');
  EXPECT_EQ(Hex(Sha256(million.data(), million.size())),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(ObjectFileName, DistinctNamesGetDistinctSafeFileNames) {
  const std::string names[] = {"a/b",  "a%2Fb", "a_b", "a\\b", "a\tb", ".",     "..",     ".x",
                               "%2Ex", "x.",    "A",   "a",    "\xff", "%lock", "x%fifo", "x%hx"};
  std::set<std::string> files;
  for (const auto& n : names) {
    std::string f = FileName(n);
    EXPECT_EQ(f.find('/'), std::string::npos) << f;
    EXPECT_NE(f[0], '.') << f;
    EXPECT_NE(f, "%lock");
    files.insert(f);
  }
  EXPECT_EQ(files.size(), std::size(names));
}

TEST(ObjectFileName, LongNamesKeepAReadablePrefixAndDifferByTheirEnd) {
  std::string base(300, 'n');
  std::string a = FileName(base + "1"), b = FileName(base + "2");
  EXPECT_NE(a, b);
  EXPECT_LE(a.size() + std::strlen(q7m::platform::kSignalFileSuffix), 255u);
  EXPECT_EQ(a.compare(0, 50, std::string(50, 'n')), 0);
  // Escapes are not cut in half at the prefix's end.
  for (size_t xs : {97, 98, 99}) {
    std::string escaped = FileName(std::string(xs, 'x') + std::string(200, '\\'));
    std::string kept = xs == 97 ? std::string(97, 'x') + "%5C" : std::string(xs, 'x');
    EXPECT_EQ(escaped.substr(0, kept.size() + 2), kept + "%h") << xs;
  }
  std::string tooLong(q7m::platform::kMaxObjectNameLength + 1, 'z');
  std::string ignored;
  EXPECT_FALSE(q7m::platform::ObjectFileName(tooLong.c_str(), &ignored));
  EXPECT_EQ(Q7M_CreateEvent(1, 0, tooLong.c_str()), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILENAME_EXCED_RANGE);
}

TEST(ObjectFileName, OnlyNamesTheEscapingGivesCountAsObjectFiles) {
  // What the sweep of leftovers may touch: every object's file name...
  std::string control;
  for (int c = 1; c < 256; ++c) control.push_back(static_cast<char>(c));
  for (const std::string& n :
       {std::string("a"), std::string("a/b"), std::string(".x"), std::string("%lock"),
        std::string("x%fifo"), control, std::string(300, 'L') + "\\\t/end",
        std::string(97, 'x') + std::string(200, '\\')})
    EXPECT_TRUE(q7m::platform::IsObjectFileName(FileName(n).c_str())) << FileName(n);
  // ...and nothing else in the directory: signal FIFOs, dot files, names
  // with a '%' the escaping never writes, cut-off or overlong hashes.
  const std::string hash(64, 'A');
  for (const std::string& f :
       {std::string(""), std::string("."), std::string(".."), std::string(".x"),
        std::string("a%fifo"), std::string("%lock"), std::string("a%4"), std::string("a%4g"),
        std::string("a%2f"), std::string("a%"), std::string("a b"), "a%h" + hash.substr(1),
        "a%h" + hash + "A", "a%h" + hash.substr(1) + "g", std::string(201, 'a')})
    EXPECT_FALSE(q7m::platform::IsObjectFileName(f.c_str())) << f;
}

// Opens each named event given and reports whether it was there.
Q7M_CHILD(OpenEvents) {
  for (const auto& name : args) {
    Q7M_HANDLE e = Q7M_OpenEvent(name.c_str());
    q7mtest::Say(e && Q7M_WaitForSingleObject(e, 0) == Q7M_WAIT_OBJECT_0 ? "set" : "missing");
    if (e) Q7M_CloseHandle(e);
  }
  return 0;
}

TEST(Namespace, OddNamesAreSharedBetweenProcesses) {
  std::string control;
  for (int c = 1; c < 256; ++c) control.push_back(static_cast<char>(c));
  const std::vector<std::string> names = {
      q7mtest::OddName("odd"), std::string(300, 'L') + "\\\t/end",
      std::string(300, 'L') + "\\\t/End", control, "../../escape"};
  std::vector<std::unique_ptr<Handle>> events;
  for (const auto& n : names) {
    events.push_back(std::make_unique<Handle>(Q7M_CreateEvent(1, 1, n.c_str())));
    ASSERT_NE(events.back()->get(), nullptr) << n;
    EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SUCCESS);
  }
  // All of them live as plain entries of the namespace directory.
  for (const auto& n : names) {
    struct stat st;
    ASSERT_EQ(stat(q7mtest::ObjectFilePath(n).c_str(), &st), 0) << n;
    EXPECT_TRUE(S_ISREG(st.st_mode));
  }
  Q7M_ResetEvent(*events[2]);  // differs from [1] only in its last letter
  ChildProcess child;
  ASSERT_TRUE(child.Start("OpenEvents", names));
  for (size_t i = 0; i < names.size(); ++i) EXPECT_TRUE(child.Expect(i == 2 ? "missing" : "set"));
  EXPECT_EQ(child.Wait(), 0);
}

// Creates a mutex and an event under a strict umask, in a namespace
// directory of its own that does not exist yet.
Q7M_CHILD(CreateUnderUmask) {
  setenv("Q7M_OBJECT_DIR", args.at(0).c_str(), 1);
  umask(077);
  Q7M_HANDLE m = Q7M_CreateMutex(0, "strict");
  Q7M_HANDLE e = Q7M_CreateEvent(0, 0, "strict-event");
  q7mtest::Say(m && e ? "created" : "failed");
  std::string line;
  q7mtest::Hear(&line);
  return 0;
}

TEST(Namespace, DirectoryAndFilesGetTheirModesWhateverTheUmask) {
  std::string dir = q7mtest::MakeTempDir("ns") + "/objects";
  ChildProcess child;
  ASSERT_TRUE(child.Start("CreateUnderUmask", {dir}));
  ASSERT_TRUE(child.Expect("created"));
  struct stat st;
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 01777u);
  std::string file, event;
  q7m::platform::ObjectFileName("strict", &file);
  q7m::platform::ObjectFileName("strict-event", &event);
  for (const auto& f : {file, event, event + q7m::platform::kSignalFileSuffix}) {
    ASSERT_EQ(stat((dir + "/" + f).c_str(), &st), 0) << f;
    EXPECT_EQ(st.st_mode & 0777, 0660u) << f;
  }
  child.WriteLine("done");
  EXPECT_EQ(child.Wait(), 0);
}

// Drops the capabilities that let root ignore file modes, then tries to
// open and to create the object.
Q7M_CHILD(OpenWithoutPermission) {
  if (geteuid() == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return 10;
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
      data[cap / 32].effective &= ~(1u << (cap % 32));
    if (syscall(SYS_capset, &header, data) != 0) return 10;
  }
  Q7M_HANDLE opened = Q7M_OpenMutex(args.at(0).c_str());
  uint32_t openError = Q7M_GetLastError();
  Q7M_HANDLE created = Q7M_CreateMutex(0, args.at(0).c_str());
  uint32_t createError = Q7M_GetLastError();
  q7mtest::Say(std::to_string(opened == nullptr ? openError : 0) + " " +
               std::to_string(created == nullptr ? createError : 0));
  return 0;
}

TEST(Namespace, ObjectThatMayNotBeOpenedIsAccessDenied) {
  Handle m(Q7M_CreateMutex(0, "private"));
  ASSERT_NE(m.get(), nullptr);
  ASSERT_EQ(chmod(q7mtest::ObjectFilePath("private").c_str(), 0), 0);
  ChildProcess child;
  ASSERT_TRUE(child.Start("OpenWithoutPermission", {"private"}));
  std::string line;
  ASSERT_TRUE(child.ReadLine(&line)) << "exit " << child.Wait();
  int rc = child.Wait();
  if (rc == 10) GTEST_SKIP() << "cannot drop root's file-permission capabilities here";
  EXPECT_EQ(line, "5 5");
  // Nothing was broken for the holder.
  EXPECT_EQ(Q7M_WaitForSingleObject(m, 0), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(Q7M_ReleaseMutex(m), 1);
}

TEST(Namespace, StaleOrForeignFilesAreNotOpenedAsObjects) {
  // An unheld file (what killed processes leave) is no object to open...
  q7mtest::WriteFile(q7mtest::ObjectFilePath("leftover"), std::string(5000, 'x'));
  EXPECT_EQ(Q7M_OpenEvent("leftover"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
  EXPECT_NE(access(q7mtest::ObjectFilePath("leftover").c_str(), F_OK), 0);
  // ...and is reused as a new one by a creator.
  q7mtest::WriteFile(q7mtest::ObjectFilePath("leftover"), std::string(5000, 'x'));
  Handle e(Q7M_CreateEvent(0, 0, "leftover"));
  ASSERT_NE(e.get(), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_SUCCESS);
  EXPECT_EQ(Q7M_WaitForSingleObject(e, 0), Q7M_WAIT_TIMEOUT);
  // A symbolic link planted under an object's name is never followed.
  std::string target = q7mtest::ScratchDir() + "/target";
  q7mtest::WriteFile(target, "keep");
  ASSERT_EQ(symlink(target.c_str(), q7mtest::ObjectFilePath("planted").c_str()), 0);
  EXPECT_EQ(Q7M_CreateMutex(0, "planted"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
  EXPECT_EQ(q7mtest::ReadFile(target), "keep");
}

// Creates an event and keeps it until told.
Q7M_CHILD(HoldEvent) {
  Q7M_HANDLE e = Q7M_CreateEvent(1, 0, args.at(0).c_str());
  q7mtest::Say(e ? "holding" : "failed");
  std::string line;
  q7mtest::Hear(&line);
  return 0;
}

TEST(Namespace, ObjectOfAnotherKindInAnotherProcessIsRefused) {
  ChildProcess child;
  ASSERT_TRUE(child.Start("HoldEvent", {"kind-clash"}));
  ASSERT_TRUE(child.Expect("holding"));
  EXPECT_EQ(Q7M_CreateMutex(0, "kind-clash"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  EXPECT_EQ(Q7M_CreateFileMapping("kind-clash", 10), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  Handle e(Q7M_OpenEvent("kind-clash"));
  EXPECT_NE(e.get(), nullptr);
}

}  // namespace
