// The record layout the writer and the readers share.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "q7m/trace/record_layout.h"

// Results are compared with printf using the directive shapes the trace
// lines use, some of which GCC reports as having a redundant flag.
#pragma GCC diagnostic ignored "-Wformat"

namespace {

using namespace q7m::trace;

std::string HeaderOf(const RecordHeader& h) {
  char out[kHeaderLength + 1] = {};
  FormatRecordHeader(h, out);
  return std::string(out, kHeaderLength);
}

TEST(RecordLayout, HeaderIsTheDocumentedFortyCharacters) {
  RecordHeader h;
  h.sequence = 0x00ABCD;
  h.year = 2024;
  h.month = 12;
  h.day = 31;
  h.hour = 23;
  h.minute = 5;
  h.second = 9;
  h.processId = 0x1A2B;
  h.threadId = 0xFFFFFFFF;
  char expected[64];
  std::snprintf(
      expected, sizeof expected, "%06.6lX,%04.4d%02.2d%02.2d%02.2d%02.2d%02.2d,%08.8lX,%08.8lX,",
      static_cast<unsigned long>(h.sequence), h.year, h.month, h.day, h.hour, h.minute, h.second,
      static_cast<unsigned long>(h.processId), static_cast<unsigned long>(h.threadId));
  EXPECT_EQ(HeaderOf(h), expected);
}

TEST(RecordLayout, OversizedFieldsCannotStretchTheHeader) {
  RecordHeader h;
  h.sequence = 0x1234567;  // more than 24 bits
  h.year = 65535;
  h.month = 255;
  EXPECT_EQ(HeaderOf(h).size(), kHeaderLength);
  EXPECT_EQ(HeaderOf(h).substr(0, 7), "234567,");
  RecordHeader parsed;
  EXPECT_TRUE(ParseRecordHeader(HeaderOf(h).c_str(), kHeaderLength, &parsed));
}

TEST(RecordLayout, ResumeRuleNeedsUpperHexSequenceAndDecimalTime) {
  uint32_t seq = 0;
  EXPECT_TRUE(ReadRecordSequence("00ABCD,20240101000000", 21, &seq));
  EXPECT_EQ(seq, 0xABCDu);
  // The separators are not part of the rule; the digits are.
  EXPECT_TRUE(ReadRecordSequence("FFFFFFx12345678901234", 21, &seq));
  EXPECT_EQ(seq, 0xFFFFFFu);
  EXPECT_FALSE(ReadRecordSequence("00abcd,20240101000000", 21, &seq));
  EXPECT_FALSE(ReadRecordSequence("00ABCD,2024010100000X", 21, &seq));
  EXPECT_FALSE(ReadRecordSequence("00ABCD,20240101000000", 20, &seq));
  EXPECT_FALSE(ReadRecordSequence(std::string(21, '\0').c_str(), 21, &seq));
  EXPECT_FALSE(ReadRecordSequence(nullptr, 21, &seq));
}

TEST(RecordLayout, StrictParseChecksSeparatorsAndIds) {
  const std::string good = "000001,20240102030405,0000ABCD,00000001,";
  RecordHeader h;
  ASSERT_TRUE(ParseRecordHeader(good.c_str(), good.size(), &h));
  EXPECT_EQ(h.sequence, 1u);
  EXPECT_EQ(h.year, 2024);
  EXPECT_EQ(h.second, 5);
  EXPECT_EQ(h.processId, 0xABCDu);
  std::string bad = good;
  bad[39] = ' ';
  EXPECT_FALSE(ParseRecordHeader(bad.c_str(), bad.size(), &h));
  bad = good;
  bad[25] = 'g';
  EXPECT_FALSE(ParseRecordHeader(bad.c_str(), bad.size(), &h));
  EXPECT_FALSE(ParseRecordHeader(good.c_str(), good.size() - 1, &h));
}

TEST(RecordLayout, SequenceNumbersFollowAcrossTheTopOf24Bits) {
  EXPECT_TRUE(SequenceFollows(0x000009, 0x00000A));
  EXPECT_TRUE(SequenceFollows(0xFFFFFF, 0x000000));
  EXPECT_FALSE(SequenceFollows(0x000009, 0x000009));
  EXPECT_FALSE(SequenceFollows(0x000009, 0x00000B));
  EXPECT_FALSE(SequenceFollows(0x000000, 0xFFFFFF));
}

std::string Record(uint32_t seq) {
  RecordHeader h;
  h.sequence = seq;
  h.year = 2024;
  h.month = 1;
  h.day = 1;
  return HeaderOf(h) + "text\r\n";
}

TEST(RecordLayout, RunScannerFollowsTheRunFromSlotZero) {
  SequenceRunScanner empty;
  EXPECT_EQ(empty.length(), 0u);
  EXPECT_EQ(empty.nextSequence(), 0u);

  SequenceRunScanner run;
  for (uint32_t seq : {0xFFFFFEu, 0xFFFFFFu, 0x000000u}) {
    std::string r = Record(seq);
    EXPECT_TRUE(run.Accept(r.data(), r.size()));
  }
  std::string gap = Record(0x000002);
  EXPECT_FALSE(run.Accept(gap.data(), gap.size()));
  // Once ended, the run stays ended even if a later record would follow.
  std::string next = Record(0x000001);
  EXPECT_FALSE(run.Accept(next.data(), next.size()));
  EXPECT_EQ(run.length(), 3u);
  EXPECT_EQ(run.nextSequence(), 1u);
}

}  // namespace
