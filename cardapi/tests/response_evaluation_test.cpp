// What the library makes of a reader's answers: the error table, the
// evaluation of whole responses and the bounded reader of their fields.
#include <gtest/gtest.h>

#include <string>

#include "q7m/rdax_result.h"
#include "response_view.h"
#include "result_map.h"

using namespace q7m::rdax;

namespace {

uint32_t Evaluate(const std::string& response) {
  return RdaxCheckResponse(response.data(), static_cast<uint32_t>(response.size()));
}

uint32_t Error(const char code[3]) {
  return RdaxMapReaderError(code[0], code[1]);
}

TEST(ReaderErrorTable, ListedCodesGiveTheirOwnResults) {
  EXPECT_EQ(Error("46"), 0x44040006u);
  EXPECT_EQ(Error("A1"), 0x840000A1u);
  EXPECT_EQ(Error("J1"), 0x84000131u);
  EXPECT_EQ(Error("00"), 0x44030000u);
  EXPECT_EQ(Error("18"), 0xC3000002u);
  EXPECT_EQ(Error("87"), 0x44050005u);
  EXPECT_EQ(Error("JB"), 0x44060004u);
  EXPECT_EQ(Error("A9"), 0x440E0006u);
}

TEST(ReaderErrorTable, SixtyIsOffByOneAsTheReaderDocumentsIt) {
  EXPECT_EQ(Error("60"), 0x84000061u);
  EXPECT_EQ(Error("61"), 0x44070005u);
}

TEST(ReaderErrorTable, TheFourLetterCodesOfRowOneAreDecidedBeforeTheTable) {
  EXPECT_EQ(Error("1Y"), 0x84010007u);
  EXPECT_EQ(Error("1Z"), 0x8401000Cu);
  EXPECT_EQ(Error("1H"), 0x8401000Au);
  EXPECT_EQ(Error("1J"), 0x8401000Bu);
}

TEST(ReaderErrorTable, NinetiesAnswerAsTheACodes) {
  for (const char* hex = "0123456789ABCDEF"; *hex != '\0'; ++hex) {
    EXPECT_EQ(RdaxMapReaderError('9', *hex), RdaxMapReaderError('A', *hex)) << "9" << *hex;
  }
  EXPECT_EQ(Error("90"), 0x440E0000u);
}

TEST(ReaderErrorTable, UnlistedCodesAreTheCodeReadAsHex) {
  EXPECT_EQ(Error("04"), 0x84000004u);
  EXPECT_EQ(Error("4B"), 0x8400004Bu);
  EXPECT_EQ(Error("BF"), 0x840000BFu);
  EXPECT_EQ(Error("JF"), 0x8400013Fu);
}

TEST(ReaderErrorTable, UnknownCharactersNeverLeaveTheTable) {
  EXPECT_EQ(Error("X1"), 0x84000000u);
  EXPECT_EQ(Error("a0"), 0x84000000u);
  EXPECT_EQ(Error("JZ"), 0x84000000u);  // row beyond the last
  EXPECT_EQ(Error("BZ"), 0x84000000u);
  EXPECT_EQ(Error("0 "), 0x84000000u);  // below "0": no row
  EXPECT_EQ(RdaxMapReaderError('\xFF', '\xFF'), 0x84000000u);
  EXPECT_EQ(RdaxMapReaderError('9', '\xFF'), 0x84000000u);
  EXPECT_EQ(RdaxMapReaderError('J', '\0'), 0x84000000u);
}

TEST(ResponseEvaluation, CancelReplyIsCancelledWhateverFollows) {
  EXPECT_EQ(Evaluate("E"), RDAX_W_CANCELLED);
  EXPECT_EQ(Evaluate("EN0046"), RDAX_W_CANCELLED);
}

TEST(ResponseEvaluation, NegativeReplyGoesThroughTheTable) {
  EXPECT_EQ(Evaluate("N1046"), 0x44040006u);
  EXPECT_EQ(Evaluate("N10A1"), 0x840000A1u);
  EXPECT_EQ(Evaluate("N101Y"), 0x84010007u);
  EXPECT_EQ(Evaluate("N1090"), 0x440E0000u);
  EXPECT_EQ(Evaluate("N10Q1"), 0x84000000u);
}

TEST(ResponseEvaluation, NegativeReplyTooShortForItsCodeIsStillARefusal) {
  EXPECT_EQ(Evaluate("N10"), RDAX_E_READER_UNKNOWN);
  EXPECT_EQ(Evaluate("N104"), RDAX_E_READER_UNKNOWN);
}

TEST(ResponseEvaluation, PositiveOrUnknownFirstByteIsSuccess) {
  EXPECT_EQ(Evaluate("P1000"), RDAX_OK);
  EXPECT_EQ(Evaluate("Q1046"), RDAX_OK);
  EXPECT_EQ(Evaluate(""), RDAX_OK);
}

TEST(ResponseEvaluation, TrackReadReportsTheFirstTrackWarningOfItsTrackSet) {
  EXPECT_EQ(Evaluate("P6a0050043"), 0x44040003u);
  EXPECT_EQ(Evaluate("P6a0050000"), RDAX_OK);
  EXPECT_EQ(Evaluate("P6a00746004100"), 0x44040006u);
  // Only the results the track set names are looked at.
  EXPECT_EQ(Evaluate("P6a0020043"), RDAX_OK);
  // A track error that is no warning is not the evaluation's to report.
  EXPECT_EQ(Evaluate("P6a00120"), RDAX_OK);
  // Other commands' data is never read as track results.
  EXPECT_EQ(Evaluate("P100054343"), RDAX_OK);
}

TEST(ResponseEvaluation, TrackResultsThatDidNotArriveAreNotRead) {
  EXPECT_EQ(Evaluate("P6a007"), RDAX_OK);
  EXPECT_EQ(Evaluate("P6a00700"), RDAX_OK);
  EXPECT_EQ(Evaluate("P6a0070004"), RDAX_OK);
  EXPECT_EQ(Evaluate("P6a00700004"), RDAX_OK);
  EXPECT_EQ(Evaluate("P6a0070000450"), 0x44040005u);
}

TEST(ResponseView, FieldsBeyondTheArrivedLengthAreAbsent) {
  const std::string text = "P10001234";
  const ResponseView view(text.data(), 7);  // "P100012": the rest did not arrive
  EXPECT_EQ(view.Kind(), 'P');
  EXPECT_EQ(view.EchoedCode(), "10");
  EXPECT_EQ(view.Status(), "00");
  EXPECT_EQ(view.Field(5, 2), "12");
  EXPECT_FALSE(view.Field(5, 3).has_value());
  EXPECT_FALSE(view.At(7).has_value());
  EXPECT_FALSE(view.Field(0xFFFFFFF0u, 0x20).has_value());  // no wrap-around
  EXPECT_EQ(view.Rest(5), "12");
  EXPECT_EQ(view.Rest(9), "");
}

TEST(ResponseView, NumbersAreReadAsTheReaderWritesThem) {
  const std::string text = "P0000 42x000A0BADCAFEZ";
  const ResponseView view(text.data(), static_cast<uint32_t>(text.size()));
  EXPECT_EQ(view.Decimal(5, 3), 0u);   // a blank stops the digits
  EXPECT_EQ(view.Decimal(6, 3), 42u);  // up to the first non-digit
  EXPECT_EQ(view.Hex(9, 4), 0xAu);
  EXPECT_EQ(view.Hex(13, 8), 0x0BADCAFEu);
  EXPECT_FALSE(view.Hex(14, 8).has_value());  // "Z" is no digit
  EXPECT_FALSE(view.Decimal(20, 4).has_value());
}

TEST(ResponseView, AnOverlongDecimalFieldStopsAtTheLargestValueInsteadOfWrapping) {
  const std::string text = "P0000429496729542949672969999999999999";
  const ResponseView view(text.data(), static_cast<uint32_t>(text.size()));
  EXPECT_EQ(view.Decimal(5, 10), 4294967295u);
  EXPECT_EQ(view.Decimal(15, 10), UINT32_MAX);
  EXPECT_EQ(view.Decimal(25, 13), UINT32_MAX);
}

TEST(ResponseView, NullDataHasNothing) {
  const ResponseView view(nullptr, 100);
  EXPECT_EQ(view.length(), 0u);
  EXPECT_FALSE(view.Kind().has_value());
}

TEST(SequorCodeMap, EveryKnownCodeAndThePassThrough) {
  EXPECT_EQ(RdaxMapSequorCode(0), 0u);
  EXPECT_EQ(RdaxMapSequorCode(1), 0x82000000u);
  EXPECT_EQ(RdaxMapSequorCode(4), 0x82000000u);
  EXPECT_EQ(RdaxMapSequorCode(11), 0x82000000u);
  EXPECT_EQ(RdaxMapSequorCode(2), 0x83000001u);
  EXPECT_EQ(RdaxMapSequorCode(13), 0x83000001u);
  EXPECT_EQ(RdaxMapSequorCode(3), 0x40000000u);
  EXPECT_EQ(RdaxMapSequorCode(5), 0x84030001u);
  EXPECT_EQ(RdaxMapSequorCode(6), 0x84030001u);
  EXPECT_EQ(RdaxMapSequorCode(7), 0xC3000001u);
  EXPECT_EQ(RdaxMapSequorCode(9), 0x83000000u);
  EXPECT_EQ(RdaxMapSequorCode(12), 0xC1000002u);
  EXPECT_EQ(RdaxMapSequorCode(20), 0x83000003u);
  EXPECT_EQ(RdaxMapSequorCode(21), 0x43000000u);
  EXPECT_EQ(RdaxMapSequorCode(22), 0x43000001u);
  EXPECT_EQ(RdaxMapSequorCode(30), 0x83000002u);
  EXPECT_EQ(RdaxMapSequorCode(31), 0x00000001u);
  EXPECT_EQ(RdaxMapSequorCode(1000), 0xC1000000u);
  // Results stored by the library come back unchanged.
  EXPECT_EQ(RdaxMapSequorCode(0x84000061u), 0x84000061u);
  EXPECT_EQ(RdaxMapSequorCode(8), 8u);
}

}  // namespace

