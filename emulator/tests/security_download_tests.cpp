// The reader's security and download families, answered in-process: what
// the detection commands and the recovery demand of the host, what a
// latched detection stops, the host watchdog's resets, and the order, sizes
// and compatibility a download must keep.
#include <gtest/gtest.h>

#include <string>

#include "command_dispatcher.h"
#include "download_commands.h"
#include "event_loop.h"
#include "field_table.h"
#include "host_watchdog.h"
#include "reader_commands.h"
#include "reader_fields.h"
#include "security_commands.h"

namespace q7msim {
namespace {

const std::string kMask = "Q7M-MASK    011A2B3C";
const std::string kFirmware = "Q7M-FW      1012345678";

class SecurityAndDownload : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegisterReaderCommands(&dispatcher_));
    AddReaderStateFields(&state_, &fields_);
    AddSecurityFields(&state_, &fields_);
    AddDownloadFields(&state_, &fields_);
  }
  std::string Run(const std::string& command) {
    ResponseBuffer response;
    dispatcher_.Execute(state_, reinterpret_cast<const uint8_t*>(command.data()), command.size(),
                        &response);
    return std::string(reinterpret_cast<const char*>(response.data()), response.size());
  }
  std::string Field(const std::string& name) {
    std::string value;
    EXPECT_TRUE(fields_.Get(name, &value)) << name;
    return value;
  }
  // Announce and start a download of `count` blocks of `size` bytes.
  void Start(const std::string& size, const std::string& count, const std::string& list = "00") {
    ASSERT_EQ(Run("Cd3" + kFirmware).substr(0, 3), "Pd3");
    ASSERT_EQ(Run("Cd0" + size + count + "NEW-FW      22      " + list).substr(0, 3), "Pd0");
  }

  CommandDispatcher dispatcher_;
  ReaderState state_;
  FieldTable fields_;
};

TEST_F(SecurityAndDownload, ModesAndRecoveryDemandTheReadersOwnMaskVersion) {
  EXPECT_EQ(Run("CSX1" + kMask).substr(0, 3), "PSX");
  EXPECT_EQ(Run("CSY").substr(5), "1");
  EXPECT_EQ(Run("CSa1" + kMask).substr(0, 3), "PSa");
  EXPECT_EQ(Run("CSb").substr(5), "1");
  EXPECT_EQ(Run("CSa0" + kMask).substr(0, 3), "PSa");
  EXPECT_EQ(Run("CSb").substr(5), "0");

  EXPECT_EQ(Run("CSX0Q7M-MASK    011A2B3D"), "NSX02") << "another reader's mask";
  EXPECT_EQ(Run("CSX2" + kMask), "NSX02");
  EXPECT_EQ(Run("CSX1"), "NSX02");
  EXPECT_EQ(Run("CXZ" + kMask.substr(1)), "NXZ02");
  EXPECT_EQ(Run("CSY").substr(5), "1") << "refused commands change nothing";
}

TEST_F(SecurityAndDownload, ALatchedDetectionStopsCardOperationsUntilTheRecovery) {
  ASSERT_EQ(fields_.Set("Tampered", "1"), "");
  EXPECT_EQ(Run("C00").substr(0, 3), "P00") << "the mode is off: nothing latched matters";
  ASSERT_EQ(Run("CSX1" + kMask).substr(0, 3), "PSX");
  EXPECT_EQ(Run("C00"), "N000A");
  EXPECT_EQ(Run("Cd2"), "Nd20A");
  EXPECT_EQ(Run("CV0").substr(0, 3), "PV0") << "the recovery needs the versions";
  EXPECT_EQ(Run("C10").substr(0, 3), "P10");
  EXPECT_EQ(state_.Counter(ReaderCounter::kSecurityEvents), 1u);

  ASSERT_EQ(Run("CXZ" + kMask).substr(0, 3), "PXZ");
  EXPECT_EQ(Field("Tampered"), "0");
  EXPECT_EQ(Run("C00").substr(0, 3), "P00");

  ASSERT_EQ(Run("CSa1" + kMask).substr(0, 3), "PSa");
  ASSERT_EQ(fields_.Set("RearDestroyed", "1"), "");
  EXPECT_EQ(Run("C00"), "N000B");
}

