// q7m-readcard against an emulated reader: it waits for a card, which the
// emulator's control socket inserts meanwhile, and prints the tracks read
// through the whole stack, on the serial and the USB link.
#include <unistd.h>

#include "sequor_sim_fixture.h"

namespace {

class ReadCardTool : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    dir_ = q7mtest::MakeTempDir("readcard");
    ASSERT_EQ(chdir(dir_.c_str()), 0);  // PDLNK.INI is found in the current directory
    ASSERT_TRUE(sim_.Start(dir_, {"--usb"}));
  }
  bool Usb() const { return GetParam(); }
  std::vector<std::string> Args(const std::string& wait) const {
    if (Usb()) return {"--wait", wait, "USB"};
    return {"--speed", "38400", "--wait", wait, "COM3"};
  }
  const char* reader() const { return Usb() ? "r2" : "r1"; }

  std::string dir_;
  sequorsim::SimReader sim_;
};

TEST_P(ReadCardTool, PrintsTheTracksOfACardInsertedWhileItWaits) {
  q7mtest::ChildProcess tool;
  ASSERT_TRUE(tool.StartProgram(q7mtest::BuildBinDir() + "/q7m-readcard", Args("20")));
  std::string line;
  ASSERT_TRUE(tool.ReadLine(&line));
  EXPECT_EQ(line, "insert a card (waiting up to 20 s)");
  ASSERT_TRUE(sim_.WaitForLog("|C9220|"));
  sim_.Control({"insert", reader(), "--track1", "%B4111111111111111^DOE/JOHN^2512101000000000?",
                "--track2", ";4111111111111111=25121010000000000?", "--track3", "error=43"});
  std::vector<std::string> lines;
  while (tool.ReadLine(&line)) lines.push_back(line);
  EXPECT_EQ(tool.Wait(), 0);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "card status 12010",  // moved in, inside, read on the way in
                       "track 1: 0x00000000 %B4111111111111111^DOE/JOHN^2512101000000000?",
                       "track 2: 0x00000000 ;4111111111111111=25121010000000000?",
                       "track 3: 0x44040003 ",
                   }));
}

TEST_P(ReadCardTool, SaysSoWhenNoCardComes) {
  q7mtest::ChildProcess tool;
  ASSERT_TRUE(tool.StartProgram(q7mtest::BuildBinDir() + "/q7m-readcard", Args("1")));
  std::vector<std::string> lines;
  for (std::string line; tool.ReadLine(&line);) lines.push_back(line);
  EXPECT_EQ(tool.Wait(), 1);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "no card");
}

INSTANTIATE_TEST_SUITE_P(Links, ReadCardTool, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Usb" : "Serial";
                         });

}  // namespace
