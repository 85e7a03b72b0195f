// Card transport and the magnetic stripe through the API on an emulated
// reader, on both links: the commands on the wire, track records filled from
// cards inserted through the emulator's control socket, monitoring that
// ends when another process moves the card, the reset's recovery, the
// restriction guard and replies cut short.
#include <gtest/gtest.h>

#include <cstring>

#include "q7m/sequor.h"
#include "rdax_sim_fixture.h"

namespace rdaxsim {
namespace {

const std::string kTrack1 = "%B4111111111111111^DOE/JOHN^2512101000000000?";
const std::string kTrack2 = ";4111111111111111=25121010000000000?";
const std::string kTrack3 = ";011234567890123445=724724100000000000030300000000000000000000000?";

class CardTransportOnSim : public RdaxOnSim {
 protected:
  std::string Control(const std::vector<std::string>& words) { return sim_.Control(words); }
  void Insert(const std::vector<std::string>& options) {
    std::vector<std::string> words{"insert", reader()};
    words.insert(words.end(), options.begin(), options.end());
    Control(words);
  }
  static std::string Data(const uint8_t* area, uint8_t length) {
    return std::string(reinterpret_cast<const char*>(area), length);
  }
  void Reply(const std::string& code, const std::string& bytes) {
    Control({"fault", reader(), "reply", "data=" + Hex(bytes), "cmd=" + code});
  }
};

TEST_P(CardTransportOnSim, TransactionSettingSendsDirectionTrackSetAndLocks) {
  RDAX_TRANSACTION_SETTING setting{RDAX_READ_ON_INSERT, RDAX_TRACK_ALL, 1, 0};
  ASSERT_EQ(RDAX_PrepareTransactionSetting(handle_, &setting, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "C:61710");
  setting = {RDAX_READ_ON_PULLOUT, RDAX_TRACK_3, 0, 7};
  ASSERT_EQ(RDAX_PrepareTransactionSetting(handle_, &setting, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "C:62301");

  setting.readDirection = 3;
  EXPECT_EQ(RDAX_PrepareTransactionSetting(handle_, &setting, nullptr), RDAX_E_PARAMETER);
  setting = {RDAX_READ_NONE, 8, 0, 0};
  EXPECT_EQ(RDAX_PrepareTransactionSetting(handle_, &setting, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_PrepareTransactionSetting(handle_, nullptr, nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(LastCommand(), "C:62301");
}

TEST_P(CardTransportOnSim, ACardReadOnInsertionDeliversItsTracksInTheRecord) {
  RDAX_TRANSACTION_SETTING setting{RDAX_READ_ON_INSERT, RDAX_TRACK_ALL, 0, 0};
  ASSERT_EQ(RDAX_PrepareTransactionSetting(handle_, &setting, nullptr), RDAX_OK);
  Insert({"--track1", kTrack1, "--track2", kTrack2, "--track3", kTrack3});
  RDAX_TRACK_DATA tracks;
  std::memset(&tracks, 0xEE, sizeof tracks);
  Event done;
  ASSERT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_ALL, &tracks, done.get()), 0x00000001u);
  ASSERT_TRUE(done.Wait());
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);
  EXPECT_EQ(LastCommand(), "C6a7");
  for (int t = 0; t < 3; ++t) EXPECT_EQ(tracks.result[t], RDAX_OK) << t;
  EXPECT_EQ(Data(tracks.track1, tracks.length[0]), kTrack1);
  EXPECT_EQ(Data(tracks.track2, tracks.length[1]), kTrack2);
  EXPECT_EQ(Data(tracks.track3, tracks.length[2]), kTrack3);
}

TEST_P(CardTransportOnSim, MasksThreeAndFourUseTheReadersSwappedCharacters) {
  Insert({"--track1", kTrack1, "--track2", kTrack2, "--track3", kTrack3});
  RDAX_TRACK_DATA tracks;
  std::memset(&tracks, 0xEE, sizeof tracks);
  ASSERT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_3, &tracks, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "C6a3");
  EXPECT_EQ(Data(tracks.track3, tracks.length[2]), kTrack3);
  EXPECT_EQ(tracks.result[0], 0xEEEEEEEEu) << "tracks not asked for are left alone";
  ASSERT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_1 | RDAX_TRACK_2, &tracks, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "C6a4");
  EXPECT_EQ(Data(tracks.track1, tracks.length[0]), kTrack1);
  EXPECT_EQ(Data(tracks.track2, tracks.length[1]), kTrack2);

  EXPECT_EQ(RDAX_ReadMagTrack(handle_, 0, &tracks, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, 8, &tracks, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, 1, nullptr, nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(LastCommand(), "C6a4");
}

TEST_P(CardTransportOnSim, A46TrackStillDeliversItsDataAndA43TrackNone) {
  Insert({"--track1", "error=46:%B41^X^?", "--track2", "blank", "--track3", kTrack3});
  RDAX_TRACK_DATA tracks{};
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_ALL, &tracks, nullptr), 0x44040006u);
  EXPECT_EQ(tracks.result[0], 0x44040006u);
  EXPECT_EQ(Data(tracks.track1, tracks.length[0]), "%B41^X^?");
  EXPECT_EQ(tracks.result[1], 0x44040003u);
  EXPECT_EQ(tracks.length[1], 0);
  EXPECT_EQ(Data(tracks.track3, tracks.length[2]), kTrack3);
  // Counted by the reader: one read, one track in error ("46" is one too).
  std::string counters = Control({"get", reader(), "Counters"});
  EXPECT_EQ(counters.substr(0, counters.find(',', counters.find(',') + 1)), "1,1");
}

TEST_P(CardTransportOnSim, WithAFailedTrackOneTrackThreeIsReadFromTheFirstDataPosition) {
  Insert({"--track1", "error=41", "--track3", "7777"});
  RDAX_TRACK_DATA tracks{};
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_1 | RDAX_TRACK_3, &tracks, nullptr), 0x44040001u);
  EXPECT_EQ(LastCommand(), "C6a5");
  EXPECT_EQ(tracks.length[0], 0);
  EXPECT_EQ(Data(tracks.track3, tracks.length[2]), "7777");

