// The chip side and the contactless field as the reader's commands and
// fields show them: what a card does that the API library cannot see
// directly (keys that change with their trailer, a card leaving the field, a
// memory card type without verification data, malformed settings).
#include <gtest/gtest.h>

#include <string>

#include "command_dispatcher.h"
#include "field_table.h"
#include "reader_commands.h"
#include "reader_fields.h"

namespace q7msim {
namespace {

class ChipSide : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegisterReaderCommands(&dispatcher_));
    AddReaderStateFields(&state_, &fields_);
  }
  std::string Run(const std::string& command) {
    ResponseBuffer response;
    dispatcher_.Execute(state_, reinterpret_cast<const uint8_t*>(command.data()), command.size(),
                        &response);
    return std::string(reinterpret_cast<const char*>(response.data()), response.size());
  }
  std::string Set(const std::string& field, const std::string& value) {
    return fields_.Set(field, value);
  }
  std::string Get(const std::string& field) {
    std::string value;
    fields_.Get(field, &value);
    return value;
  }
  static std::string Auth(const std::string& uid, char keyType, const std::string& key,
                          char sector) {
    return std::string("Cn2\x00\x00", 5) + uid + keyType + key + std::string(2, '\0') + sector;
  }

  CommandDispatcher dispatcher_;
  ReaderState state_;
  FieldTable fields_;
};

TEST_F(ChipSide, WritingASectorTrailerChangesTheSectorsKeys) {
  ASSERT_EQ(Set("Contactless1", "mifare uid=01020304"), "");
  ASSERT_EQ(Run("Cn001100").substr(0, 13), "Pn00000010000");
  const std::string uid("\x01\x02\x03\x04", 4);
  const std::string transport(6, '\xFF');
  ASSERT_EQ(Run(Auth(uid, '\0', transport, '\x02')), "Pn200");
  const std::string newKeyA("\x11\x22\x33\x44\x55\x66", 6);
  const std::string trailer = newKeyA + std::string("\xFF\x07\x80\x69", 4) + transport;
  ASSERT_EQ(Run(std::string("Cn2\x02\x0B", 5) + trailer + '\0'), "Pn200");
  EXPECT_EQ(Run(Auth(uid, '\0', transport, '\x02')), "Nn2A4");
  EXPECT_EQ(Run(Auth(uid, '\0', newKeyA, '\x02')), "Pn200");
  // Block 0 is the manufacturer's; another sector was not authenticated.
  EXPECT_EQ(Run(std::string("Cn2\x02\x00", 5) + std::string(17, '\0')), "Nn2A5");
  EXPECT_EQ(Run(std::string("Cn2\x01\x04", 5)), "Nn2A5");
  EXPECT_EQ(Run(std::string("Cn2\x01\x08", 5)).size(), 7u + 16u);
}

TEST_F(ChipSide, ACardThatLeavesTheFieldTakesItsAuthenticationAlong) {
  ASSERT_EQ(Set("Contactless1", "mifare uid=01020304"), "");
  Run("Cn001100");
  ASSERT_EQ(Run(Auth(std::string("\x01\x02\x03\x04", 4), '\1', std::string(6, '\xFF'), '\0')),
            "Pn200");
  ASSERT_EQ(Set("Contactless1", "none"), "");
  ASSERT_EQ(Set("Contactless1", "mifare uid=01020304"), "");
  EXPECT_EQ(Run(std::string("Cn2\x01\x01", 5)), "Nn2A5");
  // With the field off nothing is there to talk to.
  Run("Cn1");
  EXPECT_EQ(Get("ContactlessField"), "off");
  EXPECT_EQ(Run(std::string("Cn2\x01\x01", 5)), "Nn2A0");
}

TEST_F(ChipSide, OnlyTheSearchedKindsAreCountedAndOtherCardsAlways) {
  ASSERT_EQ(Set("Contactless1", "typeb id=0A0B0C0D"), "");
  ASSERT_EQ(Set("Contactless2", "other"), "");
  ASSERT_EQ(Set("Contactless3", "mifare uid=01020304"), "");
  const std::string reply = Run("Cn009100");
  EXPECT_EQ(reply.substr(7, 6), "010001");
  ASSERT_EQ(reply.size(), 13u + 2 * 17u);
  EXPECT_EQ(reply[13], '\x04');
  EXPECT_EQ(reply[30], '\x01');
}

TEST_F(ChipSide, MemoryCardsWithoutVerificationDataWriteFreelyAndRefuseVerification) {
  ASSERT_EQ(Set("CardPosition", "inside"), "");
  ASSERT_EQ(Set("MemoryCard", "type=3"), "");
  EXPECT_EQ(Run("Cm50").substr(0, 3), "Nm5");  // not the type inside
  ASSERT_EQ(Run("Cm53").substr(0, 5), "Pm523");
  EXPECT_EQ(Run(std::string("Cm7\x38\x03\xFF\x5A", 7)), "Pm723");
  EXPECT_EQ(Run(std::string("Cm7\x30\x03\xFF\x01", 7)), "Pm723\x5A");
  EXPECT_EQ(Run(std::string("Cm7\x30\x03\xFF\x02", 7)).substr(0, 3), "Nm7");  // past the end
  EXPECT_EQ(Run(std::string("Cm8\x01\x02", 5)), "Nm802");
  EXPECT_EQ(Set("MemoryCard", "type=3 psc=0102"), "MemoryCard: this type has no verification data");
}

TEST_F(ChipSide, SettingsThatDoNotParseLeaveTheModelAsItWas) {
  const std::string before = Get("Contactless1");
  EXPECT_NE(Set("Contactless1", "mifare"), "");
  EXPECT_NE(Set("Contactless1", "mifare uid=0102"), "");
  EXPECT_NE(Set("Contactless1", "typeb id=01020304 app=01"), "");
  EXPECT_NE(Set("Contactless1", "mifare uid=01020304 block.64=00"), "");
  EXPECT_EQ(Get("Contactless1"), before);
  EXPECT_NE(Set("ChipApduTable", "00A4=900"), "");
  EXPECT_NE(Set("ChipAtr", ""), "");
  EXPECT_NE(Set("Sam2", "atr=3B protocol=T2"), "");
  EXPECT_EQ(Get("Sam2"), "none");
  EXPECT_NE(Set("ChainPartSize", "1041"), "");
}

TEST_F(ChipSide, AnAnswerLeftUnfetchedIsGivenUpByTheNextExchange) {
  ASSERT_EQ(Set("CardPosition", "inside"), "");
  ASSERT_EQ(Set("ChipProtocol", "T1"), "");
  ASSERT_EQ(Set("ChainPartSize", "4"), "");
  ASSERT_EQ(Set("ChipApduTable", "00CA0000=0102030405069000"), "");
  ASSERT_EQ(Run("CG10").substr(0, 6), "PG1111");
  EXPECT_EQ(Run(std::string("CF1\x00\xCA\x00\x00", 7)), std::string("PF121\x01\x02\x03\x04", 9));
  EXPECT_EQ(Run(std::string("CF1\x00\xCA\x00\x00", 7)), std::string("PF121\x01\x02\x03\x04", 9));
  EXPECT_EQ(Run("CF3"), std::string("PF320\x05\x06\x90\x00", 9));
  EXPECT_EQ(Run("CF3").substr(0, 3), "NF3");
}

}  // namespace
}  // namespace q7msim
