// The security exports and the firmware download on an emulated reader, on
// the serial and the USB link: the restriction between sessions and
// processes, the detection modes and the recovery that repeat the reader's
// mask version, the host watchdog, and downloads of good, foreign, damaged
// and refused files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "download_file.h"
#include "q7m/sequor.h"
#include "rdax_sim_fixture.h"

namespace rdaxsim {
namespace {

using q7m::rdax::DownloadHeader;

// The emulator's mask version as "V0" bytes 5 to 24 carry it.
const std::string kMaskTail = "Q7M-MASK    011A2B3C";
const std::string kFirmware = "Q7M-FW      1012345678";

Link LinkOf(const std::string& name) {
  return name == "usb" ? Link::kUsb : Link::kSerial;
}

class SecurityOnSim : public RdaxOnSim {
 protected:
  // The commands the reader received, as text (bytes outside printable
  // ASCII shown as ".").
  std::vector<std::string> Commands() const {
    std::vector<std::string> texts;
    for (const std::string& line : sim_.process().LogLines(reader(), "CMD")) {
      const size_t first = line.find('|');
      const size_t last = line.rfind('|');
      if (first != std::string::npos && last > first)
        texts.push_back(line.substr(first + 1, last - first - 1));
    }
    return texts;
  }
  // The commands received since `mark` (a count of Commands()).
  std::vector<std::string> CommandsSince(size_t mark) const {
    std::vector<std::string> all = Commands();
    return std::vector<std::string>(all.begin() + static_cast<long>(std::min(mark, all.size())),
                                    all.end());
  }
  std::string Field(const std::string& name) { return sim_.process().Status(reader())[name]; }
};

// ---- restriction ----

TEST_P(SecurityOnSim, RestrictionIsTakenOnceAndGivenBackOnce) {
  EXPECT_EQ(RDAX_StartRestriction(handle_), RDAX_OK);
  EXPECT_EQ(RDAX_StartRestriction(handle_), RDAX_W_RESTRICTION_HELD);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_W_RESTRICTION_HELD) << "warnings are stored too";
  // The holder itself works normally.
  EXPECT_EQ(RDAX_SetHostWDTReset(handle_, 0, 0, 0, nullptr), RDAX_OK);
  EXPECT_EQ(RDAX_EndRestriction(handle_), RDAX_OK);
  EXPECT_EQ(RDAX_EndRestriction(handle_), RDAX_W_RESTRICTION_NOT_HELD);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_W_RESTRICTION_NOT_HELD);
  EXPECT_EQ(RDAX_StartRestriction(nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_EndRestriction(nullptr), RDAX_E_NULL_ARGUMENT);
}

TEST_P(SecurityOnSim, SessionKeyIsNotOfferedAndTheResultIsStored) {
  EXPECT_EQ(RDAX_CreateNewSessionKey(handle_), RDAX_F_LINE);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_F_LINE);
  EXPECT_EQ(RDAX_CreateNewSessionKey(nullptr), RDAX_E_NULL_ARGUMENT);
}

// Opens the reader, takes the restriction and keeps it until killed or told.
Q7M_CHILD(rdax_restrict_device) {
  const RDAX* handle = OpenReader(LinkOf(args.at(0)));
  if (handle == nullptr) return 2;
  if (RDAX_StartRestriction(handle) != RDAX_OK) return 3;
  q7mtest::Say("restricted");
  std::string line;
  q7mtest::Hear(&line);
  RDAX_CloseDevice(handle);
  return 0;
}

using RestrictionAcrossProcesses = SecurityOnSim;

TEST_P(RestrictionAcrossProcesses, GuardedExportsAreRefusedUntilTheHolderDies) {
  q7mtest::ChildProcess holder;
  ASSERT_TRUE(holder.Start("rdax_restrict_device", {"usb"}));
  ASSERT_TRUE(holder.Expect("restricted"));
  const size_t mark = Commands().size();

  RDAX_TRACK_DATA tracks{};
  EXPECT_EQ(RDAX_ReadMagTrack(handle_, 7, &tracks, nullptr), RDAX_E_RESTRICTED);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_RESTRICTED);
  EXPECT_EQ(RDAX_RecoverFromAbnormalStatus(handle_, nullptr), RDAX_E_RESTRICTED);
  EXPECT_EQ(RDAX_ExecuteDownload(handle_, "no-such-file", nullptr), RDAX_E_RESTRICTED);
  EXPECT_EQ(RDAX_CreateNewSessionKey(handle_), RDAX_E_RESTRICTED);
  EXPECT_EQ(RDAX_StartRestriction(handle_), RDAX_E_RESTRICTED);
  EXPECT_EQ(RDAX_EndRestriction(handle_), RDAX_E_RESTRICTED);
  EXPECT_TRUE(CommandsSince(mark).empty()) << "refused before anything is sent";

  // Unguarded exports go on.
  RDAX_STATUS status{};
  EXPECT_NE(RDAX_GetStatus(handle_, &status, nullptr), RDAX_E_RESTRICTED);
  int32_t mode = -1;
  EXPECT_EQ(RDAX_GetTamperDetectionMode(handle_, &mode, nullptr), RDAX_OK);
  EXPECT_EQ(mode, 0);

  holder.Kill(SIGKILL);
  EXPECT_EQ(holder.Wait(), 128 + SIGKILL);
  EXPECT_EQ(RDAX_StartRestriction(handle_), RDAX_OK) << "a dead holder's restriction is gone";
  EXPECT_EQ(RDAX_EndRestriction(handle_), RDAX_OK);
}