  // Even when the reader states a length for the failed track.
  Reply("6a",
        "P6a005"
        "43"
        "00"
        "005"
        "004"
        "8888");
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_1 | RDAX_TRACK_3, &tracks, nullptr), 0x44040003u);
  EXPECT_EQ(tracks.length[0], 0);
  EXPECT_EQ(Data(tracks.track3, tracks.length[2]), "8888");
}

TEST_P(CardTransportOnSim, TrackLengthsBeyondTheirAreaOrTheReplyAreBounded) {
  RDAX_TRACK_DATA tracks;
  std::memset(&tracks, 0xEE, sizeof tracks);
  // Track 2 claims 50 bytes; its area holds 38 and track 3's area follows.
  Reply("6a",
        "P6a002"
        "00"
        "050" +
            std::string(50, '2'));
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_2, &tracks, nullptr), RDAX_OK);
  EXPECT_EQ(tracks.length[1], RDAX_TRACK2_CAPACITY);
  EXPECT_EQ(tracks.track3[0], 0xEE);

  // Data announced but cut off: nothing of it is believed.
  Reply("6a",
        "P6a004"
        "00"
        "00"
        "010"
        "005"
        "12345");
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_1 | RDAX_TRACK_2, &tracks, nullptr),
            RDAX_E_FAULTY_REPLY);
  EXPECT_EQ(tracks.result[0], RDAX_E_FAULTY_REPLY);
  EXPECT_EQ(tracks.length[0], 0);
  EXPECT_EQ(tracks.result[1], RDAX_E_FAULTY_REPLY);

  // Results cut off.
  Reply("6a",
        "P6a007"
        "00");
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_ALL, &tracks, nullptr), RDAX_E_FAULTY_REPLY);
  EXPECT_EQ(tracks.result[2], RDAX_E_FAULTY_REPLY);
}

