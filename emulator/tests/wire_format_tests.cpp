// The link layouts from the reader's side: serial frames and HID reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid_report.h"
#include "serial_frame.h"
#include "sim_host.h"

namespace q7msim {
namespace {

using Event = FrameReceiver::Event;

// Feeds bytes and collects the events the receiver reports.
std::vector<Event> FeedAll(FrameReceiver& receiver, const std::string& bytes) {
  std::vector<Event> events;
  for (char c : bytes) {
    Event e = receiver.Feed(static_cast<uint8_t>(c));
    if (e != Event::kNone) events.push_back(e);
  }
  return events;
}

TEST(SerialFrame, EncodeDoublesDleAndChecksEachDleOnce) {
  const std::string message("C\x10x\x10\x10", 5);
  uint8_t out[64];
  size_t n = EncodeFrame(reinterpret_cast<const uint8_t*>(message.data()), message.size(), out,
                         sizeof out);
  std::string frame(reinterpret_cast<char*>(out), n);
  // The host-side encoder of the tests is written independently.
  EXPECT_EQ(frame, simtest::SerialHost::Frame(message));
  EXPECT_EQ(frame.substr(0, 10), std::string("\x10\x02"
                                             "C\x10\x10x\x10\x10\x10\x10",
                                             10));
  uint8_t check = 'C' ^ 0x10 ^ 'x' ^ 0x10 ^ 0x10 ^ 0x03;
  EXPECT_EQ(static_cast<uint8_t>(frame.back()), check);
}

TEST(SerialFrame, EncodeRefusesTooSmallBufferAndCanCorruptTheCheck) {
  const uint8_t message[] = {'P', '0', '0'};
  uint8_t small[7];
  EXPECT_EQ(EncodeFrame(message, 3, small, sizeof small), 0u);
  uint8_t good[16], bad[16];
  size_t n = EncodeFrame(message, 3, good, sizeof good);
  ASSERT_EQ(EncodeFrame(message, 3, bad, sizeof bad, true), n);
  EXPECT_NE(good[n - 1], bad[n - 1]);
  EXPECT_EQ(std::string(good, good + n - 1), std::string(bad, bad + n - 1));
}

TEST(SerialFrame, ReceiverTakesFramesAndControlSequences) {
  FrameReceiver r;
  std::string message(
      "C\x10"
      "00",
      4);
  EXPECT_EQ(FeedAll(r, "noise" + simtest::SerialHost::Frame(message)),
            std::vector<Event>{Event::kFrame});
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data()), r.size()), message);
  EXPECT_EQ(FeedAll(r, std::string("\x10\x05\x10\x04\x10\x06\x10\x15", 8)),
            (std::vector<Event>{Event::kEnq, Event::kEot, Event::kAck, Event::kNak}));
  // An empty frame is still a frame.
  EXPECT_EQ(FeedAll(r, simtest::SerialHost::Frame("")), std::vector<Event>{Event::kFrame});
  EXPECT_EQ(r.size(), 0u);
}

TEST(SerialFrame, ReceiverReportsDamagedFrames) {
  FrameReceiver r;
  EXPECT_EQ(FeedAll(r, simtest::SerialHost::Frame("C10", true)),
            std::vector<Event>{Event::kBadCheck});
  // DLE followed by neither DLE nor ETX inside the data.
  EXPECT_EQ(FeedAll(r, std::string("\x10\x02"
                                   "C1\x10"
                                   "A",
                                   6)),
            std::vector<Event>{Event::kGarbled});
  EXPECT_FALSE(r.inFrame());
  // DLE STX inside a frame starts over; the second frame counts.
  EXPECT_EQ(FeedAll(r, std::string("\x10\x02"
                                   "C1",
                                   4) +
                           simtest::SerialHost::Frame("C11")),
            (std::vector<Event>{Event::kRestart, Event::kFrame}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data()), r.size()), "C11");
}