#include "exchange.h"

namespace {

TEST(ExchangeLimits, CommandsThatWaitLongerOrAnswerMoreHaveTheirOwnRows) {
  const ExchangeLimits standard = LimitsFor("10");
  EXPECT_EQ(standard.sendSeconds, 30u);
  EXPECT_EQ(standard.receiveSeconds, 30u);
  EXPECT_EQ(standard.responseSize, 1024u);

  EXPECT_EQ(LimitsFor("00", ExchangeUse::kResetFirstAttempt).receiveSeconds, 3u);
  EXPECT_EQ(LimitsFor("00").receiveSeconds, 30u);  // the retry
  EXPECT_EQ(LimitsFor("E").sendSeconds, 1u);
  EXPECT_EQ(LimitsFor("92", ExchangeUse::kOrdinary, 5).receiveSeconds, 7u);
  EXPECT_EQ(LimitsFor("n0", ExchangeUse::kOrdinary, 5).sendSeconds, 15u);
  EXPECT_EQ(LimitsFor("d0", ExchangeUse::kDownload).receiveSeconds, 30u);
  EXPECT_EQ(LimitsFor("00", ExchangeUse::kDownload).receiveSeconds, 10u);
  EXPECT_EQ(LimitsFor("V0", ExchangeUse::kDownload).sendSeconds, 10u);
  EXPECT_EQ(LimitsFor("V0").responseSize, 4096u);
  EXPECT_EQ(LimitsFor("F3").responseSize, 4096u);
  EXPECT_EQ(LimitsFor("m7").responseSize, 2053u);
  EXPECT_EQ(LimitsFor("n3").responseSize, 1024u);
  EXPECT_EQ(LimitsFor("n3", ExchangeUse::kTypeBData).responseSize, 4096u);
  for (const ExchangeLimits& l : {LimitsFor("V2"), LimitsFor("m8"), LimitsFor("f0")})
    EXPECT_LE(l.responseSize, kMaxResponseSize);
}

}  // namespace
