// Where a ring continues: the position is rebuilt from the records in the
// file by the first writer, and shared by every later one.
#include <gtest/gtest.h>

#include "q7m_test.h"
#include "scribel_test_support.h"

namespace {

using namespace scribeltest;
constexpr uint32_t kLength = 30;

// Seeds the trace file of a fresh directory, opens a handle on it and
// writes one record "probe"; returns the ring as stored then.
std::vector<StoredRecord> ProbeAfterSeeding(const std::string& seed, uint32_t maxRecords,
                                            std::string* tracePath = nullptr) {
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, kLength, maxRecords));
  q7mtest::WriteFile(d.trace, seed);
  SCRIBEL_HANDLE h = OpenHandle(d.ini);
  Scribel().Outputf(h, "probe");
  if (tracePath) *tracePath = d.trace;
  return ReadRing(d.trace, kLength);
}

// The slot holding the record "probe" (-1 when none).
int ProbeSlot(const std::vector<StoredRecord>& ring) {
  for (size_t i = 0; i < ring.size(); ++i) {
    if (Trimmed(ring[i].text) == "probe") return static_cast<int>(i);
  }
  return -1;
}

TEST(RingResume, NewFileStartsAtSlotZeroWithSequenceZero) {
  Q7M_SYSTEMTIME before;
  Q7M_GetLocalTime(&before);
  auto ring = ProbeAfterSeeding("", 100);
  Q7M_SYSTEMTIME after;
  Q7M_GetLocalTime(&after);
  ASSERT_EQ(ring.size(), 1u);
  const auto& r = ring[0];
  ASSERT_TRUE(r.whole);
  EXPECT_EQ(r.header.sequence, 0u);
  EXPECT_EQ(r.header.processId, Q7M_GetCurrentProcessId());
  EXPECT_EQ(r.header.threadId, Q7M_GetCurrentThreadId());
  // Compared as whole YYYYMMDDhhmm numbers, so a month or year that ends
  // between the two readings of the clock does not upset the order.
  auto minutes = [](uint64_t y, uint64_t mo, uint64_t d, uint64_t h, uint64_t m) {
    return (((y * 100 + mo) * 100 + d) * 100 + h) * 100 + m;
  };
  uint64_t stamp =
      minutes(r.header.year, r.header.month, r.header.day, r.header.hour, r.header.minute);
  EXPECT_GE(stamp, minutes(before.wYear, before.wMonth, before.wDay, before.wHour, before.wMinute));
  EXPECT_LE(stamp, minutes(after.wYear, after.wMonth, after.wDay, after.wHour, after.wMinute));
  EXPECT_EQ(r.text, "probe" + std::string(kLength - 5, ' '));
}

TEST(RingResume, ContinuesAfterTheUnbrokenRunFromSlotZero) {
  // Slots 0 to 9 hold 00000A to 000013, nothing after them.
  auto ring = ProbeAfterSeeding(SeedRun(kLength, 0x0A, 10), 100);
  ASSERT_EQ(ProbeSlot(ring), 10);
  EXPECT_EQ(ring[10].header.sequence, 0x14u);
  EXPECT_EQ(ring[9].header.sequence, 0x13u);  // untouched
}

TEST(RingResume, WrappedRingContinuesAtItsOldestSlot) {
  // 0003E8..0003EC in slots 0-4, older 0001ED.. from slot 5.
  auto ring = ProbeAfterSeeding(SeedRun(kLength, 0x3E8, 5) + SeedRun(kLength, 0x1ED, 5), 10);
  ASSERT_EQ(ProbeSlot(ring), 5);
  EXPECT_EQ(ring[5].header.sequence, 0x3EDu);
  EXPECT_EQ(ring[6].header.sequence, 0x1EEu);
}

TEST(RingResume, RunThroughFFFFFFToZeroIsUnbroken) {
  auto ring = ProbeAfterSeeding(SeedRun(kLength, 0xFFFFFE, 4), 100);
  ASSERT_EQ(ProbeSlot(ring), 4);
  EXPECT_EQ(ring[4].header.sequence, 2u);
}

TEST(RingResume, FullRingOfOneRunGoesBackToSlotZero) {
  std::string trace;
  auto ring = ProbeAfterSeeding(SeedRun(kLength, 0x20, 5), 5, &trace);
  ASSERT_EQ(ProbeSlot(ring), 0);
  EXPECT_EQ(ring[0].header.sequence, 0x25u);
  EXPECT_EQ(ring.size(), 5u);  // the file does not grow
}