TEST(SerialFrame, ReceiverRefusesMoreDataThanACommandHolds) {
  FrameReceiver r;
  std::string longest(kMaxCommandBytes, 'A');
  EXPECT_EQ(FeedAll(r, simtest::SerialHost::Frame(longest)), std::vector<Event>{Event::kFrame});
  EXPECT_EQ(r.size(), kMaxCommandBytes);
  // One byte more: the frame is read to its end and then refused as a whole.
  EXPECT_EQ(FeedAll(r, simtest::SerialHost::Frame(longest + "B")),
            std::vector<Event>{Event::kOverflow});
  EXPECT_FALSE(r.inFrame());
  EXPECT_EQ(FeedAll(r, simtest::SerialHost::Frame("C00")), std::vector<Event>{Event::kFrame});
}

TEST(HidReport, IdIsTheSmallestReportThatHoldsTheUsedLength) {
  // At every boundary of the size table, and both sides of it.
  const size_t sizes[] = {4, 12, 20, 36, 76, 140, 268, 372, 2068};
  for (unsigned id = 1; id <= 9; ++id) {
    EXPECT_EQ(ReportSize(id), sizes[id - 1]);
    EXPECT_EQ(ReportIdFor(sizes[id - 1]), id);
    if (id < 9) {
      EXPECT_EQ(ReportIdFor(sizes[id - 1] + 1), id + 1);
    }
  }
  EXPECT_EQ(ReportIdFor(3), 1u);     // an empty message
  EXPECT_EQ(ReportIdFor(5000), 9u);  // nothing larger than id 9 exists
  EXPECT_EQ(ReportSize(0), 0u);
  EXPECT_EQ(ReportSize(10), 0u);
  EXPECT_TRUE(IsReportSize(268));
  EXPECT_FALSE(IsReportSize(300));
}

TEST(HidReport, InputReportLayoutsBySizeAndForm) {
  std::vector<uint8_t> out(2068, 0xEE);
  bool cut = true;
  // 369 bytes: used 372, the largest that still fits id 8.
  std::vector<uint8_t> message(369, 'x');
  ASSERT_EQ(
      BuildInputReport(message.data(), message.size(), InputForm::kNormal, out.data(), 2068, &cut),
      2068u);
  EXPECT_FALSE(cut);
  EXPECT_EQ(out[0], 8);
  EXPECT_EQ(out[1], 0x01);
  EXPECT_EQ(out[2], 0x71);
  EXPECT_EQ(out[3 + 368], 'x');
  EXPECT_EQ(out[3 + 369], 0);  // zero padding, not left-over bytes
  EXPECT_EQ(out[2067], 0);

  const uint8_t e[] = {'E'};
  BuildInputReport(e, 1, InputForm::kZeroLength, out.data(), 2068, &cut);
  EXPECT_EQ((std::vector<uint8_t>(out.begin(), out.begin() + 4)),
            (std::vector<uint8_t>{1, 0, 0, 'E'}));
  BuildInputReport(e, 1, InputForm::kLongLength, out.data(), 268, &cut);
  EXPECT_EQ((out[1] << 8) | out[2], 268 - 3 + 1);
  BuildInputReport(e, 1, InputForm::kRawIdZero, out.data(), 2068, &cut);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 'E');

  // A response larger than the report is cut and says so.
  std::vector<uint8_t> big(300, 'y');
  BuildInputReport(big.data(), big.size(), InputForm::kNormal, out.data(), 268, &cut);
  EXPECT_TRUE(cut);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ((out[1] << 8) | out[2], 265);
}

