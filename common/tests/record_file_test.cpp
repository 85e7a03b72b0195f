// The record file: created on open, records by number, both the seek-based
// and the positioned forms, and failures reported as 1000.
#include <gtest/gtest.h>

#include <string>

#include "q7m/common/cls_record_file.h"
#include "q7m/common/results.h"
#include "q7m_test.h"

namespace {

using q7m::clsRecordFile;
using q7m::kOk;
using q7m::kSystemFailure;

constexpr uint32_t kRW = Q7M_GENERIC_READ | Q7M_GENERIC_WRITE;
constexpr uint32_t kShare = Q7M_FILE_SHARE_READ | Q7M_FILE_SHARE_WRITE;

std::string Record(char c) {
  return std::string(16, c);
}

TEST(RecordFileTest, RecordsAreWrittenAndReadByNumber) {
  std::string path = q7mtest::MakeTempDir("rec") + "/ring.trc";
  clsRecordFile file(16);
  ASSERT_EQ(file.Open(path.c_str(), kRW, kShare), kOk);  // created
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(file.recordSize(), 16u);

  ASSERT_EQ(file.Seek(2), kOk);
  ASSERT_EQ(file.Write(Record('c').data(), 16), kOk);
  ASSERT_EQ(file.WriteRecordAt(0, Record('a').data(), 16), kOk);
  ASSERT_EQ(file.Write(Record('d').data(), 16), kOk);  // the pointer moved on to record 3
  ASSERT_EQ(file.WriteRecordAt(1, Record('b').data(), 16), kOk);
  uint64_t size = 0;
  ASSERT_EQ(file.Size(&size), kOk);
  EXPECT_EQ(size, 64u);
  EXPECT_EQ(file.Flush(), kOk);

  char buf[32];
  uint32_t n = 0;
  ASSERT_EQ(file.Seek(1), kOk);
  ASSERT_EQ(file.Read(buf, 32, &n), kOk);
  EXPECT_EQ(std::string(buf, n), Record('b') + Record('c'));
  ASSERT_EQ(file.ReadRecordAt(3, buf, 32, &n), kOk);
  EXPECT_EQ(std::string(buf, n), Record('d'));  // short at end of file
  ASSERT_EQ(file.ReadRecordAt(9, buf, 16, &n), kOk);
  EXPECT_EQ(n, 0u);

  // Reopening keeps the content (open-always, no truncation).
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  ASSERT_EQ(file.Open(path.c_str(), Q7M_GENERIC_READ, kShare), kOk);
  ASSERT_EQ(file.ReadRecordAt(0, buf, 16, &n), kOk);
  EXPECT_EQ(std::string(buf, n), Record('a'));
  // ... and a read-only file refuses writes.
  EXPECT_EQ(file.Write(Record('x').data(), 16), kSystemFailure);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
  EXPECT_EQ(file.WriteRecordAt(0, Record('x').data(), 16), kSystemFailure);
}

TEST(RecordFileTest, ClosedOrUnopenableFilesFailWith1000) {
  clsRecordFile file(8);
  char buf[8];
  uint32_t n = 7;
  uint64_t size = 0;
  EXPECT_EQ(file.Seek(0), kSystemFailure);
  EXPECT_EQ(file.Read(buf, 8, &n), kSystemFailure);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(file.Write(buf, 8), kSystemFailure);
  EXPECT_EQ(file.ReadRecordAt(0, buf, 8, &n), kSystemFailure);
  EXPECT_EQ(file.WriteRecordAt(0, buf, 8), kSystemFailure);
  EXPECT_EQ(file.Flush(), kSystemFailure);
  EXPECT_EQ(file.Size(&size), kSystemFailure);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);

  std::string missingDir = q7mtest::ScratchDir() + "/no/such/dir/f";
  EXPECT_EQ(file.Open(missingDir.c_str(), kRW, kShare), kSystemFailure);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(file.IsOpen());

  // Closing keeps the last error for the caller to report.
  std::string path = q7mtest::MakeTempDir("rec") + "/f";
  ASSERT_EQ(file.Open(path.c_str(), kRW, kShare), kOk);
  Q7M_SetLastError(Q7M_ERROR_DISK_FULL);
  file.Close();
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_DISK_FULL);
}

TEST(RecordFileTest, LargeRecordNumbersDoNotWrapThePosition) {
  std::string path = q7mtest::MakeTempDir("rec") + "/sparse";
  clsRecordFile file(4096);
  ASSERT_EQ(file.Open(path.c_str(), kRW, kShare), kOk);
  // Record 2^20 of 4 KiB lies at 4 GiB: beyond 32 bits.
  ASSERT_EQ(file.WriteRecordAt(1u << 20, "end", 3), kOk);
  uint64_t size = 0;
  ASSERT_EQ(file.Size(&size), kOk);
  EXPECT_EQ(size, (uint64_t{1} << 32) + 3);
}

}  // namespace
