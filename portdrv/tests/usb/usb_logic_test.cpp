// The USB side's pure logic: the search filter, what a device name asks
// for, the report id by size, and the 8-bit device strings.
#include <gtest/gtest.h>

#include <string>

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
