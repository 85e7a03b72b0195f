// Report lengths from report descriptors: real descriptors kept as test
// data, and the structural faults a device (or a broken descriptor file)
// can present.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "report_descriptor.h"

namespace {

using q7m::hid::DescriptorError;
using q7m::hid::ParseReportDescriptor;
using q7m::hid::ReportLayout;

std::vector<uint8_t> LoadHex(const std::string& name) {
  std::ifstream file(std::string(Q7M_HID_TEST_DATA) + "/" + name);
  EXPECT_TRUE(file) << name;
  std::vector<uint8_t> bytes;
  for (std::string line; std::getline(file, line);) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    for (std::string word; words >> word;)
      bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
  }
  return bytes;
}

DescriptorError Parse(const std::vector<uint8_t>& bytes, ReportLayout* layout) {
  return ParseReportDescriptor(bytes.data(), bytes.size(), layout);
}

struct RealDescriptor {
  const char* file;
  uint16_t input, output, feature, usagePage, usage;
  bool numbered;
};

TEST(ReportDescriptor, RealDescriptorsGiveTheLengthsOfTheSystemsHidParser) {
  const RealDescriptor cases[] = {
      // 8 input bytes, 1 output byte, each with the (zero) report id byte.
      {"boot_keyboard.hex", 9, 2, 0, 0x01, 0x06, false},
      // 3 input bytes across a nested physical collection.
      {"boot_mouse.hex", 4, 0, 0, 0x01, 0x02, false},
      {"vendor_64_byte.hex", 65, 65, 0, 0xFF00, 0x01, false},
      // Numbered: the longest of reports 1 (8 bytes) and 2 (2 bytes).
      {"keyboard_with_consumer_keys.hex", 9, 0, 0, 0x01, 0x06, true},
      // Report 9 is the largest of the reader's report size table.
      {"emulated_reader.hex", 2068, 2068, 0, 0xFF00, 0x01, true},
  };
  for (const RealDescriptor& c : cases) {
    SCOPED_TRACE(c.file);
    ReportLayout layout;
    ASSERT_EQ(Parse(LoadHex(c.file), &layout), DescriptorError::kNone);
    EXPECT_EQ(layout.inputLength, c.input);
    EXPECT_EQ(layout.outputLength, c.output);
    EXPECT_EQ(layout.featureLength, c.feature);
    EXPECT_EQ(layout.usagePage, c.usagePage);
    EXPECT_EQ(layout.usage, c.usage);
    EXPECT_EQ(layout.numbered, c.numbered);
  }
}

TEST(ReportDescriptor, ACutInsideACollectionIsRefused) {
  // A descriptor read short must never make the parser read past the end
  // (the sanitizers watch) nor pass for whole while a collection is open.
  // Before the first collection opens, a cut leaves whole global items.
  for (const char* file : {"boot_keyboard.hex", "boot_mouse.hex", "emulated_reader.hex"}) {
    const std::vector<uint8_t> bytes = LoadHex(file);
    const size_t firstCollection =
        static_cast<size_t>(std::find(bytes.begin(), bytes.end(), uint8_t{0xA1}) - bytes.begin());
    for (size_t cut = firstCollection + 1; cut < bytes.size(); ++cut) {
      std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<long>(cut));
      ReportLayout layout;
      EXPECT_NE(Parse(part, &layout), DescriptorError::kNone) << file << " cut at " << cut;
    }
  }
  // Cut between its two application collections, the composite keyboard
  // is a keyboard alone.
  std::vector<uint8_t> bytes = LoadHex("keyboard_with_consumer_keys.hex");
  bytes.resize(
      static_cast<size_t>(std::find(bytes.begin(), bytes.end(), uint8_t{0xC0}) - bytes.begin()) +
      1);
  ReportLayout layout;
  ASSERT_EQ(Parse(bytes, &layout), DescriptorError::kNone);
  EXPECT_EQ(layout.inputLength, 9);
  EXPECT_TRUE(layout.numbered);
}

