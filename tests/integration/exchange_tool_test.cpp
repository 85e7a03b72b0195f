// q7m-exchange against an emulated serial reader: the whole stack answers a
// raw command, and failures show in the exit status.
#include <unistd.h>

#include "sequor_sim_fixture.h"

namespace {

using sequorsim::SimReader;

struct ToolRun {
  std::vector<std::string> lines;
  int status = -1;
};

ToolRun RunExchange(const std::vector<std::string>& args) {
  q7mtest::ChildProcess tool;
  ToolRun run;
  if (!tool.StartProgram(q7mtest::BuildBinDir() + "/q7m-exchange", args)) return run;
  std::string line;
  while (tool.ReadLine(&line)) run.lines.push_back(line);
  run.status = tool.Wait();
  return run;
}

class ExchangeTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = q7mtest::MakeTempDir("exchange");
    ASSERT_EQ(chdir(dir_.c_str()), 0);  // PDLNK.INI is found in the current directory
    ASSERT_TRUE(sim_.Start(dir_));
  }
  std::string dir_;
  SimReader sim_;
};

TEST_F(ExchangeTool, SendsEachCommandAndPrintsTheResponse) {
  ToolRun run = RunExchange({"--speed", "38400", "COM3", "C00", "CXX", "C\\x31" "0"});
  ASSERT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 6u);
  EXPECT_EQ(run.lines[0], "> C00");
  EXPECT_EQ(run.lines[1].substr(0, 4), "< P0");
  EXPECT_EQ(run.lines[2], "> CXX");
  EXPECT_EQ(run.lines[3].substr(0, 5), "< NXX") << "an unknown code is answered negatively";
  EXPECT_EQ(run.lines[4], "> C10") << "\\x31 is the byte '1'";
  EXPECT_EQ(run.lines[5].substr(0, 4), "< P1");
}

TEST_F(ExchangeTool, ReportsAnExchangeWithoutAnswerAndBadArguments) {
  sim_.Control({"fault", "r1", "no-answer"});
  ToolRun silent = RunExchange({"--speed", "38400", "--timeout", "1", "COM3", "C00"});
  EXPECT_EQ(silent.status, 1);
  ASSERT_EQ(silent.lines.size(), 2u);
  EXPECT_EQ(silent.lines[1].rfind("! exchange failed", 0), 0u) << silent.lines[1];

  EXPECT_EQ(RunExchange({"COM3", "C\\xZ1"}).status, 2) << "malformed escape";
  EXPECT_EQ(RunExchange({"COM3"}).status, 2) << "no command";
  EXPECT_EQ(RunExchange({"COM7", "C00"}).status, 2) << "no reader there";
}

}  // namespace
