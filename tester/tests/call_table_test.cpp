// Each API index becomes the exact library call, with the arguments in the
// library's order and the records cleared or filled as the call needs them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "api_list.h"
#include "call_table.h"
#include "fake_rdax.h"

namespace {

using namespace q7m::rigtool;

const RDAX* const kHandle = reinterpret_cast<const RDAX*>(0x1000);
const Q7M_HANDLE kEvent = reinterpret_cast<Q7M_HANDLE>(0x2000);

uintptr_t W(const void* p) {
  return reinterpret_cast<uintptr_t>(p);
}

class CallTable : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(r_.get(), 0xA5, sizeof *r_);  // whatever an earlier call left
    fakerdax::answer = 0;
  }
  CallOutcome Call(int api, Params params, Q7M_HANDLE event = kEvent) {
    fakerdax::last = {};
    return CallApi(api, {kHandle, event, params}, *r_);
  }
  const std::vector<uintptr_t>& Args() const { return fakerdax::last.args; }
  std::unique_ptr<ToolRecords> r_ = std::make_unique<ToolRecords>();
};

TEST_F(CallTable, EveryEntryCallsTheFunctionOfItsName) {
  for (int api = 0; api < kApiCount; ++api) {
    // A one-byte attribute would be refused; an empty one passes null.
    Call(api, api == kTypeBAttribute ? Params{} : Params{"1", "1", "1", "1"});
    EXPECT_EQ(fakerdax::last.name, "RDAX_" + std::string(ApiName(api))) << api;
    EXPECT_EQ(Args().front(), W(kHandle)) << api;
    if (api != kLogErrorData) {
      EXPECT_EQ(Args().back(), W(kEvent)) << api;
    }
  }
  Call(kLogErrorData, {"text"});
  EXPECT_EQ(Args().size(), 2u) << "LogErrorData takes no event";
}

TEST_F(CallTable, NumbersArriveConvertedAndInTheirPlaces) {
  Call(5, {"5"});
  EXPECT_EQ(Args()[1], 5u);
  Call(5, {"0x05"});
  EXPECT_EQ(Args()[1], 5u) << "typed 0x05 calls ReadMagTrack with 5 as the picked entry does";
  Call(38, {"5"});
  EXPECT_EQ(Args()[1], 5u) << "RDAX_SET_ICSTD_EMV";
  Call(29, {"2", "2"});
  EXPECT_EQ(Args()[2], 2u) << "BLINK1HZ is the second number";
  for (const char* sixteen : {"0x10", "020", "16"}) {
    Call(44, {sixteen, "1", "2"});
    EXPECT_EQ(Args()[1], 16u) << sixteen;
    EXPECT_EQ(Args()[2], 1u);
    EXPECT_EQ(Args()[3], 2u);
  }
  Call(12, {"3", "2"});
  EXPECT_EQ(Args()[1], 3u);
  EXPECT_EQ(Args()[2], 2u);
  EXPECT_EQ(Args()[3], W(&r_->samResponse));
  EXPECT_EQ(r_->samResponse.length, 0u) << "the response block is cleared";
}

TEST_F(CallTable, TheTransactionSettingHoldsTheFourNumbersInOrder) {
  Call(3, {"1", "7", "1", "0"});
  EXPECT_EQ(Args()[1], W(&r_->transaction));
  EXPECT_EQ(r_->transaction.readDirection, 1u);
  EXPECT_EQ(r_->transaction.readTracks, 7u);
  EXPECT_EQ(r_->transaction.lockOnInsert, 1u);
  EXPECT_EQ(r_->transaction.lockOnPullOut, 0u);
}

TEST_F(CallTable, DataTextFillsTheCommandBlockAndAnEmptyOneGivesLengthZero) {
  Call(11, {"2", "{00 A4 04 00}"});
  EXPECT_EQ(Args()[1], W(&r_->chipCommand));
  EXPECT_EQ(r_->chipCommand.kind, 2);
  EXPECT_EQ(r_->chipCommand.length, 4u);
  EXPECT_EQ(r_->chipCommand.data[1], 0xA4);
  EXPECT_EQ(r_->chipCommand.data[4], 0) << "the block was cleared first";
  Call(11, {"1", ""});
  EXPECT_EQ(fakerdax::last.name, "RDAX_CommunicateICC");
  EXPECT_EQ(r_->chipCommand.length, 0u);
  Call(14, {"2", "1", "AB{0D}"});
  EXPECT_EQ(Args()[1], 2u);
  EXPECT_EQ(r_->samCommand.kind, 1);
  EXPECT_EQ(r_->samCommand.length, 3u);
  Call(18, {"{1,2,3}"});
  EXPECT_EQ(r_->chipCommand.kind, 0) << "memory cards pass protocol 0";
  EXPECT_EQ(r_->chipCommand.length, 3u);
}