TEST(ReportDescriptor, StructuralFaults) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    DescriptorError expected;
  };
  const Case cases[] = {
      {"item data beyond the end", {0xA1, 0x01, 0x26, 0xFF}, DescriptorError::kTruncated},
      {"four-byte item cut", {0x97, 0x01, 0x02}, DescriptorError::kTruncated},
      {"long item cut", {0xFE, 0x05, 0x10, 0x01}, DescriptorError::kTruncated},
      {"long item header cut", {0xFE, 0x05}, DescriptorError::kTruncated},
      {"report id 0", {0x85, 0x00}, DescriptorError::kBadReportId},
      {"report id 256", {0x86, 0x00, 0x01}, DescriptorError::kBadReportId},
      {"pop without push", {0xB4}, DescriptorError::kStackUnderflow},
      {"end collection alone", {0xC0}, DescriptorError::kUnbalanced},
      {"collection left open",
       {0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02},
       DescriptorError::kUnbalanced},
  };
  for (const Case& c : cases) {
    ReportLayout layout;
    layout.inputLength = 77;
    EXPECT_EQ(Parse(c.bytes, &layout), c.expected) << c.what;
    EXPECT_EQ(layout.inputLength, 77) << c.what << ": the layout is left alone on failure";
  }
  std::vector<uint8_t> pushes(9, 0xA4);
  ReportLayout layout;
  EXPECT_EQ(Parse(pushes, &layout), DescriptorError::kStackOverflow);
}

TEST(ReportDescriptor, ReportsLongerThanASixteenBitLengthAreRefused) {
  // 65534 data bytes plus the id byte is the longest length there is.
  auto input = [](uint32_t count) {
    return std::vector<uint8_t>{0xA1,
                                0x01,
                                0x75,
                                0x08,
                                0x97,
                                static_cast<uint8_t>(count),
                                static_cast<uint8_t>(count >> 8),
                                static_cast<uint8_t>(count >> 16),
                                static_cast<uint8_t>(count >> 24),
                                0x81,
                                0x02,
                                0xC0};
  };
  ReportLayout layout;
  ASSERT_EQ(Parse(input(65534), &layout), DescriptorError::kNone);
  EXPECT_EQ(layout.inputLength, 65535);
  EXPECT_EQ(Parse(input(65535), &layout), DescriptorError::kReportTooLong);
  // A size times count that would overflow 32 bits.
  const std::vector<uint8_t> huge{0xA1, 0x01, 0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97,
                                  0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02, 0xC0};
  EXPECT_EQ(Parse(huge, &layout), DescriptorError::kReportTooLong);
}

TEST(ReportDescriptor, GlobalStateAcrossPushPopAndReportIds) {
  // Report 1 input: 4 bytes; Push, report 2 with 16-bit fields, 3 of them
  // (6 bytes); Pop returns to report 1 with 8-bit fields: 2 more bytes
  // (6 in all). A vendor long item in between is skipped. Partial bytes
  // round up: 3 bits of feature make one byte.
  const std::vector<uint8_t> bytes{
      0x06, 0x00, 0xFF, 0x0B, 0x02, 0x00, 0x01, 0xFF,  // usage page, four-byte usage (page 0xFF01)
      0xA1, 0x01,                                      // application collection
      0x85, 0x01, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02,  // report 1: 4 x 8 bits in
      0xA4,                                            // push
      0x85, 0x02, 0x75, 0x10, 0x95, 0x03, 0x81, 0x02,  // report 2: 3 x 16 bits in
      0xFE, 0x02, 0x77, 0xAA, 0xBB,                    // long item
      0xB4,                                            // pop: report 1, 8 bits, count 4
      0x95, 0x02, 0x81, 0x02,                          // report 1: 2 more bytes
      0x75, 0x01, 0x95, 0x03, 0xB1, 0x02,              // report 1 feature: 3 bits
      0xC0};
  ReportLayout layout;
  ASSERT_EQ(Parse(bytes, &layout), DescriptorError::kNone);
  EXPECT_EQ(layout.inputLength, 7);
  EXPECT_EQ(layout.outputLength, 0);
  EXPECT_EQ(layout.featureLength, 2);
  EXPECT_TRUE(layout.numbered);
  EXPECT_EQ(layout.usagePage, 0xFF01);
  EXPECT_EQ(layout.usage, 0x0002);
}

TEST(ReportDescriptor, AnEmptyDescriptorHasNoReports) {
  ReportLayout layout;
  ASSERT_EQ(ParseReportDescriptor(nullptr, 0, &layout), DescriptorError::kNone);
  EXPECT_EQ(layout.inputLength, 0);
  EXPECT_EQ(layout.outputLength, 0);
  EXPECT_FALSE(layout.numbered);
}

}  // namespace