TEST(RingResume, ARecordCutByACrashIsAnEmptySlotWhereTheRingResumes) {
  // Three whole records, then the first bytes of a fourth: cut inside its
  // header, right after the header, and one byte short of the whole record.
  const std::string whole = SeedRun(kLength, 1, 4);
  const size_t size = whole.size() / 4;
  for (size_t cut : {size_t{30}, size_t{40}, size - 1}) {
    SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
    auto ring = ProbeAfterSeeding(whole.substr(0, 3 * size + cut), 100);
    ASSERT_EQ(ProbeSlot(ring), 3);
    EXPECT_EQ(ring[3].header.sequence, 4u);
    EXPECT_TRUE(ring[3].whole);
    EXPECT_EQ(ring.size(), 4u);
  }
}

TEST(RingResume, ADamagedOrForeignStartBeginsAFreshRing) {
  auto ring = ProbeAfterSeeding("this is not a trace ring at all, just text....\r\n", 100);
  ASSERT_EQ(ProbeSlot(ring), 0);
  EXPECT_EQ(ring[0].header.sequence, 0u);
}

TEST(RingResume, WhatLiesBeyondTheRingIsLeftAlone) {
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, kLength, 3));
  const std::string tail = SeedRecord(kLength, 0x700, "beyond") + "trailing bytes";
  q7mtest::WriteFile(d.trace, SeedRun(kLength, 0x10, 3) + tail);
  SCRIBEL_HANDLE h = OpenHandle(d.ini);
  for (int i = 0; i < 7; ++i) Scribel().Outputf(h, "n%d", i);
  std::string bytes = q7mtest::ReadFile(d.trace);
  const size_t size = kLength + 42;
  ASSERT_EQ(bytes.size(), 3 * size + tail.size());
  EXPECT_EQ(bytes.substr(3 * size), tail);
  auto ring = ReadRing(d.trace, kLength);
  EXPECT_EQ(Trimmed(ring[0].text), "n6");
  EXPECT_EQ(ring[0].header.sequence, 0x19u);
}

// A child that writes `count` records "<tag><n>" on the ring of INI
// args[0] and ends (taking the last handle on the ring with it).
Q7M_CHILD(write_and_exit) {
  auto& lib = Scribel();
  if (!lib.loaded()) return 10;
  SCRIBEL_HANDLE h = nullptr;
  if (lib.Initialize(&h, args[0].c_str(), "TESTMOD") != 1) return 11;
  int count = std::stoi(args[2]);
  for (int i = 0; i < count; ++i) lib.Outputf(h, "%s%d", args[1].c_str(), i);
  return 0;
}

TEST(RingResume, NextProcessContinuesWhereTheLastOneStopped) {
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, kLength, 4));
  for (const char* tag : {"first", "second"}) {
    q7mtest::ChildProcess child;
    ASSERT_TRUE(child.Start("write_and_exit", {d.ini, tag, "3"}));
    ASSERT_EQ(child.Wait(), 0);
  }
  // The ring block disappeared with the first process; the second one
  // rebuilt the position from the file and wrapped at four records.
  auto ring = ReadRing(d.trace, kLength);
  ASSERT_EQ(ring.size(), 4u);
  EXPECT_EQ(Trimmed(ring[3].text), "second0");
  EXPECT_EQ(ring[3].header.sequence, 3u);
  EXPECT_EQ(Trimmed(ring[0].text), "second1");
  EXPECT_EQ(ring[0].header.sequence, 4u);
  EXPECT_EQ(Trimmed(ring[1].text), "second2");
  EXPECT_EQ(ring[1].header.sequence, 5u);
  EXPECT_EQ(Trimmed(ring[2].text), "first2");
}

TEST(RingResume, ARingWithoutWritersIsRebuiltFromTheFileByTheNextOne) {
  TraceDir d = MakeTraceDir("");
  q7mtest::WriteFile(d.ini, BasicIni(d.trace, kLength, 10));
  q7mtest::ChildProcess first;
  ASSERT_TRUE(first.Start("write_and_exit", {d.ini, "first", "3"}));
  ASSERT_EQ(first.Wait(), 0);
  // With no writer left the ring's shared state is gone, so the next writer
  // must take its position from what the file holds now, not from where
  // the last writer stopped.
  q7mtest::WriteFile(d.trace, SeedRun(kLength, 0x50, 2));
  q7mtest::ChildProcess second;
  ASSERT_TRUE(second.Start("write_and_exit", {d.ini, "second", "1"}));
  ASSERT_EQ(second.Wait(), 0);
  auto ring = ReadRing(d.trace, kLength);
  ASSERT_EQ(ring.size(), 3u);
  EXPECT_EQ(Trimmed(ring[2].text), "second0");
  EXPECT_EQ(ring[2].header.sequence, 0x52u);
}

}  // namespace
