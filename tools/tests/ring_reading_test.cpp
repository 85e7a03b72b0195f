// Reading a ring: its record length, its slots, and the order across the wrap.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "q7m_test.h"
#include "ring_builder.h"
#include "ring_file.h"
#include "ring_order.h"

namespace {

using namespace q7m::traceview;
using q7mtest::MakeRecord;
using q7mtest::MakeRun;
using q7mtest::RecordFields;

std::string WriteRing(const std::string& bytes) {
  std::string path = q7mtest::MakeTempDir("ring") + "/trace.log";
  q7mtest::WriteFile(path, bytes);
  return path;
}

std::vector<std::string> TextsInOrder(const std::string& path) {
  RingFile file;
  std::string error;
  EXPECT_TRUE(file.Open(path, &error)) << error;
  EXPECT_TRUE(file.DetectLength(&error)) << error;
  std::vector<std::string> texts;
  ForEachRecord(file, FindRingOrder(file), [&](const TraceRecord& r) {
    std::string text(r.text);
    texts.push_back(text.substr(0, text.find_last_not_of(' ') + 1));
  });
  return texts;
}

TEST(RingLength, FoundForShortDefaultAndLongestRecords) {
  for (uint32_t length : {0u, 1u, 86u, 982u}) {
    std::string ring = MakeRun(length, 0, 3);
    EXPECT_EQ(DetectRecordLength(ring, ring.size()), length) << length;
  }
}

TEST(RingLength, TextsHoldingLineEndsDoNotMislead) {
  // Records written with raw bytes may hold CR LF and even header-like text.
  RecordFields tricky;
  tricky.text = "ab\r\n000001,20240501120000,00000100,00000101,x";
  std::string ring = MakeRecord(86, tricky);
  EXPECT_EQ(DetectRecordLength(ring, ring.size()), 86u);
  ring += MakeRun(86, 1, 2);
  EXPECT_EQ(DetectRecordLength(ring, ring.size()), 86u);
}

TEST(RingLength, NothingFoundInOtherFiles) {
  EXPECT_FALSE(DetectRecordLength("", 0));
  std::string text = "root:x:0:0:root:/root:/bin/bash\r\n";
  EXPECT_FALSE(DetectRecordLength(text, text.size()));
  std::string cut = MakeRun(86, 0, 1).substr(0, 100);
  EXPECT_FALSE(DetectRecordLength(cut, cut.size()));
}

TEST(RingFileErrors, MissingEmptyDirectoryAndForeignFilesAreExplained) {
  RingFile file;
  std::string error;
  EXPECT_FALSE(file.Open(q7mtest::ScratchDir() + "/none.log", &error));
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  EXPECT_FALSE(file.Open(q7mtest::ScratchDir(), &error));
  EXPECT_EQ(error, "is a directory");

  ASSERT_TRUE(file.Open(WriteRing(""), &error));
  EXPECT_FALSE(file.DetectLength(&error));
  EXPECT_EQ(error, "the ring is empty");

  ASSERT_TRUE(file.Open(WriteRing(std::string(500, 'x')), &error));
  EXPECT_FALSE(file.DetectLength(&error));
  EXPECT_NE(error.find("not a trace ring"), std::string::npos);
}

TEST(RingOrder, UnwrappedRingReadsFromSlotZero) {
  EXPECT_EQ(TextsInOrder(WriteRing(MakeRun(20, 0x0A, 3))),
            (std::vector<std::string>{"line 0", "line 1", "line 2"}));
}

TEST(RingOrder, WrappedRingStartsAtTheOldestRecord) {
  std::string ring = MakeRun(20, 0x3E8, 2, "new ") + MakeRun(20, 0x1ED, 3, "old ");
  EXPECT_EQ(TextsInOrder(WriteRing(ring)),
            (std::vector<std::string>{"old 0", "old 1", "old 2", "new 0", "new 1"}));
}

TEST(RingOrder, RunThroughTheTopOfTheSequenceRangeIsOneRun) {
  std::string ring = MakeRun(20, 0xFFFFFE, 4, "a ") + MakeRun(20, 0x000100, 2, "b ");
  EXPECT_EQ(TextsInOrder(WriteRing(ring)),
            (std::vector<std::string>{"b 0", "b 1", "a 0", "a 1", "a 2", "a 3"}));
}

TEST(RingOrder, DamagedSlotsAreSkippedAndCounted) {
  std::string ring = MakeRun(20, 5, 3);
  ring[62 + 3] = 'g';  // slot 1's sequence is no longer hex
  std::string path = WriteRing(ring + "partial record");
  RingFile file;
  std::string error;
  ASSERT_TRUE(file.Open(path, &error));
  ASSERT_TRUE(file.DetectLength(&error));
  EXPECT_EQ(file.SlotCount(), 3u);
  RingOrder order = FindRingOrder(file);
  EXPECT_EQ(order.oldest, 1u);
  std::vector<uint64_t> slots;
  uint64_t unusable =
      ForEachRecord(file, order, [&](const TraceRecord& r) { slots.push_back(r.slot); });
  EXPECT_EQ(unusable, 1u);
  EXPECT_EQ(slots, (std::vector<uint64_t>{2, 0}));
}

TEST(RingOrder, LargeRingsAreReadInBatches) {
  // More slots than one read batch holds.
  std::string ring = MakeRun(982, 100, 300, "n");
  ring = ring.substr(200 * 1024) + ring.substr(0, 200 * 1024);  // wrap it: 200 slots moved
  auto texts = TextsInOrder(WriteRing(ring));
  ASSERT_EQ(texts.size(), 300u);
  EXPECT_EQ(texts.front(), "n0");
  EXPECT_EQ(texts.back(), "n299");
}

}  // namespace