// A track read without fault but without characters, last in the reply:
// its data position is the reply's end, where nothing is left to copy (the
// sanitizer build traps a copy from there).
TEST_P(CardTransportOnSim, AnEmptyTrackAtTheEndOfTheReplyDeliversNoBytes) {
  RDAX_TRACK_DATA tracks;
  std::memset(&tracks, 0xEE, sizeof tracks);
  Reply("6a",
        "P6a003"
        "00"
        "00"
        "004"
        "000"
        "ABCD");
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_1 | RDAX_TRACK_2, &tracks, nullptr), RDAX_OK);
  EXPECT_EQ(Data(tracks.track1, tracks.length[0]), "ABCD");
  EXPECT_EQ(tracks.result[1], RDAX_OK);
  EXPECT_EQ(tracks.length[1], 0);
  EXPECT_EQ(tracks.track2[0], 0xEE);
}

TEST_P(CardTransportOnSim, MonitoringEndsWhenAnotherProcessInsertsACard) {
  RDAX_CARD_STATUS status{};
  Event done;
  ASSERT_EQ(RDAX_MonitorCardStatus(handle_, 5, &status, done.get()), 0x00000001u);
  ASSERT_TRUE(ReaderGot("C9205"));
  EXPECT_FALSE(done.Signalled());
  Insert({"--track2", kTrack2});  // q7m-sim ctl: a process of its own
  ASSERT_TRUE(done.Wait());
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);
  const uint32_t expected[5] = {1, 2, 0, 0, 0};  // moved in, inside, no lock, no data, no jam
  for (int i = 0; i < 5; ++i) EXPECT_EQ(status.digit[i], expected[i]) << i;
}

TEST_P(CardTransportOnSim, MonitoringEndsWhenItsTimeRunsOutAndRefusesAHundredSeconds) {
  Insert({"--gate"});
  RDAX_CARD_STATUS status;
  std::memset(&status, 0xEE, sizeof status);
  ASSERT_EQ(RDAX_MonitorCardStatus(handle_, 1, &status, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "C9201");
  const uint32_t expected[5] = {0, 1, 0, 0, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(status.digit[i], expected[i]) << i;

  EXPECT_EQ(RDAX_MonitorCardStatus(handle_, 100, &status, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_PARAMETER);
  EXPECT_EQ(LastCommand(), "C9201");

  Reply("92", "P92011");
  EXPECT_EQ(RDAX_MonitorCardStatus(handle_, 0, &status, nullptr), RDAX_E_FAULTY_REPLY);
  EXPECT_EQ(status.digit[1], 1u) << "left as the last full answer wrote it";
}

TEST_P(CardTransportOnSim, ACancelEndsAMonitoringInProgressAndLeavesTheRecord) {
  RDAX_CARD_STATUS status;
  std::memset(&status, 0xEE, sizeof status);
  Event done;
  ASSERT_EQ(RDAX_MonitorCardStatus(handle_, 30, &status, done.get()), 0x00000001u);
  ASSERT_TRUE(ReaderGot("C9230"));
  EXPECT_EQ(RDAX_Cancel(handle_), RDAX_OK);
  ASSERT_TRUE(done.Wait());
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_W_CANCELLED);
  EXPECT_EQ(status.digit[0], 0xEEEEEEEEu);
  Insert({});  // no late answer turns up for the next command
  EXPECT_EQ(RDAX_MonitorCardStatus(handle_, 0, &status, nullptr), RDAX_OK);
  EXPECT_EQ(status.digit[1], 2u);
}

TEST_P(CardTransportOnSim, ResetSendsCancelAndResetAgainWhenTheFirstAnswerIsLate) {
  Control({"fault", reader(), "late", "ms=4500", "cmd=00"});
  EXPECT_EQ(RDAX_InitialReset(handle_, nullptr), RDAX_OK);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"C00", "E", "C00"}));
  EXPECT_EQ(Control({"get", reader(), "Resets"}), "2\n");

  EXPECT_EQ(RDAX_InitialReset(handle_, nullptr), RDAX_OK);
  EXPECT_EQ(Commands().size(), 4u) << "an answer in time needs no recovery";
}

