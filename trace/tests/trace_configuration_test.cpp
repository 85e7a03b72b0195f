// Configuration: the module's section over the library's, file locations,
// registry redirection, and the first handle's settings holding for a ring.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "q7m_test.h"
#include "scribel_test_support.h"

namespace {

using namespace scribeltest;

TEST(TraceConfiguration, ModuleSectionOverridesTheLibrarySection) {
  auto& lib = Scribel();
  TraceDir d = MakeTraceDir("");
  const std::string own = d.dir + "/module.log";
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, 20, 10,
                                     "[MOD]\nFILEPATH=" + d.dir +
                                         "\nFILENAME=module.log\nRECORDLENGTH=12\n"
                                         "MAXRECORD=2\n"));
  SCRIBEL_HANDLE h = OpenHandle(d.ini, "MOD");
  EXPECT_EQ(lib.GetRecordLength(h), 12u);
  for (int i = 0; i < 3; ++i) lib.Outputf(h, "m%d", i);
  auto ring = ReadRing(own, 12);
  ASSERT_EQ(ring.size(), 2u);  // two records, then back to slot 0
  EXPECT_EQ(Trimmed(ring[0].text), "m2");
  // Another module with no section of its own uses the library's values.
  SCRIBEL_HANDLE other = OpenHandle(d.ini, "OTHER");
  EXPECT_EQ(lib.GetRecordLength(other), 20u);
  lib.Outputf(other, "library ring");
  EXPECT_EQ(Trimmed(ReadRing(d.trace, 20).at(0).text), "library ring");
}

TEST(TraceConfiguration, PathMacroNamesTheIniDirectory) {
  auto& lib = Scribel();
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, "[SCRIBEL]\nFILEPATH=$iniPATHsub\nFILENAME=macro.log\nMAXRECORD=5\n");
  ASSERT_EQ(mkdir((d.dir + "/sub").c_str(), 0755), 0);
  SCRIBEL_HANDLE h = OpenHandle(d.ini, "MOD");
  lib.Outputf(h, "beside the INI");
  EXPECT_EQ(Trimmed(ReadRing(d.dir + "/sub/macro.log", 86).at(0).text), "beside the INI");
}

TEST(TraceConfiguration, KeysMayComeFromTheRegistry) {
  auto& lib = Scribel();
  TraceDir d = MakeTraceDir("");
  const std::string reg = d.dir + "/trace.reg";
  q7mtest::WriteFile(reg,
                     "Windows Registry Editor Version 5.00\n\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q7M\\Trace]\n"
                     "\"Name\"=\"registry.log\"\n"
                     "\"Length\"=dword:00000010\n");
  q7mtest::WriteFile(d.ini,
                     "[SCRIBEL]\nFILEPATH=" + d.dir +
                         "\nREGFILENAME=HKEY_LOCAL_MACHINE\\SOFTWARE\\Q7M\\Trace\\Name\n"
                         "REGRECORDLENGTH=HKEY_LOCAL_MACHINE\\SOFTWARE\\Q7M\\Trace\\Length\n");
  const char* saved = getenv("Q7M_REGISTRY");
  std::string savedValue = saved ? saved : "";
  setenv("Q7M_REGISTRY", reg.c_str(), 1);
  SCRIBEL_HANDLE h = nullptr;
  int ok = lib.Initialize(&h, d.ini.c_str(), "MOD");
  setenv("Q7M_REGISTRY", savedValue.c_str(), 1);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(lib.GetRecordLength(h), 16u);
  lib.Outputf(h, "from the registry");
  EXPECT_EQ(Trimmed(ReadRing(d.dir + "/registry.log", 16).at(0).text), "from the registr");
}

// Runs in its own process because it changes the current directory.
Q7M_CHILD(module_file_name_only) {
  // args: INI path, directory to run in
  if (chdir(args[1].c_str()) != 0) return 10;
  auto& lib = Scribel();
  SCRIBEL_HANDLE h = nullptr;
  if (lib.Initialize(&h, args[0].c_str(), "MOD") != 1) return 11;
  lib.Outputf(h, "in the current directory");
  return 0;
}

TEST(TraceConfiguration, ModuleFileNameWithoutPathMeansTheCurrentDirectory) {
  TraceDir d = MakeTraceDir("");
  std::string work = q7mtest::MakeTempDir("cwd");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, 30, 10, "[MOD]\nFILENAME=own.log\n"));
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("module_file_name_only", {d.ini, work}));
  ASSERT_EQ(child.Wait(), 0);
  EXPECT_EQ(Trimmed(ReadRing(work + "/own.log", 30).at(0).text), "in the current directory");
  EXPECT_FALSE(q7mtest::ReadFile(d.dir + "/own.log").size());
}

// Opens module args[1]'s handle on INI args[0], reports its record length,
// writes one record and waits for the parent before it ends.
Q7M_CHILD(second_writer) {
  auto& lib = Scribel();
  SCRIBEL_HANDLE h = nullptr;
  if (lib.Initialize(&h, args[0].c_str(), args[1].c_str()) != 1) return 11;
  q7mtest::Say("length " + std::to_string(lib.GetRecordLength(h)));
  lib.Outputf(h, "from the second process");
  q7mtest::Say("written");
  std::string line;
  q7mtest::Hear(&line);
  return 0;
}

TEST(TraceConfiguration, FirstWriterFixesRecordLengthAndSizeOfARing) {
  auto& lib = Scribel();
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, 10, 3,
                                     "[FIRST]\nRECORDLENGTH=24\n[SECOND]\nRECORDLENGTH=50\n"
                                     "MAXRECORD=100\n"));
  SCRIBEL_HANDLE first = OpenHandle(d.ini, "FIRST");
  lib.Outputf(first, "from the first process");
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("second_writer", {d.ini, "SECOND"}));
  EXPECT_TRUE(child.Expect("length 24"));
  EXPECT_TRUE(child.Expect("written"));
  for (int i = 0; i < 2; ++i) lib.Outputf(first, "wrap %d", i);
  auto ring = ReadRing(d.trace, 24);
  ASSERT_EQ(ring.size(), 3u);  // the first writer's ring size of 3
  EXPECT_TRUE(ring[1].whole);
  EXPECT_EQ(Trimmed(ring[1].text), "from the second process");
  EXPECT_EQ(ring[1].header.sequence, 1u);
  EXPECT_EQ(Trimmed(ring[0].text), "wrap 1");
  EXPECT_EQ(ring[0].header.sequence, 3u);
  child.WriteLine("done");
  EXPECT_EQ(child.Wait(), 0);
}

}  // namespace
