// Writing records: text handling, the record length and ring size limits,
// refused configurations, unusable handles and the caller's last error.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include "q7m_test.h"
#include "scribel_test_support.h"

namespace {

using namespace scribeltest;

TEST(RecordWriting, TextsAreCutOrPaddedAndEveryRecordEndsWithCrLf) {
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, 10, 100));
  SCRIBEL_HANDLE h = OpenHandle(d.ini);
  auto& lib = Scribel();
  lib.Outputf(h, "%s", "0123456789ABCDEF");
  lib.Outputf(h, "abc");
  lib.Output(h, "a\r\nb\0c", 6);  // raw bytes go in unchanged
  lib.Output(h, "0123456789XYZ", 13);
  lib.Output(h, nullptr, 5);
  lib.Outputf(h, "");
  auto ring = ReadRing(d.trace, 10);
  ASSERT_EQ(ring.size(), 6u);
  EXPECT_EQ(ring[0].text, "0123456789");
  EXPECT_EQ(ring[1].text, "abc       ");
  EXPECT_EQ(ring[2].text, std::string("a\r\nb\0c    ", 10));
  EXPECT_EQ(ring[3].text, "0123456789");
  EXPECT_EQ(ring[4].text, std::string(10, ' '));
  EXPECT_EQ(ring[5].text, std::string(10, ' '));
  for (const auto& r : ring) EXPECT_TRUE(r.whole);
  EXPECT_EQ(q7mtest::ReadFile(d.trace).size(), 6u * 52);
}

TEST(RecordWriting, RecordLengthIsCappedAtTheLargestAndZeroRefusesTheHandle) {
  auto& lib = Scribel();
  for (const char* value : {"2000", "0xFFFFFFFF", "982"}) {
    TraceDir d = MakeTraceDir("");
    q7mtest::WriteFile(d.ini, BasicIni(d.trace, 1, 10, std::string("[M]\nRECORDLENGTH=") + value));
    SCRIBEL_HANDLE h = OpenHandle(d.ini, "M");
    EXPECT_EQ(lib.GetRecordLength(h), 982u) << value;
    // A full formatted line (1024 characters) is cut to the record.
    lib.Outputf(h, "%1024d", 7);
    EXPECT_EQ(q7mtest::ReadFile(d.trace).size(), 1024u) << value;
  }
  TraceDir zero = MakeTraceDir("");
  q7mtest::WriteFile(zero.ini, BasicIni(zero.trace, 0, 10));
  SCRIBEL_HANDLE h = reinterpret_cast<SCRIBEL_HANDLE>(&zero);
  EXPECT_EQ(lib.Initialize(&h, zero.ini.c_str(), "M"), 0);
  EXPECT_EQ(h, nullptr);
}

TEST(RecordWriting, ConfigurationsWithoutARingAreRefused) {
  auto& lib = Scribel();
  struct Case {
    const char* name;
    std::string ini;  // empty: no INI file at all
    uint32_t lastError;
  };
  TraceDir d = MakeTraceDir("");
  const std::string longDir = d.dir + "/" + std::string(200, 'd');
  const std::vector<Case> cases = {
      {"no ring size", BasicIni(d.trace, 20, 0), Q7M_ERROR_INVALID_DATA},
      {"module sets no ring size", BasicIni(d.trace, 20, 5, "[TESTMOD]\nMAXRECORD=0\n"),
       Q7M_ERROR_INVALID_DATA},
      {"no file name", "[SCRIBEL]\nFILEPATH=" + d.dir + "\n", Q7M_ERROR_INVALID_DATA},
      {"empty section", "[SCRIBEL]\n", Q7M_ERROR_INVALID_DATA},
      {"path too long for the ring's name", BasicIni(longDir + "/trace.log", 20, 5),
       Q7M_ERROR_FILENAME_EXCED_RANGE},
      {"no INI file", "", Q7M_ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    std::string ini = d.dir + "/" + std::to_string(&c - cases.data()) + ".INI";
    if (!c.ini.empty()) q7mtest::WriteFile(ini, c.ini);
    SCRIBEL_HANDLE h = reinterpret_cast<SCRIBEL_HANDLE>(&d);
    Q7M_SetLastError(0);
    EXPECT_EQ(lib.Initialize(&h, ini.c_str(), "TESTMOD"), 0) << c.name;
    EXPECT_EQ(h, nullptr) << c.name;
    EXPECT_EQ(Q7M_GetLastError(), c.lastError) << c.name;
  }
  EXPECT_EQ(lib.Initialize(nullptr, d.ini.c_str(), "TESTMOD"), 0);
  EXPECT_FALSE(q7mtest::ReadFile(d.trace).size());
}

TEST(RecordWriting, UnusableHandlesAreRefusedWithoutBeingTouched) {
  auto& lib = Scribel();
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, 20, 10, "[TESTMOD]\nTRACE=5\n"));
  OpenHandle(d.ini);  // the list is not empty
  // A pointer that is not a handle (readable garbage, so only a lookup
  // protects it) and a null handle.
  char garbage[256];
  std::memset(garbage, 0x5A, sizeof garbage);
  for (SCRIBEL_HANDLE bad :
       {static_cast<SCRIBEL_HANDLE>(nullptr), reinterpret_cast<SCRIBEL_HANDLE>(garbage)}) {
    EXPECT_EQ(lib.GetInteger(bad, nullptr), 0u);
    EXPECT_EQ(lib.GetRecordLength(bad), 0u);
    lib.Lock(bad);
    lib.Output(bad, "x", 1);
    lib.Outputf(bad, "y");
    lib.UnLock(bad);
  }
  EXPECT_EQ(q7mtest::ReadFile(d.trace).size(), 0u);
}

