// Loading libraries by base name, symbol lookup, and module paths and base
// names. The probe modules are built twice under one name: beside an anchor
// module in tests/probe (id 2) and in lib/ (id 1), where the system search
// finds it.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "q7m/platform_sys.h"
#include "q7m_test.h"

namespace {

namespace fs = std::filesystem;
using ProbeFn = int (*)();

std::string ProbeDir() {
  return (fs::path(q7mtest::BuildLibDir()).parent_path() / "tests" / "probe").string();
}

int IdOf(Q7M_HMODULE module) {
  auto fn = reinterpret_cast<ProbeFn>(Q7M_GetProcAddress(module, "q7m_probe_id"));
  return fn ? fn() : -1;
}

std::string FileNameOf(const void* address) {
  char buffer[4096];
  uint32_t n = Q7M_GetModuleFileName(address, buffer, sizeof buffer);
  return std::string(buffer, n);
}

std::string BaseNameOf(const void* address) {
  char buffer[256];
  uint32_t n = Q7M_GetModuleBaseName(address, buffer, sizeof buffer);
  return std::string(buffer, n);
}

// The system search, in a process whose search path holds lib/ (set
// explicitly: which RUNPATH applies to a dlopen depends on the caller, and
// sanitizer runtimes intercept dlopen).
Q7M_CHILD(LoadBySystemSearch) {
  Q7M_HMODULE system = Q7M_LoadLibrary("q7mnear", nullptr);
  // A name ending in .so is taken as it is: no "lib" added, no anchor.
  Q7M_HMODULE asGiven = Q7M_LoadLibrary("libq7mnear.so", nullptr);
  q7mtest::Say("system " + std::to_string(system ? IdOf(system) : -1) + " given " +
               std::to_string(asGiven ? IdOf(asGiven) : -1));
  if (system) Q7M_FreeLibrary(system);
  if (asGiven) Q7M_FreeLibrary(asGiven);
  return 0;
}

TEST(ModuleLoaderTest, ANameIsLookedForBesideTheAnchorFirstThenBySystemSearch) {
  Q7M_HMODULE anchorModule = Q7M_LoadLibrary((ProbeDir() + "/libq7manchor.so").c_str(), nullptr);
  ASSERT_NE(anchorModule, nullptr);
  void* anchor = Q7M_GetProcAddress(anchorModule, "q7m_probe_id");
  ASSERT_NE(anchor, nullptr);

  // lib/ is on the search path, but the copy beside the anchor wins.
  Q7M_HMODULE beside = Q7M_LoadLibrary("q7mnear", anchor);
  ASSERT_NE(beside, nullptr);
  EXPECT_EQ(IdOf(beside), 2);
  EXPECT_EQ(Q7M_FreeLibrary(beside), 1);
  EXPECT_EQ(Q7M_FreeLibrary(anchorModule), 1);

  // The executable (tests/) has no copy beside it: the system search finds
  // the one in lib/.
  const char* old = getenv("LD_LIBRARY_PATH");
  std::string saved = old ? old : "";
  setenv("LD_LIBRARY_PATH", q7mtest::BuildLibDir().c_str(), 1);
  q7mtest::ChildProcess child;
  bool started = child.Start("LoadBySystemSearch");
  if (old) {
    setenv("LD_LIBRARY_PATH", saved.c_str(), 1);
  } else {
    unsetenv("LD_LIBRARY_PATH");
  }
  ASSERT_TRUE(started);
  EXPECT_TRUE(child.Expect("system 1 given 1"));
  EXPECT_EQ(child.Wait(), 0);
}

TEST(ModuleLoaderTest, FailuresReportTheWin32Codes) {
  Q7M_SetLastError(0);
  EXPECT_EQ(Q7M_LoadLibrary("q7m-no-such-module", nullptr), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(Q7M_LoadLibrary("/nonexistent/libx.so", nullptr), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(Q7M_LoadLibrary(nullptr, nullptr), nullptr);
  EXPECT_EQ(Q7M_LoadLibrary("", nullptr), nullptr);

  // A file that is not a shared object beside the anchor is an error, not a
  // reason to load some other copy.
  std::string bogus = ProbeDir() + "/libq7mbogus.so";
  q7mtest::WriteFile(bogus, "not an ELF file");
  Q7M_HMODULE anchorModule = Q7M_LoadLibrary((ProbeDir() + "/libq7manchor.so").c_str(), nullptr);
  ASSERT_NE(anchorModule, nullptr);
  void* anchor = Q7M_GetProcAddress(anchorModule, "q7m_probe_id");
  EXPECT_EQ(Q7M_LoadLibrary("q7mbogus", anchor), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_MOD_NOT_FOUND);
  fs::remove(bogus);

  EXPECT_EQ(Q7M_GetProcAddress(anchorModule, "q7m_no_such_symbol"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(Q7M_GetProcAddress(nullptr, "q7m_probe_id"), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  EXPECT_EQ(Q7M_FreeLibrary(nullptr), 0);
  EXPECT_EQ(Q7M_FreeLibrary(anchorModule), 1);
}

TEST(ModuleLoaderTest, ModuleFileAndBaseNames) {
  // The executable: by null and by an address inside it.
  std::string exe = FileNameOf(nullptr);
  EXPECT_EQ(fs::path(exe).filename(), "platform_tests");
  EXPECT_TRUE(fs::path(exe).is_absolute());
  EXPECT_EQ(FileNameOf(reinterpret_cast<const void*>(&IdOf)), exe);
  EXPECT_EQ(BaseNameOf(nullptr), "platform_tests");

  // A library of the stack.
  const void* platformFn = reinterpret_cast<const void*>(&Q7M_FormatMessage);
  // The file the program was linked against: its SONAME, libq7mplatform.so.1.
  EXPECT_EQ(fs::path(FileNameOf(platformFn)).filename(), "libq7mplatform.so.1");
  EXPECT_EQ(BaseNameOf(platformFn), "q7mplatform");

  // A versioned file name, and a module loaded by a relative name.
  std::string dir = q7mtest::MakeTempDir("mods");
  fs::copy_file(ProbeDir() + "/libq7manchor.so", dir + "/libversioned.so.1.2");
  Q7M_HMODULE versioned = Q7M_LoadLibrary((dir + "/libversioned.so.1.2").c_str(), nullptr);
  ASSERT_NE(versioned, nullptr);
  void* fn = Q7M_GetProcAddress(versioned, "q7m_probe_id");
  EXPECT_EQ(FileNameOf(fn), dir + "/libversioned.so.1.2");
  EXPECT_EQ(BaseNameOf(fn), "versioned");
  Q7M_FreeLibrary(versioned);

  // Short buffers: cut, terminated, INSUFFICIENT_BUFFER.
  char small[5];
  Q7M_SetLastError(0);
  EXPECT_EQ(Q7M_GetModuleBaseName(platformFn, small, sizeof small), 4u);
  EXPECT_STREQ(small, "q7mp");
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(Q7M_GetModuleFileName(nullptr, small, 0), 0u);

  // An address inside no module.
  int onStack = 0;
  EXPECT_EQ(Q7M_GetModuleFileName(&onStack, small, sizeof small), 0u);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_MOD_NOT_FOUND);
}

}  // namespace
