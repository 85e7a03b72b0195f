// The chip card, SAM and memory card operations against the emulator's chip
// side, checked on the wire: what the library sends, block by block, and what
// it makes of the reader's answers, on the serial and the USB link.
#include <gtest/gtest.h>

#include <cstring>

#include "rdax_sim_fixture.h"
#include "rdax_wire.h"

namespace rdaxsim {
namespace {

RdaxChipData Data(int32_t kind, const std::string& bytes) {
  RdaxChipData data{};
  data.kind = kind;
  data.length = static_cast<uint32_t>(bytes.size());
  std::memcpy(data.data, bytes.data(), bytes.size());
  return data;
}

std::string Bytes(const RdaxChipData& data, uint32_t count) {
  return std::string(reinterpret_cast<const char*>(data.data), count);
}

class ChipOnSim : public RdaxOnSim {
 protected:
  // Sets a field of the reader and checks that it took the value.
  void Set(const std::string& field, const std::string& value) {
    sim_.Control({"set", reader(), field, value});
    ASSERT_FALSE(Get(field).empty()) << field;
  }
  std::string Get(const std::string& field) {
    const std::string answer = sim_.Control({"get", reader(), field});
    return answer.substr(0, answer.find('\n'));
  }
  // A card with a T=1 chip inside, powered: the exchanges can begin.
  void PowerT1Chip() {
    Set("CardPosition", "inside");
    Set("ChipProtocol", "T1");
    RdaxChipData atr{};
    ASSERT_EQ(RDAX_ActivateICC(handle_, RDAX_RESET_COLD, &atr, nullptr), RDAX_OK);
    ASSERT_EQ(atr.kind, RDAX_CHIPIO_PROTOCOL_T1);
  }
  std::vector<std::string> Commands() { return WireMessages(sim_, reader(), "CMD"); }
  std::vector<std::string> Answers() { return WireMessages(sim_, reader(), "RSP"); }
};

TEST_P(ChipOnSim, AColdResetDeliversTheProtocolAndTheAnswerToReset) {
  Set("CardPosition", "inside");
  Set("ChipAtr", "3B6800000073C84013009000");
  RdaxChipData atr{};
  ASSERT_EQ(RDAX_ActivateICC(handle_, RDAX_RESET_COLD, &atr, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), "CG10");
  EXPECT_EQ(atr.kind, RDAX_CHIPIO_PROTOCOL_T0);
  EXPECT_EQ(HexBytes(Bytes(atr, atr.length)), "3B6800000073C84013009000");
  EXPECT_EQ(Get("ChipContact"), "powered");

  ASSERT_EQ(RDAX_ActivateICC(handle_, RDAX_RESET_WARM, &atr, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), "CE10");
  EXPECT_EQ(RDAX_DeactivateICC(handle_, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), "CC6");
  EXPECT_EQ(Get("ChipContact"), "released");
}

TEST_P(ChipOnSim, AnAsynchronousExchangeFillsTheOutputBeforeItsEventIsSignalled) {
  PowerT1Chip();
  Set("ChipRecords", "1.1=" + HexBytes(Pattern(400, 8)));
  const RdaxChipData input = Data(RDAX_CHIPIO_PROTOCOL_T1, std::string("\x00\xB2\x01\x0C\x00", 5));
  RdaxChipData output{};
  Q7M_HANDLE done = Q7M_CreateEvent(1, 0, nullptr);
  ASSERT_NE(done, nullptr);
  ASSERT_EQ(RDAX_CommunicateICC(handle_, &input, &output, done), RDAX_I_ASYNC_STARTED);
  ASSERT_EQ(Q7M_WaitForSingleObject(done, 30000), Q7M_WAIT_OBJECT_0);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);
  ASSERT_EQ(output.length, 402u);
  EXPECT_EQ(Bytes(output, 400), Pattern(400, 8));
  Q7M_CloseHandle(done);
}

TEST_P(ChipOnSim, AnAnswerToResetFlaggedIrregularIsStillDeliveredWithProtocolUnknown) {
  Set("CardPosition", "inside");
  Set("ChipProtocol", "T1");
  Set("ChipAtr", "3BFF1300");
  Set("ChipAtrError", "87");
  RdaxChipData atr{};
  atr.kind = 99;
  EXPECT_EQ(RDAX_ActivateICC(handle_, RDAX_RESET_COLD, &atr, nullptr), RDAX_W_ICC_ATR_87);
  EXPECT_EQ(Answers().back().substr(0, 5), "NG187");
  EXPECT_EQ(atr.kind, RDAX_CHIPIO_PROTOCOL_UNKNOWN);
  EXPECT_EQ(HexBytes(Bytes(atr, atr.length)), "3BFF1300");
}

TEST_P(ChipOnSim, ArgumentsOutOfRangeAreRefusedUnsentAndStored) {
  RdaxChipData record{};
  const size_t before = Commands().size();
  EXPECT_EQ(RDAX_ActivateICC(handle_, 3, &record, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_ActivateICC(handle_, RDAX_RESET_COLD, nullptr, nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_ActivateSAM(handle_, 6, RDAX_RESET_COLD, &record, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_PARAMETER);
  uint16_t status = 0;
  EXPECT_EQ(RDAX_GetSAMStatus(handle_, 0, &status, nullptr), RDAX_E_PARAMETER);
  record.kind = 3;
  EXPECT_EQ(RDAX_CommunicateICC(handle_, &record, &record, nullptr), RDAX_E_PARAMETER);
  record.kind = RDAX_CHIPIO_PROTOCOL_T0;
  record.length = RDAX_CHIP_DATA_MAX + 1;
  EXPECT_EQ(RDAX_CommunicateICC(handle_, &record, &record, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_CommunicateSAM(handle_, 1, &record, &record, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_VerifyMemoryCard(handle_, &record, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_ActivateMemoryCard(handle_, 4, &record, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(Commands().size(), before);
}

TEST_P(ChipOnSim, T1InputGoesOutIn353ByteBlocksWhileTheReaderAsksForMore) {
  PowerT1Chip();
  const std::string apdu = Pattern(800);
  const RdaxChipData input = Data(RDAX_CHIPIO_PROTOCOL_T1, apdu);
  RdaxChipData output{};
  ASSERT_EQ(RDAX_CommunicateICC(handle_, &input, &output, nullptr), RDAX_OK);

  const auto sent = Commands();
  ASSERT_GE(sent.size(), 3u);
  const std::vector<std::string> chain(sent.end() - 3, sent.end());
  EXPECT_EQ(chain[0], "CF2" + apdu.substr(0, 353));
  EXPECT_EQ(chain[1], "CF2" + apdu.substr(353, 353));
  EXPECT_EQ(chain[2], "CF1" + apdu.substr(706));
  const auto answers = Answers();
  EXPECT_EQ(answers[answers.size() - 3], "PF222");
  EXPECT_EQ(answers[answers.size() - 2], "PF222");
  // The card does not know the command's class: its status word is the
  // whole answer.
  EXPECT_EQ(output.kind, RDAX_CHIPIO_PROTOCOL_T1);
  EXPECT_EQ(HexBytes(Bytes(output, output.length)), "6E00");
}

TEST_P(ChipOnSim, ReplyPartsAreAppendedUntilTheLastPart) {
  PowerT1Chip();
  const std::string record = Pattern(600, 3);
  Set("ChipRecords", "1.1=" + HexBytes(record));
  Set("ChainPartSize", "256");
  const RdaxChipData input = Data(RDAX_CHIPIO_PROTOCOL_T1, std::string("\x00\xB2\x01\x0C\x00", 5));
  RdaxChipData output{};
  ASSERT_EQ(RDAX_CommunicateICC(handle_, &input, &output, nullptr), RDAX_OK);
  ASSERT_EQ(output.length, 602u);
  EXPECT_EQ(Bytes(output, 600), record);
  EXPECT_EQ(HexBytes(Bytes(output, 602).substr(600)), "9000");

  const auto sent = Commands();
  EXPECT_EQ(sent[sent.size() - 3].substr(0, 3), "CF1");
  EXPECT_EQ(sent[sent.size() - 2], "CF3");
  EXPECT_EQ(sent[sent.size() - 1], "CF3");
  const auto answers = Answers();
  EXPECT_EQ(answers[answers.size() - 3].substr(0, 5), "PF121");
  EXPECT_EQ(answers[answers.size() - 2].substr(0, 5), "PF321");
  EXPECT_EQ(answers[answers.size() - 1].substr(0, 5), "PF320");
}

TEST_P(ChipOnSim, AReplyLongerThanTheOutputReportsItsLengthAndKeepsTheFirst2048Bytes) {
  PowerT1Chip();
  // Longer than one serial frame can carry, so the reader chains it.
  const std::string answer = Pattern(3000, 5) + std::string("\x90\x00", 2);
  Set("ChipApduTable", "80CA9F7F00=" + HexBytes(answer));
  Set("ChainPartSize", "1000");
  const RdaxChipData input = Data(RDAX_CHIPIO_PROTOCOL_T1, std::string("\x80\xCA\x9F\x7F\x00", 5));
  RdaxChipData output{};
  std::memset(&output, 0xEE, sizeof output);
  ASSERT_EQ(RDAX_CommunicateICC(handle_, &input, &output, nullptr), RDAX_OK);
  EXPECT_EQ(output.length, 3002u);
  EXPECT_EQ(Bytes(output, RDAX_CHIP_DATA_MAX), answer.substr(0, RDAX_CHIP_DATA_MAX));
}

TEST_P(ChipOnSim, AReaderThatNeverEndsItsReplyIsStoppedWithAFaultyReply) {
  PowerT1Chip();
  Set("ChipApduTable", "00CA000000=" + HexBytes(Pattern(300)) + "9000");
  Set("ChainPartSize", "256");
  // From the first fetch on the reader says "more" for ever.
  sim_.Control({"fault", reader(), "reply", "data=" + HexBytes("PF321AB"), "cmd=F3", "count=1000"});
  const RdaxChipData input = Data(RDAX_CHIPIO_PROTOCOL_T1, std::string("\x00\xCA\x00\x00\x00", 5));
  RdaxChipData output{};
  EXPECT_EQ(RDAX_CommunicateICC(handle_, &input, &output, nullptr), RDAX_E_FAULTY_REPLY);
  sim_.Control({"clear", reader()});
  size_t fetches = 0;
  for (const std::string& command : Commands()) fetches += command == "CF3";
  EXPECT_EQ(fetches, 63u);  // 64 parts in all, the first answering the last block
  EXPECT_EQ(output.length, 256u + 63u * 2u);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_FAULTY_REPLY);
}

TEST_P(ChipOnSim, T0AnswersComeWithTheirLengthAndGetResponseFetchesAnnouncedData) {
  Set("CardPosition", "inside");
  Set("ChipApplication", "A0000000041010=6F0A8407A0000000041010");
  RdaxChipData atr{};
  ASSERT_EQ(RDAX_ActivateICC(handle_, RDAX_RESET_COLD, &atr, nullptr), RDAX_OK);
  const RdaxChipData select = Data(
      RDAX_CHIPIO_PROTOCOL_T0, std::string("\x00\xA4\x04\x00\x07\xA0\x00\x00\x00\x04\x10\x10", 12));
  RdaxChipData output{};
  ASSERT_EQ(RDAX_CommunicateICC(handle_, &select, &output, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), "CF0" + std::string(reinterpret_cast<const char*>(select.data), 12));
  EXPECT_EQ(HexBytes(Bytes(output, output.length)), "610B");
  const RdaxChipData get = Data(RDAX_CHIPIO_PROTOCOL_T0, std::string("\x00\xC0\x00\x00\x0B", 5));
  ASSERT_EQ(RDAX_CommunicateICC(handle_, &get, &output, nullptr), RDAX_OK);
  EXPECT_EQ(HexBytes(Bytes(output, output.length)), "6F0A8407A00000000410109000");
}

TEST_P(ChipOnSim, SamStatusIsPresentOrOtherAndARefusalShowsAsStatusFour) {
  uint16_t status = 0;
  EXPECT_EQ(RDAX_GetSAMStatus(handle_, 1, &status, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), "Ce01");
  EXPECT_EQ(status, RDAX_SAM_STATUS_PRESENT);
  Set("Sam1", "status=41");
  EXPECT_EQ(RDAX_GetSAMStatus(handle_, 1, &status, nullptr), RDAX_OK);
  EXPECT_EQ(status, RDAX_SAM_STATUS_OTHER);
  // Slot 2 holds no SAM: the reader refuses the query, the query succeeds.
  EXPECT_EQ(RDAX_GetSAMStatus(handle_, 2, &status, nullptr), RDAX_OK);
  EXPECT_EQ(Answers().back().substr(0, 1), "N");
  EXPECT_EQ(status, RDAX_SAM_STATUS_REFUSED);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);
}

TEST_P(ChipOnSim, SamChainsRunWith52And51And50BehindTheSlotDigit) {
  Set("Sam3", "atr=3B021450 protocol=T1");
  Set("ChainPartSize", "300");
  const std::string answer = Pattern(500, 9) + std::string("\x90\x00", 2);
  const std::string apdu = Pattern(800, 2);
  Set("SamApduTable", HexBytes(apdu) + "=" + HexBytes(answer));
  RdaxChipData atr{};
  ASSERT_EQ(RDAX_ActivateSAM(handle_, 3, RDAX_RESET_WARM, &atr, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), "Ce430");
  EXPECT_EQ(atr.kind, RDAX_CHIPIO_PROTOCOL_T1);
  EXPECT_EQ(HexBytes(Bytes(atr, atr.length)), "3B021450");

  const RdaxChipData input = Data(RDAX_CHIPIO_PROTOCOL_T1, apdu);
  RdaxChipData output{};
  ASSERT_EQ(RDAX_CommunicateSAM(handle_, 3, &input, &output, nullptr), RDAX_OK);
  const auto sent = Commands();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(sent[sent.size() - 4], "Cf23" + apdu.substr(0, 353));
  EXPECT_EQ(sent[sent.size() - 3], "Cf23" + apdu.substr(353, 353));
  EXPECT_EQ(sent[sent.size() - 2], "Cf13" + apdu.substr(706));
  EXPECT_EQ(sent[sent.size() - 1], "Cf33");
  ASSERT_EQ(output.length, 502u);
  EXPECT_EQ(Bytes(output, 502), answer);

  EXPECT_EQ(RDAX_DeactivateSAM(handle_, 3, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), "Ce23");
}

TEST_P(ChipOnSim, WrongVerificationDataCountsDownAndLocksTheMemoryCard) {
  Set("CardPosition", "inside");
  Set("MemoryCard", "type=0 psc=123456");
  RdaxChipData answer{};
  ASSERT_EQ(RDAX_ActivateMemoryCard(handle_, RDAX_MEMCARD_SLE4442, &answer, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), "Cm50");
  EXPECT_EQ(answer.kind, 0);
  EXPECT_EQ(answer.length, 4u);

  const RdaxChipData wrong = Data(0, std::string("\x12\x34\x00", 3));
  const RdaxChipData right = Data(0, std::string("\x12\x34\x56", 3));
  EXPECT_NE(RDAX_VerifyMemoryCard(handle_, &wrong, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), std::string("Cm8\x12\x34\x00", 6));
  EXPECT_NE(Get("MemoryCard").find("tries=2"), std::string::npos);
  ASSERT_EQ(RDAX_VerifyMemoryCard(handle_, &right, nullptr), RDAX_OK);
  EXPECT_NE(Get("MemoryCard").find("tries=3"), std::string::npos);

  // Unlocked: a write goes through and reads back.
  const RdaxChipData write = Data(0, std::string("\x38\x00\x20\xAA\xBB", 5));
  RdaxChipData output{};
  ASSERT_EQ(RDAX_CommunicateMemoryCard(handle_, &write, &output, nullptr), RDAX_OK);
  const RdaxChipData read = Data(0, std::string("\x30\x00\x20\x02", 4));
  ASSERT_EQ(RDAX_CommunicateMemoryCard(handle_, &read, &output, nullptr), RDAX_OK);
  EXPECT_EQ(HexBytes(Bytes(output, output.length)), "AABB");

  for (int i = 0; i < 3; ++i) EXPECT_NE(RDAX_VerifyMemoryCard(handle_, &wrong, nullptr), RDAX_OK);
  EXPECT_NE(Get("MemoryCard").find("tries=0"), std::string::npos);
  EXPECT_NE(RDAX_VerifyMemoryCard(handle_, &right, nullptr), RDAX_OK);
  EXPECT_NE(RDAX_CommunicateMemoryCard(handle_, &write, &output, nullptr), RDAX_OK);
  EXPECT_EQ(RDAX_DeactivateMemoryCard(handle_, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), "Cm6");
}

INSTANTIATE_TEST_SUITE_P(Links, ChipOnSim, ::testing::Values(Link::kSerial, Link::kUsb), LinkName);

}  // namespace
}  // namespace rdaxsim