// A serial port has one user at a time: only a USB reader is shared.
INSTANTIATE_TEST_SUITE_P(Links, RestrictionAcrossProcesses, ::testing::Values(Link::kUsb),
                         LinkName);

// ---- detection modes and recovery ----

TEST_P(SecurityOnSim, ModeSettersRepeatTheMaskVersionOfAFullVersionReply) {
  std::string versions;
  ASSERT_EQ(Send("CV0", &versions), RDAX_OK);
  ASSERT_EQ(versions.size(), 67u);
  ASSERT_EQ(versions.substr(5, 20), kMaskTail);

  size_t mark = Commands().size();
  EXPECT_EQ(RDAX_SetTamperDetectionMode(handle_, RDAX_DETECTION_ON, nullptr), RDAX_OK);
  EXPECT_EQ(CommandsSince(mark), (std::vector<std::string>{"CV0", "CSX1" + kMaskTail}));
  mark = Commands().size();
  EXPECT_EQ(RDAX_SetRearDestroyDetectionMode(handle_, RDAX_DETECTION_ON, nullptr), RDAX_OK);
  EXPECT_EQ(CommandsSince(mark), (std::vector<std::string>{"CV0", "CSa1" + kMaskTail}));

  int32_t tamper = -1, rear = -1;
  EXPECT_EQ(RDAX_GetTamperDetectionMode(handle_, &tamper, nullptr), RDAX_OK);
  EXPECT_EQ(RDAX_GetRearDestroyDetectionMode(handle_, &rear, nullptr), RDAX_OK);
  EXPECT_EQ(tamper, 1);
  EXPECT_EQ(rear, 1);
  EXPECT_EQ(RDAX_SetTamperDetectionMode(handle_, RDAX_DETECTION_OFF, nullptr), RDAX_OK);
  EXPECT_EQ(RDAX_GetTamperDetectionMode(handle_, &tamper, nullptr), RDAX_OK);
  EXPECT_EQ(tamper, 0);
}

