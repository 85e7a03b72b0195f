// The contactless operations against the emulator's field, checked on the
// wire: the activation command and the card record it fills, the Mifare
// commands with the card picked by rank, the Type B selection with its
// parameter bytes and the chained Type B exchange, on both links.
#include <gtest/gtest.h>

#include <cstring>

#include "rdax_sim_fixture.h"
#include "rdax_wire.h"

namespace rdaxsim {
namespace {

constexpr uint8_t kKeyA[6] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};

class ContactlessOnSim : public RdaxOnSim {
 protected:
  void SetUp() override {
    RdaxOnSim::SetUp();
    std::memset(&cards_, 0, sizeof cards_);
    cards_.mark = RDAX_CONTACTLESS_MARK;
  }
  void Set(const std::string& field, const std::string& value) {
    sim_.Control({"set", reader(), field, value});
  }
  std::string Get(const std::string& field) {
    const std::string answer = sim_.Control({"get", reader(), field});
    return answer.substr(0, answer.find('\n'));
  }
  std::vector<std::string> Commands() { return WireMessages(sim_, reader(), "CMD"); }
  std::string Id(const RDAX_CONTACTLESS_CARD& card) {
    return HexBytes(std::string(reinterpret_cast<const char*>(card.id), 4));
  }

  RdaxContactlessCards cards_;
};

TEST_P(ContactlessOnSim, ATypeBBlockThenAMifareBlockFillTheRecordInReplyOrder) {
  Set("Contactless1", "typeb id=11223344 app=55667788 protocol=81A1B1");
  Set("Contactless2", "mifare uid=CAFE0001");
  ASSERT_EQ(RDAX_ActivateContactless(handle_, RDAX_CONTACTLESS_BOTH, 5, &cards_, nullptr), RDAX_OK);
  // Time and flags as text: the reader looks for both kinds for 5 seconds.
  EXPECT_EQ(Commands().back(), "Cn005110");
  EXPECT_EQ(Get("ContactlessField"), "on");
  EXPECT_EQ(cards_.mifareCount, 1);
  EXPECT_EQ(cards_.typeBCount, 1);
  EXPECT_EQ(cards_.otherCount, 0);
  EXPECT_EQ(cards_.card[0].type, RDAX_CARD_TYPEB);
  EXPECT_EQ(Id(cards_.card[0]), "11223344");
  EXPECT_EQ(HexBytes(std::string(reinterpret_cast<const char*>(cards_.card[0].applicationData), 4)),
            "55667788");
  EXPECT_EQ(HexBytes(std::string(reinterpret_cast<const char*>(cards_.card[0].protocolInfo), 3)),
            "81A1B1");
  EXPECT_EQ(cards_.card[1].type, RDAX_CARD_MIFARE);
  EXPECT_EQ(Id(cards_.card[1]), "CAFE0001");

  EXPECT_EQ(RDAX_DeactivateContactless(handle_, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), "Cn1");
  EXPECT_EQ(Get("ContactlessField"), "off");
}

TEST_P(ContactlessOnSim, CountsBeyondTheBlocksThatArrivedWriteOnlyWholeBlocks) {
  // The reader claims 99 cards of each kind but sends one block and a half.
  std::string block(17, '\0');
  block[0] = 1;
  block[5] = '\x42';
  const std::string reply = "Pn00000999999" + block + block.substr(0, 9);
  sim_.Control({"fault", reader(), "reply", "data=" + HexBytes(reply), "cmd=n0"});
  cards_.card[1].type = 77;
  cards_.card[98].type = 77;
  ASSERT_EQ(RDAX_ActivateContactless(handle_, RDAX_CONTACTLESS_MIFARE, 1, &cards_, nullptr),
            RDAX_OK);
  EXPECT_EQ(cards_.mifareCount, 99);
  EXPECT_EQ(cards_.card[0].type, RDAX_CARD_MIFARE);
  EXPECT_EQ(cards_.card[0].id[0], 0x42);
  EXPECT_EQ(cards_.card[1].type, 77u);
  EXPECT_EQ(cards_.card[98].type, 77u);
}

TEST_P(ContactlessOnSim, ABadRecordOrArgumentIsRefusedUnsent) {
  const size_t before = Commands().size();
  RdaxContactlessCards unmarked{};
  EXPECT_EQ(RDAX_ActivateContactless(handle_, RDAX_CONTACTLESS_MIFARE, 5, &unmarked, nullptr),
            RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_ActivateContactless(handle_, 3, 5, &cards_, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_ActivateContactless(handle_, RDAX_CONTACTLESS_MIFARE, 100, &cards_, nullptr),
            RDAX_E_PARAMETER);
  // A record without Mifare cards has none to authenticate.
  EXPECT_EQ(RDAX_MifareAuthenticate(handle_, &cards_, 0, 0, 1, kKeyA, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_MifareAuthenticate(handle_, &cards_, 0, 0, 1, nullptr, nullptr),
            RDAX_E_NULL_ARGUMENT);
  uint8_t block[16];
  EXPECT_EQ(RDAX_MifareRead(handle_, &cards_, 0, 65, block, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_MifareWrite(handle_, &cards_, 0, 4, block, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(Commands().size(), before);
}

TEST_P(ContactlessOnSim, CardNumberOnePicksTheSecondMifareCardPastATypeBCard) {
  Set("Contactless1", "mifare uid=0A0B0C0D");
  Set("Contactless2", "typeb id=11223344");
  Set("Contactless3",
      "mifare uid=01020304 keyA=A0A1A2A3A4A5 block.5=00112233445566778899AABBCCDDEEFF");
  ASSERT_EQ(RDAX_ActivateContactless(handle_, RDAX_CONTACTLESS_BOTH, 1, &cards_, nullptr), RDAX_OK);
  ASSERT_EQ(cards_.mifareCount, 2);

  ASSERT_EQ(RDAX_MifareAuthenticate(handle_, &cards_, 1, RDAX_MIFARE_KEY_A, 1, kKeyA, nullptr),
            RDAX_OK);
  const std::string auth("Cn2\x00\x00\x01\x02\x03\x04\x00\xA0\xA1\xA2\xA3\xA4\xA5\x00\x00\x01", 19);
  EXPECT_EQ(Commands().back(), auth);

  uint8_t block[16] = {};
  ASSERT_EQ(RDAX_MifareRead(handle_, &cards_, 1, 5, block, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), std::string("Cn2\x01\x05", 5));
  EXPECT_EQ(HexBytes(std::string(reinterpret_cast<const char*>(block), 16)),
            "00112233445566778899AABBCCDDEEFF");

  const uint8_t written[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  ASSERT_EQ(RDAX_MifareWrite(handle_, &cards_, 1, 6, written, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().back(), "Cn2" + std::string("\x02\x06", 2) +
                                   std::string(reinterpret_cast<const char*>(written), 16) +
                                   std::string(1, '\0'));
  EXPECT_NE(Get("Contactless3").find("block.6=0102030405060708090A0B0C0D0E0F10"),
            std::string::npos);

  // The first card's keys are not these: the reader refuses.
  EXPECT_NE(RDAX_MifareAuthenticate(handle_, &cards_, 0, RDAX_MIFARE_KEY_A, 1, kKeyA, nullptr),
            RDAX_OK);
  // A card taken out of the field cannot be authenticated any more.
  Set("Contactless3", "none");
  EXPECT_NE(RDAX_MifareAuthenticate(handle_, &cards_, 1, RDAX_MIFARE_KEY_A, 1, kKeyA, nullptr),
            RDAX_OK);
}

TEST_P(ContactlessOnSim, TypeBSelectionCarriesTheAttributeParameterBytes) {
  Set("Contactless1", "mifare uid=0A0B0C0D");
  Set("Contactless2", "typeb id=11223344 app=55667788 attrib=10");
  ASSERT_EQ(RDAX_ActivateContactless(handle_, RDAX_CONTACTLESS_BOTH, 1, &cards_, nullptr), RDAX_OK);
  RDAX_TYPEB_ATTRIBUTE attribute{};
  attribute.mark = RDAX_TYPEB_ATTRIBUTE_MARK;
  attribute.sofRequired = 1;
  attribute.eofRequired = 0;
  attribute.tr0 = 2;
  attribute.tr1 = 1;
  attribute.maxFrameSizeCode = 8;
  attribute.bitRateCode1 = 1;
  attribute.bitRateCode2 = 3;
  attribute.protocolType = 1;
  attribute.cardIdentifier = 15;
  RdaxChipData input{};
  input.length = 2;
  input.data[0] = 0xAB;
  input.data[1] = 0xCD;
  RdaxChipData output{};
  ASSERT_EQ(RDAX_TypeBAttribute(handle_, &cards_, 0, &attribute, &input, &output, nullptr),
            RDAX_OK);
  // n = 12 + 2; TR0 2, TR1 1, no EOF: 0x98; bit rates 3 and 1, frame 8: 0xD8.
  EXPECT_EQ(HexBytes(Commands().back()),
            "436E33"
            "00"
            "000E"
            "11223344"
            "55667788"
            "98D8010F"
            "ABCD");
  EXPECT_EQ(HexBytes(std::string(reinterpret_cast<const char*>(output.data), output.length)), "10");

  // Without attributes but with data the parameters are fixed; without
  // either the command ends after the card's identity.
  ASSERT_EQ(RDAX_TypeBAttribute(handle_, &cards_, 0, nullptr, &input, &output, nullptr), RDAX_OK);
  EXPECT_EQ(HexBytes(Commands().back()),
            "436E33"
            "00"
            "000E"
            "11223344"
            "55667788"
            "00800100"
            "ABCD");
  ASSERT_EQ(RDAX_TypeBAttribute(handle_, &cards_, 0, nullptr, nullptr, &output, nullptr), RDAX_OK);
  EXPECT_EQ(HexBytes(Commands().back()),
            "436E33"
            "00"
            "0008"
            "11223344"
            "55667788");

  const size_t before = Commands().size();
  attribute.mark = 23;
  EXPECT_EQ(RDAX_TypeBAttribute(handle_, &cards_, 0, &attribute, nullptr, &output, nullptr),
            RDAX_E_PARAMETER);
  attribute.mark = RDAX_TYPEB_ATTRIBUTE_MARK;
  attribute.cardIdentifier = 14;
  EXPECT_EQ(RDAX_TypeBAttribute(handle_, &cards_, 0, &attribute, nullptr, &output, nullptr),
            RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_TypeBAttribute(handle_, &cards_, 1, nullptr, nullptr, &output, nullptr),
            RDAX_E_PARAMETER);
  EXPECT_EQ(Commands().size(), before);
}

TEST_P(ContactlessOnSim, TypeBExchangeSends360ByteBlocksAndGathersTheChainedAnswer) {
  Set("Contactless1", "typeb id=11223344 app=55667788");
  Set("ChainPartSize", "256");
  const std::string apdu = Pattern(800, 4);
  const std::string answer = Pattern(600, 6) + std::string("\x90\x00", 2);
  Set("TypeBApduTable", HexBytes(apdu) + "=" + HexBytes(answer));
  ASSERT_EQ(RDAX_ActivateContactless(handle_, RDAX_CONTACTLESS_TYPEB, 1, &cards_, nullptr),
            RDAX_OK);
  RdaxChipData output{};
  ASSERT_EQ(RDAX_TypeBAttribute(handle_, &cards_, 0, nullptr, nullptr, &output, nullptr), RDAX_OK);

  RdaxChipData input{};
  input.length = 800;
  std::memcpy(input.data, apdu.data(), apdu.size());
  ASSERT_EQ(RDAX_TypeBCommunication(handle_, &cards_, 0, &input, &output, nullptr), RDAX_OK);
  const auto sent = Commands();
  ASSERT_GE(sent.size(), 5u);
  EXPECT_EQ(sent[sent.size() - 5], std::string("Cn3\x03\x01\x68", 6) + apdu.substr(0, 360));
  EXPECT_EQ(sent[sent.size() - 4], std::string("Cn3\x03\x01\x68", 6) + apdu.substr(360, 360));
  EXPECT_EQ(sent[sent.size() - 3], std::string("Cn3\x02\x00\x50", 6) + apdu.substr(720));
  EXPECT_EQ(sent[sent.size() - 3].size(), 86u);
  EXPECT_EQ(sent[sent.size() - 2], std::string("Cn3\x04\x00\x00", 6));
  EXPECT_EQ(sent[sent.size() - 1], std::string("Cn3\x04\x00\x00", 6));
  ASSERT_EQ(output.length, 602u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(output.data), 602), answer);
}

TEST_P(ContactlessOnSim, AnEndlessTypeBChainFromAFaultyReaderEndsCleanly) {
  Set("Contactless1", "typeb id=11223344 app=55667788");
  ASSERT_EQ(RDAX_ActivateContactless(handle_, RDAX_CONTACTLESS_TYPEB, 1, &cards_, nullptr),
            RDAX_OK);
  // Every answer claims more to come, with a length beyond what it carries.
  sim_.Control({"fault", reader(), "reply", "data=" + HexBytes(std::string("Pn300710FFFF\x01", 13)),
                "cmd=n3", "count=1000"});
  RdaxChipData input{};
  input.length = 4;
  RdaxChipData output{};
  EXPECT_EQ(RDAX_TypeBCommunication(handle_, &cards_, 0, &input, &output, nullptr),
            RDAX_E_FAULTY_REPLY);
  sim_.Control({"clear", reader()});
  EXPECT_LE(output.length, 64u * 4u);
}

INSTANTIATE_TEST_SUITE_P(Links, ContactlessOnSim, ::testing::Values(Link::kSerial, Link::kUsb),
                         LinkName);

}  // namespace
}  // namespace rdaxsim
