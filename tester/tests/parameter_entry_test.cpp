// What an engineer types or picks, and what the call receives.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "api_list.h"
#include "data_text.h"
#include "number_text.h"
#include "parameter_rows.h"
#include "typeb_attribute.h"

namespace {

using namespace q7m::rigtool;

std::vector<uint8_t> Bytes(std::string_view text, bool* ok = nullptr) {
  std::vector<uint8_t> bytes;
  const bool parsed = ParseDataText(text, &bytes);
  if (ok != nullptr) *ok = parsed;
  return bytes;
}

TEST(ApiList, KeepsItsFortyFiveNamesInTheirFixedOrder) {
  EXPECT_EQ(ApiNames().size(), 45u);
  EXPECT_EQ(ApiName(0), "GetCapabilities");
  EXPECT_EQ(ApiName(5), "ReadMagTrack");
  EXPECT_EQ(ApiName(20), "ActivateContactless");
  EXPECT_EQ(ApiName(25), "TypeBAttribute");
  EXPECT_EQ(ApiName(42), "LogErrorData");
  EXPECT_EQ(ApiName(44), "SetHostWDTReset");
  EXPECT_EQ(ApiName(45), "");
}

TEST(ApiList, ContainmentLookupFindsEveryNameAndTheFirstEntryContainingAText) {
  for (int i = 0; i < kApiCount; ++i) EXPECT_EQ(ApiIndexContaining(ApiName(i)), i) << ApiName(i);
  EXPECT_EQ(ApiIndexContaining(""), 0) << "an empty name finds GetCapabilities";
  EXPECT_EQ(ApiIndexContaining("Lock"), 7);
  EXPECT_EQ(ApiIndexContaining("ICC"), 9) << "the first entry containing it";
  EXPECT_EQ(ApiIndexContaining("Xyz"), -1);
  EXPECT_EQ(ApiIndexContaining("lock"), 8) << "case-sensitive: only Unlock holds lower-case lock";
  EXPECT_EQ(ApiIndexOfName("ICC"), -1) << "the exact lookup wants the whole name";
}

TEST(ParameterRows, LabelTheRowsAndOfferTheValueTables) {
  const auto& transaction = ParamRowsOf(3);
  EXPECT_EQ(transaction[0].label, "Read Direction");
  EXPECT_EQ(transaction[3].label, "Pullout-Lock");
  EXPECT_EQ(transaction[1].table.size(), 8u);
  const auto& status = ParamRowsOf(1);
  for (const ParamRow& row : status) EXPECT_EQ(RowLabel(row), "<NONE>");
  EXPECT_EQ(ParamRowsOf(25)[0].label, "Attrib(9bytes)");
  EXPECT_EQ(ParamRowsOf(43)[2].label, "Recv Timeout");
  EXPECT_EQ(ParamRowsOf(41)[0].kind, ParamKind::kText);
  EXPECT_TRUE(RowTakesAFile(41, 0));
  EXPECT_FALSE(RowTakesAFile(42, 0)) << "LogErrorData's text is typed";
  EXPECT_FALSE(RowTakesAFile(41, 1));
}

TEST(ParameterRows, APickedEntryResolvesToItsDecimalNumber) {
  EXPECT_EQ(PickedEntryText(ParamRowsOf(5)[0], "ISO1 AND ISO3"), "5");
  EXPECT_EQ(PickedEntryText(ParamRowsOf(38)[0], "RDAX_SET_ICSTD_EMV"), "5");
  EXPECT_EQ(PickedEntryText(ParamRowsOf(29)[1], "RDAX_SET_LED_BLINK1HZ"), "2");
  EXPECT_EQ(PickedEntryText(ParamRowsOf(3)[2], "FALSE"), "0");
  EXPECT_EQ(PickedEntryText(ParamRowsOf(5)[0], "0x05"), "") << "typed text is no entry";
  EXPECT_EQ(PickedEntryText(ParamRowsOf(4)[0], "ISO1"), "") << "a free-text row has no entries";
}

TEST(NumberText, ReadsDecimalOctalAndHexadecimalAsTheCLibraryDoes) {
  EXPECT_EQ(ConvertNumber("0x10"), 16u);
  EXPECT_EQ(ConvertNumber("020"), 16u);
  EXPECT_EQ(ConvertNumber("16"), 16u);
  EXPECT_EQ(ConvertNumber("0X1f"), 31u);
  EXPECT_EQ(ConvertNumber("0x05"), 5u);
  EXPECT_EQ(ConvertNumber(" \t+7"), 7u) << "leading blanks and a plus sign";
  EXPECT_EQ(ConvertNumber("12abc"), 12u) << "stops at the first non-digit";
  EXPECT_EQ(ConvertNumber("09"), 0u) << "9 is no octal digit";
  EXPECT_EQ(ConvertNumber("0x"), 0u) << "the 0 alone is the number";
  EXPECT_EQ(ConvertNumber("0xg"), 0u);
}

TEST(NumberText, GivesZeroWithoutDigitsAndSaturatesBeyondThirtyTwoBits) {
  EXPECT_EQ(ConvertNumber(""), 0u);
  EXPECT_EQ(ConvertNumber("abc"), 0u);
  EXPECT_EQ(ConvertNumber("-"), 0u);
  EXPECT_EQ(ConvertNumber("-1"), 0xFFFFFFFFu) << "a minus gives the two's complement";
  EXPECT_EQ(ConvertNumber("-0x10"), 0xFFFFFFF0u);
  EXPECT_EQ(ConvertNumber("4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(ConvertNumber("4294967296"), 0xFFFFFFFFu);
  EXPECT_EQ(ConvertNumber("0x123456789"), 0xFFFFFFFFu);
  EXPECT_EQ(ConvertNumber("-99999999999"), 0xFFFFFFFFu);
  EXPECT_EQ(ConvertNumber("99999999999999999999999999999"), 0xFFFFFFFFu)
      << "no wrap-around however long";
}

TEST(DataText, TakesPlainCharactersAndHexadecimalBytesInBraces) {
  EXPECT_EQ(Bytes("C00"), (std::vector<uint8_t>{'C', '0', '0'}));
  EXPECT_EQ(Bytes("{00 A4 04 00}"), (std::vector<uint8_t>{0x00, 0xA4, 0x04, 0x00}));
  EXPECT_EQ(Bytes("AB{0D}"), (std::vector<uint8_t>{0x41, 0x42, 0x0D}));
  EXPECT_EQ(Bytes("{1,2,3}"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(Bytes("{0A0B}"), (std::vector<uint8_t>{0x0A, 0x0B}));
  EXPECT_EQ(Bytes("{A}"), (std::vector<uint8_t>{0x0A}));
  EXPECT_EQ(Bytes("{0a"), (std::vector<uint8_t>{0x0A})) << "the end of the text ends the braces";
  EXPECT_EQ(Bytes("{ff}x"), (std::vector<uint8_t>{0xFF, 'x'}));
  EXPECT_TRUE(Bytes("").empty());
}

TEST(DataText, RefusesStrayCharactersAndALoneDigitAtTheEnd) {
  bool ok = true;
  Bytes("{A", &ok);
  EXPECT_FALSE(ok) << "{A";
  Bytes("{G1}", &ok);
  EXPECT_FALSE(ok) << "{G1}";
  Bytes("{1G}", &ok);
  EXPECT_FALSE(ok) << "a single digit followed by a non-separator";
  Bytes("{12 3", &ok);
  EXPECT_FALSE(ok);
  Bytes("{12 }", &ok);
  EXPECT_TRUE(ok);
}

TEST(TypeBAttribute, FillsTheLibrarysRecordBehindItsMark) {
  const RDAX_TYPEB_ATTRIBUTE record = BuildTypeBAttribute({7, 0, 2, 1, 8, 3, 2, 1, 15});
  uint8_t raw[sizeof record];
  std::memcpy(raw, &record, sizeof record);
  auto word = [&](size_t offset) {
    uint32_t v;
    std::memcpy(&v, raw + offset, 4);
    return v;
  };
  EXPECT_EQ(word(0), 24u) << "the record mark the library checks";
  EXPECT_EQ(word(4), 1u) << "b1 not 0: SOF required";
  EXPECT_EQ(word(8), 0u) << "b2 is 0: no EOF";
  EXPECT_EQ(raw[12], 2) << "TR0";
  EXPECT_EQ(raw[13], 1) << "TR1";
  EXPECT_EQ(raw[14], 0) << "not written";
  EXPECT_EQ(raw[15], 8) << "frame size";
  EXPECT_EQ(raw[16], 3);
  EXPECT_EQ(raw[17], 2);
  EXPECT_EQ(raw[18], 1) << "protocol type";
  EXPECT_EQ(raw[19], 0) << "not written";
  EXPECT_EQ(raw[20], 15) << "card identifier";
}

}  // namespace
