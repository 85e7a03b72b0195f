// Several processes and threads on one ring: nothing lost, nothing torn,
// sequence numbers unique and consecutive, and records written under the
// ring lock kept together.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "q7m_test.h"
#include "scribel_test_support.h"

namespace {

using namespace scribeltest;

constexpr uint32_t kLength = 64;
constexpr int kThreads = 3;
constexpr int kRecordsPerThread = 150;
constexpr int kProcesses = 3;

// Every record names its writer and carries a check of itself, so a torn or
// mixed record cannot pass as whole.
void WriteMany(SCRIBEL_HANDLE h, int count) {
  const uint32_t pid = Q7M_GetCurrentProcessId();
  const uint32_t tid = Q7M_GetCurrentThreadId();
  for (int n = 0; n < count; ++n) {
    Scribel().Outputf(h, "W %08X %08X %05d %08X", pid, tid, n, (pid * 31 + tid) * 17 + n);
  }
}

void WriteFromThreads(SCRIBEL_HANDLE h) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(WriteMany, h, kRecordsPerThread);
  for (auto& t : threads) t.join();
}

Q7M_CHILD(ring_writer) {
  if (!Scribel().loaded()) return 10;
  SCRIBEL_HANDLE h = nullptr;
  if (Scribel().Initialize(&h, args[0].c_str(), "TESTMOD") != 1) return 11;
  q7mtest::Say("ready");
  std::string go;
  if (!q7mtest::Hear(&go)) return 12;
  WriteFromThreads(h);
  return 0;
}

// Starts the writers, lets all of them go at once, writes from this process
// too, and waits for them.
void RunWriters(const std::string& ini, SCRIBEL_HANDLE own) {
  std::vector<std::unique_ptr<q7mtest::ChildProcess>> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(std::make_unique<q7mtest::ChildProcess>());
    ASSERT_TRUE(children.back()->Start("ring_writer", {ini}));
  }
  for (auto& c : children) ASSERT_TRUE(c->Expect("ready"));
  for (auto& c : children) c->WriteLine("go");
  WriteFromThreads(own);
  for (auto& c : children) EXPECT_EQ(c->Wait(std::chrono::seconds(60)), 0);
}

// Checks the records' own contents and returns, per writer, the numbers it
// wrote in the order they appear.
std::map<std::pair<uint32_t, uint32_t>, std::vector<int>> CheckRecords(
    const std::vector<StoredRecord>& records) {
  std::map<std::pair<uint32_t, uint32_t>, std::vector<int>> byWriter;
  for (const auto& r : records) {
    EXPECT_TRUE(r.whole);
    unsigned pid = 0, tid = 0, check = 0;
    int n = -1;
    if (std::sscanf(r.text.c_str(), "W %08X %08X %05d %08X", &pid, &tid, &n, &check) != 4) {
      ADD_FAILURE() << "not a writer's record: " << r.text;
      continue;
    }
    EXPECT_EQ(pid, r.header.processId);
    EXPECT_EQ(tid, r.header.threadId);
    EXPECT_EQ(check, (pid * 31 + tid) * 17 + static_cast<unsigned>(n)) << r.text;
    byWriter[{pid, tid}].push_back(n);
  }
  return byWriter;
}

TEST(ConcurrentWriters, NoRecordIsLostOrTornAndSequencesAreConsecutive) {
  constexpr int kTotal = (kProcesses + 1) * kThreads * kRecordsPerThread;
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, kLength, kTotal + 100));
  SCRIBEL_HANDLE own = OpenHandle(d.ini);
  RunWriters(d.ini, own);

  auto records = ReadRing(d.trace, kLength);
  ASSERT_EQ(records.size(), static_cast<size_t>(kTotal));
  for (size_t slot = 0; slot < records.size(); ++slot) {
    ASSERT_EQ(records[slot].header.sequence, slot) << "slot " << slot;
  }
  auto byWriter = CheckRecords(records);
  EXPECT_EQ(byWriter.size(), static_cast<size_t>((kProcesses + 1) * kThreads));
  for (const auto& [writer, numbers] : byWriter) {
    ASSERT_EQ(numbers.size(), static_cast<size_t>(kRecordsPerThread));
    for (int n = 0; n < kRecordsPerThread; ++n) ASSERT_EQ(numbers[n], n);
  }
}

TEST(ConcurrentWriters, WrappedRingStaysOneUnbrokenRun) {
  constexpr uint32_t kRing = 500;  // far fewer slots than records
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, kLength, kRing));
  SCRIBEL_HANDLE own = OpenHandle(d.ini);
  RunWriters(d.ini, own);

  auto records = ReadRing(d.trace, kLength);
  ASSERT_EQ(records.size(), kRing);
  constexpr uint32_t kTotal = (kProcesses + 1) * kThreads * kRecordsPerThread;
  // The next record goes to slot kTotal % kRing; the ring holds the newest
  // kRing records in order from there.
  for (uint32_t i = 0; i < kRing; ++i) {
    uint32_t slot = (kTotal + i) % kRing;
    ASSERT_EQ(records[slot].header.sequence, kTotal - kRing + i) << "slot " << slot;
  }
  CheckRecords(records);
}

TEST(ConcurrentWriters, RecordsWrittenUnderTheLockStayTogether) {
  auto& lib = Scribel();
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, kLength, 100000));
  SCRIBEL_HANDLE own = OpenHandle(d.ini);
  std::thread grouped([&] {
    for (int g = 0; g < 100; ++g) {
      lib.Lock(own);
      lib.Outputf(own, "G %d a", g);
      lib.Lock(own);  // nests
      lib.Outputf(own, "G %d b", g);
      lib.UnLock(own);
      lib.Outputf(own, "G %d c", g);  // still held by the outer lock
      lib.UnLock(own);
    }
  });
  std::vector<std::unique_ptr<q7mtest::ChildProcess>> children;
  for (int p = 0; p < 2; ++p) {
    children.push_back(std::make_unique<q7mtest::ChildProcess>());
    ASSERT_TRUE(children.back()->Start("ring_writer", {d.ini}));
    ASSERT_TRUE(children.back()->Expect("ready"));
    children.back()->WriteLine("go");
  }
  WriteFromThreads(own);
  grouped.join();
  for (auto& c : children) EXPECT_EQ(c->Wait(std::chrono::seconds(60)), 0);

  auto records = ReadRing(d.trace, kLength);
  int groups = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    int g = -1;
    char part = 0;
    if (std::sscanf(records[i].text.c_str(), "G %d %c", &g, &part) != 2 || part != 'a') continue;
    ASSERT_LT(i + 2, records.size());
    EXPECT_EQ(Trimmed(records[i + 1].text), "G " + std::to_string(g) + " b");
    EXPECT_EQ(Trimmed(records[i + 2].text), "G " + std::to_string(g) + " c");
    ++groups;
  }
  EXPECT_EQ(groups, 100);
}

}  // namespace