TEST_F(SecurityAndDownload, HostWatchdogSettingIsFiveDigits) {
  EXPECT_EQ(Run("CW930305").substr(0, 3), "PW9");
  EXPECT_EQ(Field("HostWatchdog"), "30,3,5");
  EXPECT_EQ(Run("CW93030"), "NW902");
  EXPECT_EQ(Run("CW9303x5"), "NW902");
  EXPECT_EQ(Field("HostWatchdog"), "30,3,5");
  EXPECT_NE(fields_.Set("HostWatchdog", "100,1,1"), "");
}

TEST(HostWatchdog, ResetsAsOftenAsAskedWhileTheHostIsSilent) {
  EventLoop loop;
  std::string error;
  ASSERT_TRUE(loop.Init(&error)) << error;
  HostWatchdogSetting setting{1, 3, 0};
  int resets = 0;
  HostWatchdog watchdog(&loop, &setting, [&] { ++resets; });
  ASSERT_TRUE(watchdog.Init(&error)) << error;
  watchdog.HostSpoke();
  while (resets < 3 && loop.RunOnce(5000)) {
  }
  EXPECT_EQ(resets, 3);
  EXPECT_FALSE(loop.RunOnce(0)) << "no fourth reset";

  // A host that speaks again starts the count over.
  setting = {1, 1, 0};
  watchdog.HostSpoke();
  while (resets < 4 && loop.RunOnce(5000)) {
  }
  EXPECT_EQ(resets, 4);
}

TEST_F(SecurityAndDownload, ADownloadInOrderBecomesTheFirmwareVersion) {
  EXPECT_EQ(Run("Cd0000100010000"), "Nd070") << "start before the announce";
  EXPECT_EQ(Run("Cd3Q7M-FW      1012345679"), "Nd302") << "not the running firmware";
  Start("0004", "0002", "01Q7M-MASK    011A2B3C");
  EXPECT_EQ(Field("DownloadPhase"), "receiving 0/2 of 4");
  EXPECT_EQ(Run("Cd1abc"), "Nd102") << "a short block";
  EXPECT_EQ(Run("Cd1abcd").substr(0, 3), "Pd1");
  EXPECT_EQ(Run("Cd2"), "Nd270") << "an end before the last block";
  EXPECT_EQ(Field("DownloadPhase"), "idle");

  Start("0004", "0002");
  EXPECT_EQ(Run("Cd1\x01\x02\x03\x04").substr(0, 3), "Pd1");
  EXPECT_EQ(Run("Cd1\x10\x20\x30\x40").substr(0, 3), "Pd1");
  EXPECT_EQ(Run("Cd1\x01\x01\x01\x01"), "Nd170") << "more blocks than announced";
  EXPECT_EQ(Run("Cd2").substr(0, 3), "Pd2");
  EXPECT_EQ(Run("CV0").substr(45), "NEW-FW      22000000AA");
  EXPECT_EQ(Field("DownloadsCompleted"), "1");
  EXPECT_EQ(state_.Counter(ReaderCounter::kDownloadErrors), 5u);
}

TEST_F(SecurityAndDownload, TheStartChecksSizesAndCompatibility) {
  ASSERT_EQ(Run("Cd3" + kFirmware).substr(0, 3), "Pd3");
  const std::string text = "NEW-FW      22      ";
  EXPECT_EQ(Run("Cd000000001" + text + "00"), "Nd002") << "block size 0";
  EXPECT_EQ(Run("Cd020490001" + text + "00"), "Nd002") << "beyond 2048";
  EXPECT_EQ(Run("Cd000100000" + text + "00"), "Nd002") << "no blocks";
  EXPECT_EQ(Run("Cd000100001" + text + "11"), "Nd002") << "eleven entries";
  EXPECT_EQ(Run("Cd000100001" + text + "01"), "Nd002") << "an entry announced, none sent";
  EXPECT_EQ(Run("Cd000100001" + text + "01OTHER       011A2B3C"), "Nd073");
  EXPECT_EQ(Run("Cd000100001" + text + "02OTHER       011A2B3C" + kMask).substr(0, 3), "Pd0");
}

TEST_F(SecurityAndDownload, ACancelForgetsTheDownload) {
  Start("0001", "0003");
  EXPECT_EQ(Run("E"), "E");
  EXPECT_EQ(Field("DownloadPhase"), "idle");
  EXPECT_EQ(Run("Cd1x"), "Nd170");
}

}  // namespace
}  // namespace q7msim
