#include "sequor_sim_fixture.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

namespace sequorsim {

namespace {

std::string SimProgram() {
  return q7mtest::BuildBinDir() + "/q7m-sim";
}

}  // namespace

bool SimReader::Start(const std::string& dir, const std::vector<std::string>& extraArgs) {
  control_ = dir + "/sim.ctl";
  log_ = dir + "/wire.log";
  std::vector<std::string> args = {"--serial", "--pdlnk-ini", dir + "/PDLNK.INI",
                                   "--com",    "3",           "--control",
                                   control_,   "--log",       log_};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  if (!process_.StartProgram(SimProgram(), args)) return false;
  return process_.Expect("ready");
}

std::string SimReader::Control(const std::vector<std::string>& words) {
  std::vector<std::string> args = {"ctl", "--control", control_};
  args.insert(args.end(), words.begin(), words.end());
  q7mtest::ChildProcess ctl;
  if (!ctl.StartProgram(SimProgram(), args)) return "cannot start";
  std::string output, line;
  while (ctl.ReadLine(&line)) output += line + "\n";
  ctl.Wait();
  return output;
}

bool SimReader::WaitForLog(const std::string& needle, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (q7mtest::ReadFile(log_).find(needle) != std::string::npos) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
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