TEST_P(CardTransportOnSim, LockHoldsTheCardAndClearForgetsTheReadData) {
  RDAX_TRANSACTION_SETTING setting{RDAX_READ_ON_INSERT, RDAX_TRACK_2, 0, 0};
  ASSERT_EQ(RDAX_PrepareTransactionSetting(handle_, &setting, nullptr), RDAX_OK);
  Insert({"--track2", kTrack2});
  ASSERT_EQ(RDAX_Lock(handle_, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "CC0");
  EXPECT_EQ(Control({"remove", reader()}), "");  // refused: the card stays
  EXPECT_EQ(Control({"get", reader(), "CardPosition"}), "inside\n");
  ASSERT_EQ(RDAX_Unlock(handle_, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "CC1");
  Control({"remove", reader()});
  EXPECT_EQ(Control({"get", reader(), "CardPosition"}), "none\n");

  RDAX_TRACK_DATA tracks{};
  ASSERT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_2, &tracks, nullptr), RDAX_OK);
  EXPECT_EQ(Data(tracks.track2, tracks.length[1]), kTrack2);
  ASSERT_EQ(RDAX_ClearReadData(handle_, nullptr), RDAX_OK);
  EXPECT_EQ(LastCommand(), "C6s");
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_2, &tracks, nullptr), 0x44040000u);
}

// Opens the USB reader and holds the restriction until the parent says
// "release".
Q7M_CHILD(rdax_hold_restriction) {
  const RDAX* handle = OpenReader(Link::kUsb);
  if (handle == nullptr) return 2;
  SEQUOR_HANDLE session = reinterpret_cast<SEQUOR_HANDLE>(const_cast<RDAX*>(handle));
  if (SEQUOR_XfsLock(session) != SEQUOR_SUCCESS) return 3;
  q7mtest::Say("restricted");
  std::string line;
  q7mtest::Hear(&line);
  SEQUOR_XfsUnlock(session);
  RDAX_CloseDevice(handle);
  return 0;
}

TEST_P(CardTransportOnSim, AnotherSessionsRestrictionRefusesTheCardButNotTheStatus) {
  // A serial port has one user at a time: only a USB reader is shared.
  if (GetParam() == Link::kSerial) GTEST_SKIP() << "a COM port has one process at a time";
  q7mtest::ChildProcess holder;
  ASSERT_TRUE(holder.Start("rdax_hold_restriction"));
  ASSERT_TRUE(holder.Expect("restricted"));
  RDAX_TRACK_DATA tracks{};
  RDAX_STATUS status{};
  RDAX_CARD_STATUS card{};
  Event done;
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, RDAX_TRACK_1, &tracks, nullptr), RDAX_E_RESTRICTED);
  EXPECT_EQ(RDAX_MonitorCardStatus(handle_, 1, &card, done.get()), RDAX_E_RESTRICTED);
  EXPECT_EQ(RDAX_InitialReset(handle_, nullptr), RDAX_E_RESTRICTED);
  EXPECT_EQ(RDAX_Lock(handle_, nullptr), RDAX_E_RESTRICTED);
  EXPECT_EQ(RDAX_SetLEDControlMode(handle_, 1, nullptr), RDAX_E_RESTRICTED);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_RESTRICTED);
  EXPECT_FALSE(done.Signalled());
  for (const std::string& sent : Commands()) EXPECT_EQ(sent, "") << "nothing sent while refused";
  EXPECT_EQ(RDAX_GetStatus(handle_, &status, nullptr), RDAX_OK);
  EXPECT_EQ(RDAX_TurnoffLED(handle_, nullptr), RDAX_OK);
  ASSERT_TRUE(holder.WriteLine("release"));
  ASSERT_EQ(holder.Wait(), 0);
  EXPECT_EQ(RDAX_Lock(handle_, nullptr), RDAX_OK);
}

INSTANTIATE_TEST_SUITE_P(Links, CardTransportOnSim, ::testing::Values(Link::kSerial, Link::kUsb),
                         LinkName);

}  // namespace
}  // namespace rdaxsim