TEST(RecordWriting, TheCallersLastErrorSurvivesEveryExport) {
  auto& lib = Scribel();
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, 20, 10));
  SCRIBEL_HANDLE h = OpenHandle(d.ini);
  for (SCRIBEL_HANDLE handle : {h, static_cast<SCRIBEL_HANDLE>(nullptr)}) {
    Q7M_SetLastError(0xBEEF);
    lib.GetInteger(handle, "NOSUCHKEY");
    EXPECT_EQ(Q7M_GetLastError(), 0xBEEFu);
    lib.GetRecordLength(handle);
    lib.Lock(handle);
    lib.Output(handle, "x", 1);
    lib.Outputf(handle, "y");
    lib.UnLock(handle);
    EXPECT_EQ(Q7M_GetLastError(), 0xBEEFu);
  }
  // A successful initialisation leaves it too.
  Q7M_SetLastError(0xBEEF);
  OpenHandle(d.ini);
  EXPECT_EQ(Q7M_GetLastError(), 0xBEEFu);
}

TEST(RecordWriting, GetIntegerReadsTheModuleSection) {
  auto& lib = Scribel();
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, 20, 10, "TRACE=0x8\n[WITH]\nTRACE=0x10\nOTHER=31\n"));
  SCRIBEL_HANDLE with = OpenHandle(d.ini, "WITH");
  EXPECT_EQ(lib.GetInteger(with, nullptr), 0x10u);
  EXPECT_EQ(lib.GetInteger(with, "TRACE"), 0x10u);
  EXPECT_EQ(lib.GetInteger(with, "OTHER"), 31u);
  EXPECT_EQ(lib.GetInteger(with, "MISSING"), 0u);
  // A module without a section gets 0, not the library's TRACE value.
  SCRIBEL_HANDLE without = OpenHandle(d.ini, "WITHOUT");
  EXPECT_EQ(lib.GetInteger(without, nullptr), 0u);
}

TEST(RecordWriting, LibraryTraceBitOneRecordsEachInitialisation) {
  auto& lib = Scribel();
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, 200, 10, "TRACE=1\n"));
  SCRIBEL_HANDLE h = OpenHandle(d.ini, "RDAX");
  SCRIBEL_HANDLE noName = OpenHandle(d.ini, nullptr);
  auto ring = ReadRing(d.trace, 200);
  ASSERT_EQ(ring.size(), 2u);
  char expected[512];
  std::snprintf(expected, sizeof expected, "T:SCRIBEL_Initialize Q1=0x%02lX P1=%s P2=%s",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(h)), d.ini.c_str(), "RDAX");
  EXPECT_EQ(Trimmed(ring[0].text), expected);
  std::snprintf(expected, sizeof expected, "T:SCRIBEL_Initialize Q1=0x%02lX P1=%s P2=(null)",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(noName)), d.ini.c_str());
  EXPECT_EQ(Trimmed(ring[1].text), expected);
  // Without a module name the library's own section is the module's.
  EXPECT_EQ(lib.GetInteger(noName, nullptr), 1u);
}

TEST(RecordWriting, VariableArgumentListFormIsTheSameAsOutputf) {
  auto& lib = Scribel();
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, 40, 10));
  SCRIBEL_HANDLE h = OpenHandle(d.ini);
  auto viaList = [&](const char* format, ...) {
    va_list args;
    va_start(args, format);
    lib.vOutputf(h, format, args);
    va_end(args);
  };
  viaList("P1=0x%08lX P2=%s", 0x1Ful, "two");
  lib.Outputf(h, "P1=0x%08lX P2=%s", 0x1Ful, "two");
  auto ring = ReadRing(d.trace, 40);
  ASSERT_EQ(ring.size(), 2u);
  EXPECT_EQ(Trimmed(ring[0].text), "P1=0x0000001F P2=two");
  EXPECT_EQ(ring[0].text, ring[1].text);
}

// Writes two records, then one while the file may not grow past them, then
// one more once it may again. Runs in its own process: it changes the
// process's file-size limit.
Q7M_CHILD(write_past_size_limit) {
  std::signal(SIGXFSZ, SIG_IGN);  // a refused write fails instead of ending us
  auto& lib = Scribel();
  SCRIBEL_HANDLE h = nullptr;
  if (lib.Initialize(&h, args[0].c_str(), "TESTMOD") != 1) return 11;
  lib.Outputf(h, "a");
  lib.Outputf(h, "b");
  rlimit saved{};
  if (getrlimit(RLIMIT_FSIZE, &saved) != 0) return 12;
  rlimit two = saved;
  two.rlim_cur = 2 * (20 + 42);
  if (setrlimit(RLIMIT_FSIZE, &two) != 0) return 13;
  Q7M_SetLastError(777);
  lib.Outputf(h, "lost");
  if (Q7M_GetLastError() != 777) return 14;
  if (setrlimit(RLIMIT_FSIZE, &saved) != 0) return 15;
  lib.Outputf(h, "c");
  return 0;
}

TEST(RecordWriting, AFailedWriteLeavesTheRingAsItWas) {
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, 20, 10));
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("write_past_size_limit", {d.ini}));
  ASSERT_EQ(child.Wait(), 0);
  // The lost record took neither a slot nor a sequence number.
  auto ring = ReadRing(d.trace, 20);
  ASSERT_EQ(ring.size(), 3u);
  EXPECT_EQ(Trimmed(ring[1].text), "b");
  EXPECT_EQ(Trimmed(ring[2].text), "c");
  EXPECT_EQ(ring[2].header.sequence, 2u);
  EXPECT_TRUE(ring[2].whole);
}

}  // namespace
