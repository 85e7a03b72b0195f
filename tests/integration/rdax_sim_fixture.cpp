#include "rdax_sim_fixture.h"

#include <unistd.h>

#include <cstdio>

namespace rdaxsim {

const RDAX* OpenReader(Link link) {
  if (link == Link::kUsb) return RDAX_OpenDevice(nullptr, nullptr);
  RDAX_OPEN_PARAMS params{};
  params.words[1] = sequorsim::kLineSpeed;
  return RDAX_OpenDevice("COM3", &params);
}

void RdaxOnSim::SetUp() {
  dir_ = q7mtest::MakeTempDir("rdax");
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  ASSERT_TRUE(sim_.Start(dir_, {"--usb"}));
  handle_ = OpenReader(GetParam());
  ASSERT_NE(handle_, nullptr) << "last error " << Q7M_GetLastError();
}

void RdaxOnSim::TearDown() {
  if (handle_ != nullptr) {
    EXPECT_EQ(RDAX_CloseDevice(handle_), RDAX_OK);
  }
}

uint32_t RdaxOnSim::Send(const std::string& command, std::string* response, Q7M_HANDLE event) {
  if (event != nullptr) {
    return RDAX_SendCommand(handle_, command.data(), static_cast<uint32_t>(command.size()), 2,
                            asyncResponse_, sizeof asyncResponse_, &asyncLength_, 30, event);
  }
  char buffer[1024];
  uint32_t length = 0;
  const uint32_t r =
      RDAX_SendCommand(handle_, command.data(), static_cast<uint32_t>(command.size()), 2, buffer,
                       sizeof buffer, &length, 10, nullptr);
  if (response != nullptr) response->assign(buffer, length <= sizeof buffer ? length : 0);
  return r;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02X", c);
    hex += two;
  }
  return hex;
}

std::string LinkName(const ::testing::TestParamInfo<Link>& info) {
  return info.param == Link::kSerial ? "Serial" : "Usb";
}

std::set<std::string> TraceTexts(const std::string& ring, size_t recordText) {
  std::set<std::string> texts;
  const size_t header = 40;
  size_t start = 0;
  for (size_t end; (end = ring.find("\r\n", start)) != std::string::npos; start = end + 2) {
    if (end - start != header + recordText) continue;
    std::string text = ring.substr(start + header, recordText);
    text.erase(text.find_last_not_of(' ') + 1);
    texts.insert(text);
  }
  return texts;
}

namespace {
// Long enough for the longest line the trace tests read back whole.
constexpr size_t kFullTraceRecordText = 200;
}  // namespace

void WriteFullTraceIni(const std::string& dir) {
  q7mtest::WriteFile(dir + "/SCRIBEL.INI",
                     "[SCRIBEL]\nFILEPATH=" + dir + "\nFILENAME=trace.log\nRECORDLENGTH=" +
                         std::to_string(kFullTraceRecordText) +
                         "\nMAXRECORD=500\nFILEFLUSH=OFF\n[RDAX]\nTRACE=0xFFFFFFFF\n");
}

std::set<std::string> FullTraceTexts(const std::string& dir) {
  return TraceTexts(q7mtest::ReadFile(dir + "/trace.log"), kFullTraceRecordText);
}

}  // namespace rdaxsim
