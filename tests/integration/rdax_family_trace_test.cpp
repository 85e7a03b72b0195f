// The trace lines of the device information and card transport exports, as
// a traced process writes them: the argument fields of their entry and
// severity lines and what their exit lines add.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "rdax_sim_fixture.h"

namespace rdaxsim {
namespace {

std::string Hex(const char* format, const void* p) {
  char text[16];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
  return text;
}

// SCRIBEL.INI is in the working directory when the library is loaded. The
// process prints the handle's and the track record's trace words.
Q7M_CHILD(rdax_traced_family_calls) {
  const RDAX* handle = OpenReader(Link::kSerial);
  if (handle == nullptr) return 2;
  char serial[RDAX_SERIAL_NUMBER_SIZE];
  int32_t standard = 0;
  RDAX_TRACK_DATA tracks{};
  RDAX_GetSerialNumber(handle, serial, nullptr);
  RDAX_GetICCStandardType(handle, &standard, nullptr);
  RDAX_TurnonLED(handle, RDAX_SET_LED_RED, nullptr);
  RDAX_BlinkLED(handle, 3, 9, nullptr);
  RDAX_SetSAMStandardType(handle, 3, nullptr);
  RDAX_ReadMagTrack(handle, 9, &tracks, nullptr);
  q7mtest::Say(Hex("0x%08X", handle) + " " + Hex("0x%02X", handle) + " " + Hex("0x%08X", &tracks));
  RDAX_CloseDevice(handle);
  return 0;
}

TEST(RdaxFamilyTraceLines, EntrySeverityAndExitLinesCarryEachExportsFields) {
  const std::string dir = q7mtest::MakeTempDir("familytrace");
  ASSERT_EQ(chdir(dir.c_str()), 0);
  WriteFullTraceIni(dir);
  sequorsim::SimReader sim;
  ASSERT_TRUE(sim.Start(dir));
  sim.Control({"set", "r1", "SerialNumber", "424242"});
  sim.Control({"set", "r1", "IccStandard", "05"});
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("rdax_traced_family_calls"));
  std::string words;
  ASSERT_TRUE(child.ReadLine(&words));
  ASSERT_EQ(child.Wait(), 0);
  const std::string h = words.substr(0, 10);
  const std::string hByte = words.substr(11, words.find(' ', 11) - 11);
  const std::string record = words.substr(words.rfind(' ') + 1);

  const auto texts = FullTraceTexts(dir);
  for (const std::string& line : {
           std::string("RDAX:Exit=GetSerialNumber P1=0x00000000 Q2=424242"),
           std::string("RDAX:Exit=GetICCStandardType P1=0x00000000 Q1=0x05"),
           "RDAX:Entry=TurnonLED P1=" + h + " P2=0x02 P3=0x00000000",
           "RDAX:Error=0x82000000 API=BlinkLED P1=" + h + " P2=0x03 P3=0x09 P4=0x00000000",
           "RDAX:Error=0x82000000 API=SetSAMStandardType P1=" + hByte +
               " P2=0x00000003 P3=0x00000000",
           "RDAX:Entry=SetSAMStandardType P1=" + h + " P2=0x03 P3=0x00000000",
           "RDAX:Entry=ReadMagTrack P1=" + h + " P2=0x09 P3=" + record + " P4=0x00000000",
           "RDAX:Error=0x82000000 API=ReadMagTrack P1=" + h + " P2=0x09 P3=" + record +
               " P4=0x00000000",
           std::string("RDAX:Exit=ReadMagTrack P1=0x82000000"),
       }) {
    EXPECT_TRUE(texts.count(line) == 1) << line;
  }
}

}  // namespace
}  // namespace rdaxsim