TEST_P(SecurityOnSim, ModeArgumentsAreRefusedWithoutSending) {
  const size_t mark = Commands().size();
  EXPECT_EQ(RDAX_SetTamperDetectionMode(handle_, 2, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_SetRearDestroyDetectionMode(handle_, 2, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_GetTamperDetectionMode(handle_, nullptr, nullptr), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_E_NULL_ARGUMENT);
  EXPECT_EQ(RDAX_SetHostWDTReset(handle_, 100, 3, 5, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_SetHostWDTReset(handle_, 30, 10, 5, nullptr), RDAX_E_PARAMETER);
  EXPECT_EQ(RDAX_SetHostWDTReset(handle_, 30, 3, 100, nullptr), RDAX_E_PARAMETER);
  EXPECT_TRUE(CommandsSince(mark).empty());
}

TEST_P(SecurityOnSim, VersionRefusalsAndShortVersionRepliesEndTheSetterAfterV0) {
  const struct {
    const char* error;
    uint32_t result;
  } refusals[] = {{"71", 0x84010000u}, {"0A", 0x84010008u}, {"0B", 0x84010009u},
                  {"70", 0x84020000u}, {"72", 0x84020001u}, {"18", 0xC3000002u}};
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.error);
    const size_t mark = Commands().size();
    sim_.Control({"fault", reader(), "error", std::string("code=") + r.error, "cmd=V0"});
    EXPECT_EQ(RDAX_SetTamperDetectionMode(handle_, 1, nullptr), r.result);
    EXPECT_EQ(CommandsSince(mark), std::vector<std::string>{"CV0"});
  }
  // A positive reply without the full versions proves nothing: nothing is
  // set, and the caller hears so.
  const size_t mark = Commands().size();
  sim_.Control({"fault", reader(), "reply", "data=5056303030", "cmd=V0"});  // "PV000"
  EXPECT_EQ(RDAX_RecoverFromRearDestroy(handle_, nullptr), RDAX_E_FAULTY_REPLY);
  EXPECT_EQ(CommandsSince(mark), std::vector<std::string>{"CV0"});
}

TEST_P(SecurityOnSim, BothRecoveriesSendTheSameCommandAndClearALatchedDetection) {
  sim_.Control({"set", reader(), "TamperDetection", "1"});
  sim_.Control({"set", reader(), "Tampered", "1"});
  std::string reply;
  ASSERT_EQ(Send("C00", &reply), RDAX_OK);
  EXPECT_EQ(reply, "N000A") << "a latched detection stops card operations";

  size_t mark = Commands().size();
  EXPECT_EQ(RDAX_RecoverFromAbnormalStatus(handle_, nullptr), RDAX_OK);
  const std::vector<std::string> abnormal = CommandsSince(mark);
  EXPECT_EQ(abnormal, (std::vector<std::string>{"CV0", "CXZ" + kMaskTail}));
  ASSERT_EQ(Send("C00", &reply), RDAX_OK);
  EXPECT_EQ(reply.substr(0, 3), "P00");

  mark = Commands().size();
  EXPECT_EQ(RDAX_RecoverFromRearDestroy(handle_, nullptr), RDAX_OK);
  EXPECT_EQ(CommandsSince(mark), abnormal);

  // A reader whose mask differs refuses the recovery of another reader.
  sim_.Control({"fault", reader(), "reply",
                "data=" + std::string("5056303030") + std::string(124, '3'), "cmd=V0"});
  EXPECT_EQ(RDAX_RecoverFromAbnormalStatus(handle_, nullptr), 0x44030002u);
}

TEST_P(SecurityOnSim, HostWatchdogSettingTravelsAsEightCharacters) {
  const size_t mark = Commands().size();
  EXPECT_EQ(RDAX_SetHostWDTReset(handle_, 30, 3, 5, nullptr), RDAX_OK);
  EXPECT_EQ(CommandsSince(mark), std::vector<std::string>{"CW930305"});
  EXPECT_EQ(Field("HostWatchdog"), "30,3,5");
}

TEST_P(SecurityOnSim, ASilentHostGetsTheReaderResetAsOftenAsAsked) {
  const size_t resetsBefore = static_cast<size_t>(std::stoul(Field("WatchdogResets")));
  ASSERT_EQ(resetsBefore, 0u);
  ASSERT_EQ(RDAX_SetHostWDTReset(handle_, 1, 2, 1, nullptr), RDAX_OK);
  EXPECT_EQ(sim_.process().AwaitCounter(reader(), "WatchdogResets", 2), 2);
  EXPECT_TRUE(sim_.WaitForLog("host silent: reset"));
  // Switched off, the watch ends with the next command.
  ASSERT_EQ(RDAX_SetHostWDTReset(handle_, 0, 0, 0, nullptr), RDAX_OK);
  EXPECT_EQ(Field("HostWatchdog"), "0,0,0");
}

INSTANTIATE_TEST_SUITE_P(Links, SecurityOnSim, ::testing::Values(Link::kSerial, Link::kUsb),
                         LinkName);

// ---- trace lines ----

// A traced process (SCRIBEL.INI in its working directory) that prints its
// handle's trace word for the parent.
Q7M_CHILD(rdax_traced_security_calls) {
  const RDAX* handle = OpenReader(Link::kSerial);
  if (handle == nullptr) return 2;
  RDAX_SetHostWDTReset(handle, 100, 3, 5, nullptr);
  RDAX_StartRestriction(handle);
  RDAX_StartRestriction(handle);
  RDAX_SetTamperDetectionMode(handle, 2, nullptr);
  RDAX_ExecuteDownload(handle, "fw.dl", nullptr);
  char word[16];
  std::snprintf(word, sizeof word, "0x%08X",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle)));
  q7mtest::Say(word);
  RDAX_CloseDevice(handle);
  return 0;
}

TEST(RdaxSecurityTraceLines, EntryAndSeverityLinesCarryEachExportsFields) {
  const std::string dir = q7mtest::MakeTempDir("trace");
  ASSERT_EQ(chdir(dir.c_str()), 0);
  WriteFullTraceIni(dir);
  sequorsim::SimReader sim;
  ASSERT_TRUE(sim.Start(dir));
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("rdax_traced_security_calls"));
  std::string h;
  ASSERT_TRUE(child.ReadLine(&h));
  ASSERT_EQ(child.Wait(), 0);

  const auto texts = FullTraceTexts(dir);
  for (const std::string& line : {
           "RDAX:Entry=SetHostWDTReset P1=" + h + " P2=0x64 P3=0x00000003 P4=0x00000005 " +
               "P5=0x00000000",
           "RDAX:Error=0x82000000 API=SetHostWDTReset P1=" + h +
               " P2=0x00000064 P3=0x00000003 P4=0x00000005 P5=0x00000000",
           "RDAX:Entry=StartRestriction P1=" + h,
           "RDAX:Warning=0x43000000 API=StartRestriction P1=" + h,
           std::string("RDAX:Exit=StartRestriction P1=0x43000000"),
           "RDAX:Entry=SetTamperDetectionMode P1=" + h + " P2=0x00000002 P3=0x00000000",
           "RDAX:Error=0x82000000 API=SetTamperDetectionMode P1=" + h +
               " P2=0x00000002 P3=0x00000000",
           "RDAX:Entry=ExecuteDownload P1=" + h + " P2=fw.dl P3=0x00000000",
           "RDAX:FatalError=0x00000002 API=ExecuteDownload P1=" + h + " P2=fw.dl P3=0x00000000",
           std::string("RDAX:Exit=ExecuteDownload P1=0xC1000000"),
       }) {
    EXPECT_EQ(texts.count(line), 1u) << line;
  }
}

}  // namespace
}  // namespace rdaxsim
