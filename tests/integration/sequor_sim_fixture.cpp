#include "sequor_sim_fixture.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

namespace sequorsim {

bool SimReader::Start(const std::string& dir, const std::vector<std::string>& extraArgs) {
  std::vector<std::string> args = {"--serial", "--pdlnk-ini", dir + "/PDLNK.INI", "--com", "3"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  return sim_.Start(args);
}

std::vector<std::string> SimReader::Commands(const std::string& reader) const {
  std::vector<std::string> commands;
  for (const std::string& line : sim_.LogLines(reader, "CMD")) {
    const size_t open = line.find('|');
    if (open == std::string::npos || line.back() != '|') continue;
    commands.push_back(line.substr(open + 1, line.size() - open - 2));
  }
  return commands;
}

std::string SimReader::Control(const std::vector<std::string>& words) {
  std::string command;
  for (const std::string& word : words) command += word + " ";
  std::string output;
  for (const std::string& line : sim_.Control(command)) output += line + "\n";
  return output;
}

SEQUOR_HANDLE OpenSerial() {
  const SEQUOR_OPEN_PARAMS params{0, kLineSpeed};
  return SEQUOR_Open("COM3", &params);
}

void SequorOnSim::SetUp() {
  // PDLNK.INI (and SCRIBEL.INI, where a test wants tracing) are found in the
  // current directory; child processes inherit it.
  dir_ = q7mtest::MakeTempDir("sim");
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  ASSERT_TRUE(sim_.Start(dir_));
  session_ = OpenSerial();
  ASSERT_NE(session_, nullptr) << "last error " << Q7M_GetLastError();
}

void SequorOnSim::TearDown() {
  if (session_ != nullptr) {
    EXPECT_EQ(SEQUOR_Close(session_), SEQUOR_SUCCESS);
  }
}

uint32_t SequorOnSim::Run(SEQUOR_HANDLE session, const std::string& command, std::string* response,
                          uint32_t receiveSeconds) {
  char buffer[4096];
  uint32_t length = 0;
  const uint32_t r = SEQUOR_Execute(session, command.data(), static_cast<uint32_t>(command.size()),
                                    2, buffer, sizeof buffer, &length, receiveSeconds, nullptr);
  if (response != nullptr) response->assign(buffer, length <= sizeof buffer ? length : 0);
  return r;
}

uint32_t SequorOnSim::Stored(SEQUOR_HANDLE session, std::string* response) {
  char buffer[4096];
  uint32_t length = 0, result = 0xFFFFFFFFu;
  EXPECT_EQ(SEQUOR_GetResult(session, buffer, sizeof buffer, &length, &result), SEQUOR_SUCCESS);
  if (response != nullptr) response->assign(buffer, length);
  return result;
}

}  // namespace sequorsim