TEST(HidReport, OutputReportsAreCheckedBeforeTheirMessageIsUsed) {
  OutputReport report;
  auto packet = [](std::vector<uint8_t> head, size_t total) {
    head.resize(total, 0);
    return head;
  };
  auto p = packet({1, 0, 1, 'C'}, 2068);
  EXPECT_EQ(ParseOutputReport(p.data(), p.size(), 2068, &report), nullptr);
  EXPECT_EQ(report.size, 1u);
  EXPECT_EQ(report.message[0], 'C');
  EXPECT_FALSE(report.idNotSmallest);

  // Zero-length message in report id 1 is valid (the reader answers it).
  p = packet({1, 0, 0}, 4);
  EXPECT_EQ(ParseOutputReport(p.data(), p.size(), 2068, &report), nullptr);
  EXPECT_EQ(report.size, 0u);

  // A needlessly large id is taken but noted.
  p = packet({9, 0, 1, 'C'}, 2068);
  EXPECT_EQ(ParseOutputReport(p.data(), p.size(), 2068, &report), nullptr);
  EXPECT_TRUE(report.idNotSmallest);

  const char* problem = nullptr;
  p = packet({1, 0, 2, 'C', 'x'}, 5);  // used 5 > size of id 1
  problem = ParseOutputReport(p.data(), p.size(), 2068, &report);
  EXPECT_NE(problem, nullptr);
  p = packet({0, 0, 1, 'C'}, 2068);
  EXPECT_NE(ParseOutputReport(p.data(), p.size(), 2068, &report), nullptr);
  p = packet({10, 0, 1, 'C'}, 2068);
  EXPECT_NE(ParseOutputReport(p.data(), p.size(), 2068, &report), nullptr);
  p = packet({9, 0x08, 0x02}, 2068);  // 2050 + 3 fits id 9 but...
  EXPECT_EQ(ParseOutputReport(p.data(), p.size(), 2068, &report), nullptr);
  p = packet({9, 0x08, 0x12}, 2068);  // 2066 + 3 > 2068
  EXPECT_NE(ParseOutputReport(p.data(), p.size(), 2068, &report), nullptr);
  p = packet({3, 0, 10}, 8);  // length beyond the bytes received
  EXPECT_NE(ParseOutputReport(p.data(), p.size(), 2068, &report), nullptr);
  p = packet({1, 0, 1, 'C'}, 2069);  // longer than the output report
  EXPECT_NE(ParseOutputReport(p.data(), p.size(), 2068, &report), nullptr);
  p = packet({1, 0}, 2);
  EXPECT_NE(ParseOutputReport(p.data(), p.size(), 2068, &report), nullptr);
}

// Walks the descriptor's items the way a HID parser does and returns the
// largest input and output report (count x size / 8 + id byte).
void ParseDescriptorLengths(const std::vector<uint8_t>& d, size_t* input, size_t* output) {
  size_t reportSize = 0, reportCount = 0;
  *input = *output = 0;
  for (size_t i = 0; i < d.size();) {
    uint8_t prefix = d[i];
    size_t len = prefix & 3;
    if (len == 3) len = 4;
    uint32_t value = 0;
    for (size_t k = 0; k < len; ++k) value |= static_cast<uint32_t>(d[i + 1 + k]) << (8 * k);
    uint8_t tag = prefix & 0xFC;
    if (tag == 0x74) reportSize = value;
    if (tag == 0x94) reportCount = value;
    size_t bytes = reportSize * reportCount / 8 + 1;
    if (tag == 0x80) *input = std::max(*input, bytes);
    if (tag == 0x90) *output = std::max(*output, bytes);
    i += 1 + len;
  }
}

TEST(HidReport, DescriptorDeclaresTheReportLengths) {
  uint8_t buffer[1024];
  for (auto [in, out] : {std::pair<size_t, size_t>{2068, 2068}, {268, 76}, {4, 4}}) {
    size_t n = BuildReportDescriptor(in, out, buffer, sizeof buffer);
    ASSERT_GT(n, 0u);
    size_t input = 0, output = 0;
    ParseDescriptorLengths(std::vector<uint8_t>(buffer, buffer + n), &input, &output);
    EXPECT_EQ(input, in);
    EXPECT_EQ(output, out);
  }
  EXPECT_EQ(BuildReportDescriptor(2068, 2068, buffer, 10), 0u);
}

}  // namespace
}  // namespace q7msim
