// The USB side's pure logic: the search filter, what a device name asks
// for, the report id by size, reading an input report, and the 8-bit device
// strings.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_selector.h"
#include "hid_filter.h"
#include "hid_report.h"
#include "hid_text.h"

namespace {

using q7m::HidFilter;

HidFilter Filter(const char* text, const char* separators = " \t") {
  HidFilter filter;
  filter.Parse(text, separators);
  return filter;
}

TEST(HidFilter, WithoutEntriesOnlyTheDefaultVendorsPass) {
  const HidFilter none = Filter("");
  EXPECT_EQ(none.count(), 0u);
  EXPECT_TRUE(none.Accepts(0x0590, 52));
  EXPECT_TRUE(none.Accepts(0x04A4, 1));
  EXPECT_FALSE(none.Accepts(0x1234, 52));
  EXPECT_EQ(Filter(nullptr).count(), 0u);
  EXPECT_EQ(Filter(" \t  ").count(), 0u);
}

TEST(HidFilter, TheThreeKindsOfToken) {
  // Vendor and product, both hexadecimal.
  const HidFilter both = Filter("0x0590.0x0011");
  ASSERT_EQ(both.count(), 1u);
  EXPECT_EQ(both.entry(0).kind, q7m::kFilterVendorAndProduct);
  EXPECT_TRUE(both.Accepts(0x0590, 0x11));
  EXPECT_FALSE(both.Accepts(0x0590, 0x12));
  EXPECT_FALSE(both.Accepts(0x04A4, 0x11));
  // A vendor and a dot: every product of that vendor (1424 is 0x0590).
  const HidFilter vendor = Filter("1424.");
  ASSERT_EQ(vendor.count(), 1u);
  EXPECT_EQ(vendor.entry(0).kind, q7m::kFilterVendor);
  EXPECT_TRUE(vendor.Accepts(0x0590, 1));
  EXPECT_TRUE(vendor.Accepts(0x0590, 0xFFFF));
  EXPECT_FALSE(vendor.Accepts(0x04A4, 1));
  // A product alone, or after a dot: that product of either default vendor.
  for (const char* text : {"17", ".17"}) {
    const HidFilter product = Filter(text);
    ASSERT_EQ(product.count(), 1u) << text;
    EXPECT_EQ(product.entry(0).kind, q7m::kFilterProduct);
    EXPECT_TRUE(product.Accepts(0x0590, 17));
    EXPECT_TRUE(product.Accepts(0x04A4, 17));
    EXPECT_FALSE(product.Accepts(0x1234, 17));
    EXPECT_FALSE(product.Accepts(0x0590, 18));
  }
  // A vendor that is no default vendor is reached by naming it.
  EXPECT_TRUE(Filter("0x1234.").Accepts(0x1234, 7));
}

TEST(HidFilter, ParsingStopsAtTheFirstTokenWithoutAnEntry) {
  const HidFilter ini = Filter("5,x,7", ", \t");
  ASSERT_EQ(ini.count(), 1u);
  EXPECT_EQ(ini.entry(0).productId, 5u);
  EXPECT_FALSE(ini.Accepts(0x0590, 7));
  // Blanks and tabs only: the commas belong to the token, which yields
  // product 5 and stops at the comma.
  EXPECT_EQ(Filter("5,x,7").count(), 1u);
  for (const char* text : {". 52", "x52 52", "-1 52", "0590.x 52", "x.0x11 52"})
    EXPECT_EQ(Filter(text).count(), 0u) << text;
  const HidFilter runs = Filter("\t52  \t 83\t");
  ASSERT_EQ(runs.count(), 2u);
  EXPECT_EQ(runs.entry(1).productId, 83u);
}

TEST(HidFilter, NumbersAreDecimalOrHexadecimalAfterALowerCaseX) {
  auto product = [](const char* text) {
    const HidFilter f = Filter(text);
    return f.count() == 1 ? f.entry(0).productId : 0xDEADu;
  };
  EXPECT_EQ(product("0x34"), 0x34u);
  EXPECT_EQ(product("0x3A4b"), 0x3A4Bu);
  EXPECT_EQ(product("0x34zz"), 0x34u);  // hexadecimal digits up to the first other
  EXPECT_EQ(product("0X34"), 0u);       // upper-case X: decimal "0"
  EXPECT_EQ(product("0x3"), 0u);        // too short for hexadecimal: decimal "0"
  EXPECT_EQ(product("52abc"), 52u);     // decimal digits up to the first other
  EXPECT_EQ(product("007"), 7u);
  EXPECT_EQ(product("99999999999999"), 0xFFFFFFFFu);  // saturates, never wraps
  EXPECT_EQ(product("0xFFFFFFFFFF"), 0xFFFFFFFFu);
}

TEST(HidFilter, AtMost128EntriesAreKept) {
  std::string text;
  for (int i = 1; i <= 130; ++i) text += std::to_string(i) + " ";
  const HidFilter filter = Filter(text.c_str());
  EXPECT_EQ(filter.count(), HidFilter::kMaxEntries);
  EXPECT_TRUE(filter.Accepts(0x0590, 128));
  EXPECT_FALSE(filter.Accepts(0x0590, 129));
}

TEST(DeviceSelector, SerialNumberAndFilterList) {
  struct Case {
    const char* name;
    const char* serial;
    const char* filters;
  };
  const Case cases[] = {
      {"USB:", "", ""},
      {nullptr, "", ""},
      {"USB:A1", "A1", ""},
      {"A1", "A1", ""},  // no colon: the whole name
      {"USB: \tA1 \t", "A1", ""},
      {"USB:A1 ,52 83 ", "A1", "52 83"},
      {"USB:A1,,,52,99", "A1", "52"},  // a run of commas is one separator
      {"USB:A1,", "A1", ""},
      // No serial number, only products: the execution service's form of a
      // reader without a name.
      {"USB:,52 83 ", "", "52 83"},
      {"USB:,,0x0590.", "", "0x0590."},
      {"X:Y:Z", "Y:Z", ""},  // only the first colon separates
  };
  for (const Case& c : cases) {
    const q7m::DeviceSelector s = q7m::ParseDeviceSelector(c.name);
    EXPECT_EQ(s.serialNumber, c.serial) << (c.name ? c.name : "(null)");
    EXPECT_EQ(s.filterList, c.filters) << (c.name ? c.name : "(null)");
  }
  // Beyond the longest selector looked at, the rest is ignored.
  const std::string longName = "USB:" + std::string(q7m::kMaxSelectorLength, 'S') + ",52";
  const q7m::DeviceSelector s = q7m::ParseDeviceSelector(longName.c_str());
  EXPECT_EQ(s.serialNumber.size(), q7m::kMaxSelectorLength);
  EXPECT_EQ(s.filterList, "");
}

TEST(HidReport, ReportIdByUsedLength) {
  // Used length = message + 3: 0 and 1 byte fit report 1 (4 bytes), 2
  // bytes report 2, 369 bytes report 8 (372), 370 and more report 9.
  EXPECT_EQ(q7m::ReportIdForLength(0 + 3), 1);
  EXPECT_EQ(q7m::ReportIdForLength(1 + 3), 1);
  EXPECT_EQ(q7m::ReportIdForLength(2 + 3), 2);
  EXPECT_EQ(q7m::ReportIdForLength(369 + 3), 8);
  EXPECT_EQ(q7m::ReportIdForLength(370 + 3), 9);
  EXPECT_EQ(q7m::ReportIdForLength(100000), 9);
  for (uint8_t id = 1; id <= 8; ++id) {
    EXPECT_EQ(q7m::ReportIdForLength(q7m::kReportSizes[id - 1]), id);
    EXPECT_EQ(q7m::ReportIdForLength(q7m::kReportSizes[id - 1] + 1), id + 1);
  }
  EXPECT_EQ(q7m::MessageRoom(2068), 2062u);
  EXPECT_EQ(q7m::MessageRoom(6), 0u);
  EXPECT_EQ(q7m::MessageRoom(4), 0u);  // never a wrapped-around huge size
}

// Decrypts by XOR with 0x5A and remembers how many blocks it was given;
// fails with `failure` when that is set.
class XorDecryptor final : public q7m::ReportDecryptor {
 public:
  uint32_t Decrypt(uint8_t* blocks, size_t count) override {
    calls++;
    lastCount = count;
    if (failure != 0) return failure;
    for (size_t i = 0; i < count * 8; ++i) blocks[i] ^= 0x5A;
    return 0;
  }
  int calls = 0;
  size_t lastCount = 0;
  uint32_t failure = 0;
};

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

TEST(HidInputReport, RawAndPlainReportsGiveTheirMessageCutToTheCallersBuffer) {
  uint8_t buffer[8];
  // Id 0: everything after the id, as received.
  auto raw = Bytes({0, 'P', '1', '0', '0', '0'});
  q7m::InputReport in = q7m::TakeInputReport(raw.data(), 6, nullptr, buffer, sizeof buffer);
  EXPECT_EQ(in.outcome, q7m::InputReportOutcome::kRaw);
  ASSERT_EQ(in.received, 5u);
  EXPECT_EQ(std::memcmp(buffer, "P1000", 5), 0);
  // A numbered report: the length field says how much of it is message.
  auto plain = Bytes({2, 0, 5, 'P', '1', '0', '0', '0', 0, 0, 0});
  in = q7m::TakeInputReport(plain.data(), 11, nullptr, buffer, sizeof buffer);
  EXPECT_EQ(in.outcome, q7m::InputReportOutcome::kPlain);
  ASSERT_EQ(in.received, 5u);
  EXPECT_EQ(std::memcmp(buffer, "P1000", 5), 0);
  in = q7m::TakeInputReport(plain.data(), 11, nullptr, buffer, 3);
  EXPECT_EQ(in.received, 3u);
  // Without a key a "D" is just the message's first byte.
  auto d = Bytes({1, 0, 1, 'D'});
  in = q7m::TakeInputReport(d.data(), 4, nullptr, buffer, sizeof buffer);
  EXPECT_EQ(in.outcome, q7m::InputReportOutcome::kPlain);
  EXPECT_EQ(in.received, 1u);
}

TEST(HidInputReport, ALengthFieldTheReportCannotHoldIsRefused) {
  uint8_t buffer[8] = {};
  auto zero = Bytes({1, 0, 0, 'P'});
  EXPECT_EQ(q7m::TakeInputReport(zero.data(), 4, nullptr, buffer, 8).outcome,
            q7m::InputReportOutcome::kZeroLength);
  // Five bytes said, four after the header delivered (the buffer may hold
  // more, but only what arrived counts).
  auto over = Bytes({2, 0, 5, 'P', '1', '0', '0', 'X'});
  EXPECT_EQ(q7m::TakeInputReport(over.data(), 7, nullptr, buffer, 8).outcome,
            q7m::InputReportOutcome::kLengthOver);
  auto shortReport = Bytes({1, 0, 1});
  const q7m::InputReport in = q7m::TakeInputReport(shortReport.data(), 3, nullptr, buffer, 8);
  EXPECT_EQ(in.outcome, q7m::InputReportOutcome::kTooShort);
  EXPECT_EQ(in.received, 0u);
}

TEST(HidInputReport, AnEncryptedReportIsDecryptedInPlaceAndItsInnerLengthChecked) {
  uint8_t buffer[16] = {};
  // One cipher block: inner length 5, "P1000", one byte of padding.
  std::vector<uint8_t> report = Bytes({2, 0, 9, 'D'});
  for (int b : {0, 5, int{'P'}, int{'1'}, int{'0'}, int{'0'}, int{'0'}, 0x77})
    report.push_back(static_cast<uint8_t>(b ^ 0x5A));
  XorDecryptor key;
  q7m::InputReport in = q7m::TakeInputReport(report.data(), 12, &key, buffer, sizeof buffer);
  EXPECT_EQ(in.outcome, q7m::InputReportOutcome::kPlain);
  EXPECT_EQ(key.lastCount, 1u);
  ASSERT_EQ(in.received, 5u);
  EXPECT_EQ(std::memcmp(buffer, "P1000", 5), 0);

  // An inner length beyond the six message bytes a block holds.
  report = Bytes({2, 0, 9, 'D', 0 ^ 0x5A, 7 ^ 0x5A, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(q7m::TakeInputReport(report.data(), 12, &key, buffer, sizeof buffer).outcome,
            q7m::InputReportOutcome::kDecryptedTooLong);
  // Cipher text that is not whole blocks is never decrypted.
  key.calls = 0;
  report = Bytes({2, 0, 5, 'D', 1, 2, 3, 4});
  EXPECT_EQ(q7m::TakeInputReport(report.data(), 8, &key, buffer, sizeof buffer).outcome,
            q7m::InputReportOutcome::kCipherLength);
  EXPECT_EQ(key.calls, 0);
  // The key's failure is the outcome, with nothing delivered.
  key.failure = 0x2000000Bu;
  report = Bytes({2, 0, 9, 'D', 0, 1, 'P', 0, 0, 0, 0, 0});
  in = q7m::TakeInputReport(report.data(), 12, &key, buffer, sizeof buffer);
  EXPECT_EQ(in.outcome, q7m::InputReportOutcome::kDecryptFailed);
  EXPECT_EQ(in.failure, 0x2000000Bu);
  EXPECT_EQ(in.received, 0u);
}

// A device whose input reports are 4 bytes long (the smallest size) sends
// an encrypted report with no cipher block at all: the report ends right at
// an unreadable page, so any read past its 4 bytes crashes the test.
TEST(HidInputReport, AnEncryptedReportWithoutCipherBlocksReadsNothingBeyondTheReport) {
  const long page = ::sysconf(_SC_PAGESIZE);
  void* area =
      ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(area, MAP_FAILED);
  auto* base = static_cast<uint8_t*>(area);
  ASSERT_EQ(::mprotect(base + page, page, PROT_NONE), 0);
  uint8_t* report = base + page - 4;
  const uint8_t bytes[4] = {1, 0, 1, 'D'};
  std::memcpy(report, bytes, 4);
  XorDecryptor key;
  uint8_t buffer[8] = {};
  const q7m::InputReport in = q7m::TakeInputReport(report, 4, &key, buffer, sizeof buffer);
  EXPECT_EQ(in.outcome, q7m::InputReportOutcome::kDecryptedTooLong);
  EXPECT_EQ(in.received, 0u);
  // There is nothing to decrypt, and no decrypted length field to read.
  EXPECT_EQ(key.calls, 0);
  ::munmap(area, 2 * page);
}

std::string Narrow(const std::u16string& wide, size_t outSize = q7m::kDeviceStringSize,
                   size_t units = q7m::kWideStringUnits) {
  std::string out(outSize + 1, '#');
  q7m::WideToNarrow(wide.c_str(), units, out.data(), outSize);
  return out.substr(0, out.find('\0'));
}

TEST(HidText, WideDeviceStringsToEightBitText) {
  EXPECT_EQ(Narrow(u"Q7M card reader"), "Q7M card reader");
  EXPECT_EQ(Narrow(u"Grüße €"),
            "Gr\xC3\xBC\xC3\x9F"
            "e \xE2\x82\xAC");
  EXPECT_EQ(Narrow(u"\U0001F4B3"), "\xF0\x9F\x92\xB3");
  EXPECT_EQ(Narrow(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a?b");  // unpaired
  EXPECT_EQ(Narrow(std::u16string(1, char16_t(0xDC00))), "?");
  // Cut to the field, never inside a character.
  EXPECT_EQ(Narrow(u"abcdef", 4), "abc");
  EXPECT_EQ(Narrow(u"ab€", 5), "ab");
  EXPECT_EQ(Narrow(std::u16string(300, u'x')).size(), q7m::kDeviceStringSize - 1);
  // Only the given units are read, even without a terminating zero.
  const char16_t unterminated[3] = {u'a', u'b', u'c'};
  char out[8];
  q7m::WideToNarrow(unterminated, 2, out, sizeof out);
  EXPECT_STREQ(out, "ab");
}

}  // namespace
