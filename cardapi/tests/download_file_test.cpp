// The download file's header: what is read from it and what is refused
// before a reader could hear of it.
#include <gtest/gtest.h>

#include <string>

#include "download_file.h"

namespace q7m::rdax {
namespace {

DownloadHeader Sample(uint32_t entries) {
  DownloadHeader h;
  h.number = 7;
  h.comment = "release build";
  h.image = {"Q7M-FW", "11", 0xCAFE0001};
  h.blockSize = 512;
  h.blockCount = 3;
  h.downloadText = "Q7M-FW      11";
  h.entryCount = entries;
  for (uint32_t i = 0; i < entries; ++i)
    h.entries[i] = {"MASK-" + std::to_string(i), "0" + std::to_string(i % 10), 0xABC000 + i};
  return h;
}

DownloadFileError Parse(const std::string& bytes, DownloadHeader* h) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  DownloadFileError e = ParseDownloadHead(data, bytes.size(), h);
  if (e != DownloadFileError::kNone) return e;
  e = ParseCompatibilityList(data + kDownloadHeadSize, bytes.size() - kDownloadHeadSize, h);
  if (e != DownloadFileError::kNone) return e;
  return CheckImageSize(*h, bytes.size());
}

TEST(DownloadFile, AFormattedHeaderReadsBackFieldByField) {
  std::string file, error;
  ASSERT_TRUE(FormatDownloadHeader(Sample(10), &file, &error)) << error;
  ASSERT_EQ(file.size(), kDownloadHeadSize + 200);
  EXPECT_EQ(file.substr(0, 10), "TALVOB0007");
  EXPECT_EQ(file.substr(288, 30), "05120003Q7M-FW      11      10");
  file += std::string(512 * 3, 'x');

  DownloadHeader h;
  ASSERT_EQ(Parse(file, &h), DownloadFileError::kNone);
  EXPECT_EQ(h.number, 7u);
  EXPECT_EQ(h.image.type, "Q7M-FW      ");
  EXPECT_EQ(h.image.sum, 0xCAFE0001u);
  EXPECT_EQ(h.blockSize, 512u);
  EXPECT_EQ(h.blockCount, 3u);
  EXPECT_EQ(h.downloadText, "Q7M-FW      11      ");
  ASSERT_EQ(h.entryCount, 10u);
  EXPECT_EQ(h.entries[9].type, "MASK-9      ");
  EXPECT_EQ(h.entries[9].revision, "09");
  EXPECT_EQ(h.entries[9].sum, 0xABC009u);
  EXPECT_EQ(ImageOffset(h), kDownloadHeadSize + 200);
}

TEST(DownloadFile, NumbersMayStartWithBlanksButNothingElseMayFollow) {
  std::string file, error;
  ASSERT_TRUE(FormatDownloadHeader(Sample(0), &file, &error)) << error;
  file += std::string(512 * 3, 'x');
  DownloadHeader h;
  file.replace(288, 4, " 512");
  EXPECT_EQ(Parse(file, &h), DownloadFileError::kNone);
  file.replace(288, 4, "512 ");
  EXPECT_EQ(Parse(file, &h), DownloadFileError::kNone);
  file.replace(288, 4, "5 12");
  EXPECT_EQ(Parse(file, &h), DownloadFileError::kBadBlockSize);
  file.replace(288, 4, "    ");
  EXPECT_EQ(Parse(file, &h), DownloadFileError::kBadBlockSize);
  file.replace(288, 4, "-512");
  EXPECT_EQ(Parse(file, &h), DownloadFileError::kBadBlockSize);
  file.replace(288, 4, "0512");
  file.replace(316, 2, "x1");
  EXPECT_EQ(Parse(file, &h), DownloadFileError::kBadEntryCount);
}

TEST(DownloadFile, DamageIsNamed) {
  std::string good, error;
  ASSERT_TRUE(FormatDownloadHeader(Sample(2), &good, &error)) << error;
  good += std::string(512 * 3, 'x');
  DownloadHeader h;
  const struct {
    size_t offset;
    std::string bytes;
    DownloadFileError error;
  } cases[] = {
      {0, "talvob", DownloadFileError::kBadMark},
      {288, "2049", DownloadFileError::kBadBlockSize},
      {288, "0000", DownloadFileError::kBadBlockSize},
      {292, "0000", DownloadFileError::kBadBlockCount},
      {296, std::string("TEXT\x07"), DownloadFileError::kBadDownloadText},
      {316, "11", DownloadFileError::kTooManyEntries},
      {318 + 14, "12345G", DownloadFileError::kBadEntry},
      {318 + 20 + 3, std::string(1, '\x1b'), DownloadFileError::kBadEntry},
  };
  for (const auto& c : cases) {
    std::string file = good;
    file.replace(c.offset, c.bytes.size(), c.bytes);
    EXPECT_EQ(Parse(file, &h), c.error) << c.offset << " " << c.bytes;
  }
  EXPECT_EQ(Parse(good.substr(0, 317), &h), DownloadFileError::kShortHeader);
  EXPECT_EQ(Parse(good.substr(0, 330), &h), DownloadFileError::kShortList);
  EXPECT_EQ(Parse(good.substr(0, good.size() - 1), &h), DownloadFileError::kShortImage);
  EXPECT_EQ(Parse(good + "trailer", &h), DownloadFileError::kNone) << "bytes after the image";
  EXPECT_STRNE(DescribeDownloadFileError(DownloadFileError::kShortImage), "unknown error");
}

TEST(DownloadFile, ANulEndsATextAndShortTextsAreSentRightAligned) {
  std::string file, error;
  ASSERT_TRUE(FormatDownloadHeader(Sample(0), &file, &error)) << error;
  file += std::string(512 * 3, 'x');
  file.replace(296, 20, std::string("SHORT\0garbage\x01\x02\x03\x04\x05\x06\x07", 20));
  DownloadHeader h;
  ASSERT_EQ(Parse(file, &h), DownloadFileError::kNone);
  EXPECT_EQ(h.downloadText, "SHORT");
  char field[20];
  PutField(field, sizeof field, h.downloadText);
  EXPECT_EQ(std::string(field, sizeof field), "               SHORT");
}

TEST(DownloadFile, FieldsThatDoNotFitAreNotWritten) {
  std::string file, error;
  DownloadHeader h = Sample(0);
  h.blockSize = 4096;
  EXPECT_FALSE(FormatDownloadHeader(h, &file, &error));
  h = Sample(1);
  h.entries[0].sum = 0x1000000;
  EXPECT_FALSE(FormatDownloadHeader(h, &file, &error));
  h = Sample(0);
  h.image.type = "THIRTEEN-CHAR";
  EXPECT_FALSE(FormatDownloadHeader(h, &file, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(file.empty());
}

}  // namespace
}  // namespace q7m::rdax
