// The card slot's magnetic side in-process: reading as the transaction
// setting asks, the track read answer at the offsets the API reads, the
// locks, a jam, and the card handled through the control verbs.
#include <gtest/gtest.h>

#include <string>

#include "card_control.h"
#include "command_dispatcher.h"
#include "field_table.h"
#include "reader_commands.h"
#include "reader_fields.h"

namespace q7msim {
namespace {

constexpr char kTrack1[] = "%B4111111111111111^DOE/JOHN Q^2512101000000000?";
constexpr char kTrack2[] = ";4111111111111111=25121010000000000?";

class CardSlot : public testing::Test {
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
  void Set(const std::string& field, const std::string& value) {
    ASSERT_EQ(fields_.Set(field, value), "") << field;
  }
  std::string Get(const std::string& field) {
    std::string value;
    EXPECT_TRUE(fields_.Get(field, &value)) << field;
    return value;
  }
  void Insert(CardPosition where = CardPosition::kInside) { state_.MoveCard(where); }

  CommandDispatcher dispatcher_;
  ReaderState state_;
  FieldTable fields_;
};

TEST_F(CardSlot, TrackReadAnswerLaysOutResultsLengthsAndDataInTrackOrder) {
  Set("Track1", kTrack1);
  Set("Track2", kTrack2);
  Set("Track3", "error=46:0123");
  Insert();
  // Track set "7": results at 6, 8, 10, lengths at 12, 15, 18, data from 21.
  EXPECT_EQ(Run("C6a7"), std::string("P6a027000046047036004") + kTrack1 + kTrack2 + "0123");
  // Set "3" is track 3 alone; "4" tracks 1 and 2.
  EXPECT_EQ(Run("C6a3"), "P6a023460040123");
  EXPECT_EQ(Run("C6a4").substr(0, 16), "P6a0240000047036");
  EXPECT_EQ(state_.Counter(ReaderCounter::kTrackReads), 3u);
  EXPECT_EQ(state_.Counter(ReaderCounter::kTrackErrors), 2u);  // track 3, twice
}

TEST_F(CardSlot, FailedTracksSendNoDataAndLaterTracksStartAtTheFirstDataPosition) {
  Set("Track1", "error=43:IGNORED");
  Set("Track3", "7777");
  Insert();
  EXPECT_EQ(Run("C6a5"), "P6a02543000000047777");
  Set("Track1", "blank");
  EXPECT_EQ(Get("Track1"), "blank");
  EXPECT_EQ(Run("C6a1"), "P6a02143000");
}

TEST_F(CardSlot, WithoutACardOrReadDataEveryTrackReportsNothingRead) {
  EXPECT_EQ(Run("C6a2"), "P6a00240000");
  EXPECT_EQ(Run("C6a8").substr(0, 1), "N");
  EXPECT_EQ(Run("C6a").substr(0, 1), "N");
}

TEST_F(CardSlot, TheTransactionSettingReadsOnInsertionOrPullOutIntoTheBuffer) {
  Set("Track2", kTrack2);
  EXPECT_EQ(Run("C:61210"), "P:600");
  EXPECT_EQ(Get("TransactionSetting"), "1210");
  Insert();
  EXPECT_EQ(Get("ReadData"), "2");
  EXPECT_EQ(Get("CardLocked"), "on");
  // The buffer answers even after the card has left.
  EXPECT_EQ(Run("CC1"), "PC102");
  state_.MoveCard(CardPosition::kNone);
  EXPECT_EQ(Run("C6a2"), std::string("P6a00200036") + kTrack2);
  EXPECT_EQ(Run("C6s"), "P6s00");
  EXPECT_EQ(Get("ReadData"), "none");

  // Reading on pull-out, with the pull-out lock holding the card in the throat.
  EXPECT_EQ(Run("C:62201"), "P:600");
  Insert();
  EXPECT_EQ(Get("ReadData"), "none");
  state_.MoveCard(CardPosition::kGate);
  EXPECT_EQ(Get("ReadData"), "2");
  EXPECT_EQ(Get("CardLocked"), "on");
  EXPECT_EQ(Run("C9200"), "P920101110");
}

TEST_F(CardSlot, RefusesMalformedSettings) {
  for (const char* bad : {"C:6", "C:63000", "C:61800", "C:61220", "C:612100"}) {
    EXPECT_EQ(Run(bad).substr(0, 1), "N") << bad;
  }
  EXPECT_EQ(Get("TransactionSetting"), "0700");
}

TEST_F(CardSlot, AJammedCardRefusesReadsLocksAndStatusUntilReset) {
  Insert();
  Set("Jam", "07");
  EXPECT_EQ(Run("C6a1"), "N6a07");
  EXPECT_EQ(Run("CC0"), "NC007");
  EXPECT_EQ(Run("C10"), "N1007");
  EXPECT_EQ(Run("C00"), "P0002");
  EXPECT_EQ(Get("Jam"), "none");
  EXPECT_EQ(Run("C10"), "P1002");
}

TEST_F(CardSlot, MonitoringAnswersItsDigitsAndAsksTheReaderToWait) {
  EXPECT_EQ(Run("C9200"), "P920000000");
  EXPECT_EQ(state_.transport.monitorRequest, -1);
  Insert(CardPosition::kGate);
  EXPECT_EQ(Run("C9205"), "P920101000");
  EXPECT_EQ(state_.transport.monitorRequest, 5);
  EXPECT_EQ(Run("C925").substr(0, 1), "N");
}

TEST(CardTracks, TrackSpecsRoundTripAndRefuseWhatNoCardHolds) {
  MagTrack track;
  std::string problem;
  ASSERT_TRUE(ParseTrackSpec("error=46:AB CD", &track, &problem));
  EXPECT_EQ(track.data, "AB CD");
  EXPECT_EQ(FormatTrackSpec(track), "error=46:AB CD");
  EXPECT_FALSE(ParseTrackSpec("error=4", &track, &problem));
  EXPECT_FALSE(ParseTrackSpec("error=46X", &track, &problem));
  EXPECT_FALSE(ParseTrackSpec(std::string(1000, '1'), &track, &problem));
  EXPECT_FALSE(ParseTrackSpec("tab\there", &track, &problem));
  EXPECT_EQ(SplitQuoted(R"(--track1 "A B" --track2="x\"y" z)"),
            (std::vector<std::string>{"--track1", "A B", "--track2=x\"y", "z"}));
}

}  // namespace
}  // namespace q7msim