TEST_F(CallTable, ADataTextThatDoesNotParseOrFitMakesNoCall) {
  for (auto [api, params] : {std::pair{11, Params{"1", "{G1}"}}, std::pair{43, Params{"{A"}},
                             std::pair{22, Params{"0", "1", "{01 02 03 04 05 06 07}"}},
                             std::pair{24, Params{"4", std::string(17, 'x')}}}) {
    const CallOutcome outcome = Call(api, params);
    EXPECT_EQ(outcome.status, CallStatus::kDataRefused) << api;
    EXPECT_EQ(fakerdax::last.name, "") << api;
  }
  EXPECT_EQ(Call(11, {"1", std::string(2048, 'x')}).status, CallStatus::kCalled);
  EXPECT_EQ(Call(11, {"1", std::string(2049, 'x')}).status, CallStatus::kDataRefused)
      << "never written past the command block";
}

TEST_F(CallTable, TypeBAttributePassesNullForEmptyTextsAndRefusesAnythingButNineBytes) {
  Call(kTypeBAttribute, {"", ""});
  EXPECT_EQ(Args()[3], 0u) << "no attribute record";
  EXPECT_EQ(Args()[4], 0u) << "no command block";
  EXPECT_EQ(Args()[5], W(&r_->chipResponse));
  Call(kTypeBAttribute, {"{01 01 02 02 08 03 03 01 0F}", "{00 84}"});
  ASSERT_EQ(Args()[3], W(&r_->typeBAttribute));
  EXPECT_EQ(r_->typeBAttribute.mark, RDAX_TYPEB_ATTRIBUTE_MARK);
  EXPECT_EQ(r_->typeBAttribute.cardIdentifier, 15);
  EXPECT_EQ(r_->typeBAttribute.reserved1, 0);
  EXPECT_EQ(Args()[4], W(&r_->chipCommand));
  EXPECT_EQ(r_->chipCommand.length, 2u);
  for (const char* bad : {"{01 02}", "{G}", "0123456789"}) {
    EXPECT_EQ(Call(kTypeBAttribute, {bad, ""}).status, CallStatus::kAttributeRefused) << bad;
    EXPECT_EQ(fakerdax::last.name, "") << bad;
  }
  EXPECT_EQ(Call(kTypeBAttribute, {"", "{G1}"}).status, CallStatus::kDataRefused);
}

TEST_F(CallTable, ContactlessCallsPassTheKeptCardRecordAndCardZero) {
  Call(kActivateContactless, {"6", "10"});
  EXPECT_EQ(r_->contactless.mark, RDAX_CONTACTLESS_MARK);
  EXPECT_EQ(Args()[3], W(&r_->contactless));
  Call(22, {"1", "3", "{FF FF FF FF FF FF}"});
  EXPECT_EQ(Args()[1], W(&r_->contactless));
  EXPECT_EQ(Args()[2], 0u);
  EXPECT_EQ(Args()[3], 1u);
  EXPECT_EQ(Args()[4], 3u);
  EXPECT_EQ(Args()[5], W(r_->mifareKey));
  EXPECT_EQ(r_->mifareKey[5], 0xFF);
  Call(22, {"0", "0", "{01}"});
  EXPECT_EQ(r_->mifareKey[1], 0) << "a short key is padded with zeros, not with old bytes";
  Call(24, {"4", "{01 02}"});
  EXPECT_EQ(Args()[3], 4u);
  EXPECT_EQ(r_->mifareBlock[1], 2);
  EXPECT_EQ(r_->mifareBlock[2], 0);
}

TEST_F(CallTable, SendCommandPassesItsBytesTimeoutsAndTheResponseBuffer) {
  Call(kSendCommand, {"C00", "5", "7"});
  EXPECT_EQ(Args()[1], W(r_->sendCommand));
  EXPECT_EQ(Args()[2], 3u);
  EXPECT_EQ(Args()[3], 5u);
  EXPECT_EQ(Args()[4], W(r_->sendResponse));
  EXPECT_EQ(Args()[5], 4096u);
  EXPECT_EQ(Args()[6], W(&r_->sendResponseLength));
  EXPECT_EQ(Args()[7], 7u);
  EXPECT_EQ(std::memcmp(r_->sendCommand, "C00", 3), 0);
}

TEST_F(CallTable, OutputRecordsAreClearedBeforeTheCallButTheSamStatusIsNot) {
  Call(1, {});
  EXPECT_EQ(r_->status.deviceStatus, 0);
  Call(5, {"7"});
  EXPECT_EQ(r_->tracks.length[2], 0);
  Call(36, {});
  EXPECT_EQ(r_->iccStandard, 0);
  Call(15, {"1"});
  EXPECT_EQ(r_->samStatus, 0xA5A5) << "a failed call shows the last status";
  Call(41, {"/tmp/fw.bin"}, nullptr);
  EXPECT_EQ(Args()[2], 0u) << "synchronous: a null event";
}

}  // namespace
