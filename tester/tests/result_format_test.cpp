// The log lines of a call, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "detail_lines.h"
#include "result_lines.h"

namespace {

using namespace q7m::rigtool;

std::unique_ptr<ToolRecords> ClearedRecords() {
  auto records = std::make_unique<ToolRecords>();
  std::memset(records.get(), 0, sizeof *records);
  return records;
}

TEST(CommandBlock, NamesTheCallAndItsNonEmptyParametersWithoutATrailingLineEnd) {
  EXPECT_EQ(CommandBlock("ReadMagTrack", {"7", "", "", ""}, std::nullopt),
            "Command  \t: ReadMagTrack\r\nParameter 1\t: 7");
  EXPECT_EQ(CommandBlock("SendCommand", {"C00", "", "", "9"}, std::nullopt),
            "Command  \t: SendCommand\r\nParameter 1\t: C00\r\nParameter 4\t: 9")
      << "an empty parameter leaves no line and no gap in the numbering";
  Q7M_SYSTEMTIME time{};
  time.wYear = 2026, time.wMonth = 3, time.wDay = 7, time.wHour = 8, time.wMinute = 5,
  time.wSecond = 9;
  EXPECT_EQ(CommandBlock("ReadMagTrack", {"7", "", "", ""}, time),
            "#2026/03/07 08:05:09#\r\nCommand  \t: ReadMagTrack\r\nParameter 1\t: 7");
}

TEST(ResultLines, EndEachLineInCrLf) {
  EXPECT_EQ(ResultLine(0x82000000u), "Result\t\t: 0x82000000\r\n");
  EXPECT_EQ(ResultTextLine(kNotOpened), "Result\t\t: The device is not opened!\r\n");
  EXPECT_EQ(OpenedLine(reinterpret_cast<const void*>(0xABCD)),
            "Result\t\t: lpcRdax = 0000ABCD\r\n");
  EXPECT_EQ(RunAllHeader(2, 0, true),
            "No. of Runs\t: 2\r\nError Stop\t: 0\r\nOperation\t: Asynchronous\r\n");
  EXPECT_EQ(RunAllHeader(1, 3, false),
            "No. of Runs\t: 1\r\nError Stop\t: 3\r\nOperation\t: Synchronous\r\n");
  EXPECT_EQ(RunLine(1, 2), "Run: 1/2\r\n");
  EXPECT_EQ(ErrorStopLine(2), "Loop operation stopped! Errors: 2\r\n");
}

TEST(HexDump, WritesTwoUpperCaseDigitsAndASpacePerByte) {
  const uint8_t bytes[] = {0x3B, 0x02, 0xA0};
  EXPECT_EQ(HexDump(bytes, 3), "3B 02 A0 ");
  EXPECT_EQ(HexDump(bytes, 0), "");
}

TEST(DetailLines, AFailedGetStatusStillShowsItsEightLinesOfZeros) {
  auto r = ClearedRecords();
  EXPECT_EQ(*DetailEntry(1, *r, {0xC1000002u, 0}),
            "\t\t: Device status\t\t= 0\r\n"
            "\t\t: Media status\t\t= 0\r\n"
            "\t\t: BIN status\t\t= 0\r\n"
            "\t\t: CIM86/MM status\t= 0\r\n"
            "\t\t: Captured cards\t\t= 0\r\n"
            "\t\t: Chip status\t\t= 0\r\n"
            "\t\t: <Extra> Battery status\t= 0\r\n"
            "\t\t: <Extra> SAM chip\t\t= 0\r\n");
}

TEST(DetailLines, TrackDataFollowsTheLengthByteAndStopsAtAZeroOrTheFieldEnd) {
  auto r = ClearedRecords();
  r->tracks.result[1] = 0x44040006u;
  r->tracks.length[0] = 4;
  std::memcpy(r->tracks.track1, "B123", 4);
  r->tracks.length[1] = 9;
  std::memcpy(r->tracks.track2,
              "12\0"
              "45",
              5);
  r->tracks.length[2] = 255;  // beyond its field: the field bounds it
  std::memset(r->tracks.track3, '7', sizeof r->tracks.track3);
  EXPECT_EQ(*DetailEntry(5, *r, {}),
            "\t\t: Track1 status\t= 0x00000000\r\n"
            "\t\t: Track2 status\t= 0x44040006\r\n"
            "\t\t: Track3 status\t= 0x00000000\r\n"
            "\t\t: Track1 data\t= B123\r\n"
            "\t\t: Track2 data\t= 12\r\n"
            "\t\t: Track3 data\t= " +
                std::string(sizeof r->tracks.track3, '7') + "\r\n");
  r->tracks.length[0] = 0;
  EXPECT_NE(DetailEntry(5, *r, {})->find("\t\t: Track1 data\t= \r\n"), std::string::npos)
      << "a track of length 0 leaves nothing after the equals sign";
}

TEST(DetailLines, SendCommandShowsTheFiveStatusBytesAndDumpsTheRestOnlyAfterSuccess) {
  auto r = ClearedRecords();
  std::memcpy(r->sendResponse, "P0000", 5);
  r->sendResponseLength = 5;
  EXPECT_EQ(*DetailEntry(43, *r, {0, 0}), "\t\t: Response Data\t= P0000\r\n");
  std::memcpy(r->sendResponse, "PV000\x01\xAB", 7);
  r->sendResponseLength = 7;
  EXPECT_EQ(*DetailEntry(43, *r, {0, 0}),
            "\t\t: Response Data\t= PV000\r\n\t\t: Addtional Data\t= 01 AB \r\n");
  EXPECT_FALSE(DetailEntry(43, *r, {0x83000001u, 0})) << "a failed SendCommand shows nothing";
  EXPECT_FALSE(DetailEntry(43, *r, {1, 0})) << "nor one still running";
  r->sendResponseLength = 100000;  // never believed beyond the buffer
  EXPECT_EQ(DetailEntry(43, *r, {0, 0})->size(),
            std::string("\t\t: Response Data\t= PV000\r\n\t\t: Addtional Data\t= \r\n").size() +
                3 * (kSendCommandBufferSize - 5));
}

TEST(DetailLines, ActivateContactlessShowsTheCardsOnlyWhenItsResultIsZero) {
  auto r = ClearedRecords();
  EXPECT_EQ(*DetailEntry(20, *r, {0, 0}), "") << "no card: an empty entry";
  r->contactless.mifareCount = 1;
  r->contactless.typeBCount = 1;
  r->contactless.card[0].type = RDAX_CARD_MIFARE;
  std::memcpy(r->contactless.card[0].id, "\x11\x22\x33\x44", 4);
  r->contactless.card[1].type = RDAX_CARD_TYPEB;
  std::memcpy(r->contactless.card[1].id, "\x01\x02\x03\x04", 4);
  std::memcpy(r->contactless.card[1].applicationData, "\xA1\xA2\xA3\xA4", 4);
  std::memcpy(r->contactless.card[1].protocolInfo, "\x71\x72\x73", 3);
  EXPECT_EQ(*DetailEntry(20, *r, {0, 0}),
            "\t\t: Mifare ID\t\t= 11 22 33 44 \r\n"
            "\t\t: TypeB ID\t\t= 01 02 03 04 \r\n"
            "\t\t: TypeB App Info\t\t= A1 A2 A3 A4 \r\n"
            "\t\t: TypeB Protocol\t\t= 71 72 73 \r\n");
  EXPECT_FALSE(DetailEntry(20, *r, {1, 0x83000002u})) << "GetResult was not 0";
  r->contactless.mifareCount = 255;
  r->contactless.typeBCount = 255;  // counts beyond the record are bounded
  EXPECT_TRUE(DetailEntry(20, *r, {0, 0}));
}

TEST(DetailLines, ChipBlocksDumpTheirDataBoundedByTheBlock) {
  auto r = ClearedRecords();
  r->chipResponse.kind = 2;
  r->chipResponse.length = 3;
  std::memcpy(r->chipResponse.data, "\x3B\x02\xA0", 3);
  const std::string expected =
      "\t\t: Protocol\t= 2\r\n\t\t: Data Length\t= 3\r\n\t\t: Data [HEX]\t= 3B 02 A0 \r\n";
  for (int api : {9, 11, 16, 18, 25, 26}) EXPECT_EQ(*DetailEntry(api, *r, {}), expected) << api;
  r->samResponse.length = 0xFFFFFFFFu;
  EXPECT_EQ(
      DetailEntry(12, *r, {})->size(),
      std::string("\t\t: Protocol\t= 0\r\n\t\t: Data Length\t= -1\r\n\t\t: Data [HEX]\t= \r\n")
              .size() +
          3 * RDAX_CHIP_DATA_MAX);
}

TEST(DetailLines, TextFieldsWithoutTerminatorStayInsideTheirRecord) {
  auto r = ClearedRecords();
  std::memcpy(r->version.type, "ABCDEFGHIJKLM", 13);
  std::memcpy(r->version.revision, "R01", 3);
  r->version.sum = 0x1234;
  EXPECT_EQ(
      *DetailEntry(31, *r, {}),
      "\t\t: Type\t\t= ABCDEFGHIJKLM\r\n\t\t: Revision\t= R01\r\n\t\t: Sum value\t= 4660\r\n");
  std::memcpy(r->serialNumber, "123456", 7);
  EXPECT_EQ(*DetailEntry(32, *r, {}), "\t\t: Serial Number = 123456\r\n");
}

TEST(DetailLines, CountersAndStandardsPrintSignedDecimals) {
  auto r = ClearedRecords();
  for (uint32_t i = 0; i < 16; ++i) r->errorCounters[i] = i;
  const std::string errors = *DetailEntry(34, *r, {});
  EXPECT_NE(errors.find("\t\t: Iso1 Pullout Read Error\t= 4\r\n"), std::string::npos);
  EXPECT_NE(errors.find("\t\t: MemCard Communication\t= 13\r\n"), std::string::npos);
  EXPECT_EQ(errors.find("= 3\r\n"), std::string::npos) << "counter 3 is not shown";
  r->iccStandard = -1;
  EXPECT_EQ(*DetailEntry(36, *r, {}), "\t\t: ICC Type = -1\r\n");
  r->capabilities.extraSam = 2;
  r->capabilities.compound = 1;
  const std::string caps = *DetailEntry(0, *r, {});
  EXPECT_NE(caps.find("\t\t: Compound\t\t\t= TRUE\r\n"), std::string::npos);
  EXPECT_NE(caps.find("\t\t: <Extra> SAM support\t\t= 00000002\r\n"), std::string::npos);
}

TEST(DetailLines, CallsWithoutOutputHaveNoEntry) {
  auto r = ClearedRecords();
  for (int api : {2, 3, 6, 7, 8, 10, 13, 17, 19, 21, 22, 24, 27, 28, 29, 38, 39, 40, 41, 42, 44}) {
    EXPECT_FALSE(DetailEntry(api, *r, {})) << api;
  }
}

}  // namespace
