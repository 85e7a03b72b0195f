// What the library writes into a trace ring during one serial exchange. The
// trace client binds once per process at its first line, so the traced
// run is a process of its own with SCRIBEL.INI in its working directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>

#include "q7m/pdlnk.h"
#include "q7m_test.h"
#include "sim_reader.h"

namespace {

constexpr unsigned kRecordText = 200;  // RECORDLENGTH below

void WriteTraceIni(const std::string& dir) {
  q7mtest::WriteFile(dir + "/SCRIBEL.INI",
                     "[SCRIBEL]\nFILEPATH=" + dir +
                         "\nFILENAME=trace.log\nRECORDLENGTH=" + std::to_string(kRecordText) +
                         "\nMAXRECORD=500\nFILEFLUSH=OFF\n"
                         "[PDLNK]\nTRACE=0xFFFFFFFF\n");
}

// The texts of the ring's records, their blank padding taken off: a line
// that only starts like the expected one does not count.
std::set<std::string> TraceTexts(const std::string& ring) {
  std::set<std::string> texts;
  const size_t header = 40;
  size_t start = 0;
  for (size_t end; (end = ring.find("\r\n", start)) != std::string::npos; start = end + 2) {
    if (end - start != header + kRecordText) continue;
    std::string text = ring.substr(start + header, kRecordText);
    text.erase(text.find_last_not_of(' ') + 1);
    texts.insert(text);
  }
  return texts;
}

bool HasLineStartingWith(const std::set<std::string>& texts, const std::string& prefix) {
  for (const std::string& t : texts)
    if (t.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

Q7M_CHILD(TracedExchange) {
  if (::chdir(args.at(0).c_str()) != 0) return 2;
  int handle = -1;
  if (PDLNK_Open(&handle, "COM6", 0) != PDLNK_SUCCESS) return 3;
  char buffer[64];
  int received = 0;
  if (PDLNK_Send(handle, "C10", 3, 5000) != PDLNK_SUCCESS ||
      PDLNK_Receive(handle, buffer, sizeof buffer, &received, 5000) != PDLNK_SUCCESS)
    return 4;
  PDLNK_DEVICE_INFO info;
  PDLNK_GetDeviceInfo(handle, &info, 36);
  PDLNK_Close(handle);
  return 0;
}

TEST(TraceLines, OneSerialExchangeWithEveryKindOfLine) {
  const std::string dir = q7mtest::EnterFreshWorkingDirectory();
  WriteTraceIni(dir);
  q7mtest::SimReader sim;
  ASSERT_TRUE(sim.Start(6));
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("TracedExchange", {dir}));
  ASSERT_EQ(child.Wait(), 0);

  const std::string ring = q7mtest::ReadFile(dir + "/trace.log");
  for (const char* line : {
           "T:PDLNK_Open P2=COM6 P3=0x00",
           "F:PDLNK_Open=0x00 Q1=0x00",
           "T:PDLNK_Send P1=0x00 P2=C10 P3=0x03 P4=0x1388",
           "CMD:COM6   L=0x003 D=43 31 30 ",
           "S:COM6   L=0x008 D=10 02 43 31 30 10 03 41 ",
           "R:COM6   L=0x002 D=10 06 ",
           "S:COM6   L=0x002 D=10 05 ",
           "F:PDLNK_Send=0x00",
           "T:PDLNK_Receive P1=0x00 P3=0x40 P5=0x1388",
           "RES:COM6   L=0x005 D=50 31 30 ",
           "F:PDLNK_Receive=0x00 Q2=P10",
           "I:clsDevice::IsCancel: Not Cancel(Timeout or Abandoned(00000102))",
           "T:PDLNK_GetDeviceInfo P1=0x00",
           "F:PDLNK_GetDeviceInfo=0x0B",
           "T:PDLNK_Close P1=0x00",
           "F:PDLNK_Close=0x00",
       }) {
    EXPECT_NE(ring.find(line), std::string::npos) << line;
  }
}

// Every export once, on a serial port and with arguments that need no
// reader, and an open that finds no USB reader.
Q7M_CHILD(TracedExports) {
  if (::chdir(args.at(0).c_str()) != 0) return 2;
  int handle = -1, mode = 7, received = 9, size = 0x40;
  char buffer[16];
  const unsigned char key[24] = {};
  if (PDLNK_Open(&handle, "COM7", 1) != PDLNK_SUCCESS || handle != 0) return 3;
  if (PDLNK_GetCryptoMode(handle, &mode) != PDLNK_SUCCESS) return 4;
  if (PDLNK_CancelIO(handle) != PDLNK_SUCCESS) return 5;
  if (PDLNK_Send(handle, "C10", 3, 100) != PDLNK_CANCELLED) return 6;
  if (PDLNK_Receive(handle, buffer, sizeof buffer, &received, 100) != PDLNK_CANCELLED) return 7;
  if (PDLNK_ResetIO(handle) != PDLNK_SUCCESS) return 8;
  if (PDLNK_ImportSessionKey(handle, nullptr, nullptr, 1) != PDLNK_SUCCESS) return 9;
  if (PDLNK_ImportSessionKey(handle, key, key, 3) != PDLNK_NOT_SUPPORTED) return 10;
  if (PDLNK_Exists(handle) != PDLNK_SUCCESS) return 11;
  if (PDLNK_GetDeviceInfo(handle, nullptr, 36) != PDLNK_WRONG_RECORD_SIZE) return 12;
  if (PDLNK_DeviceReset(5) != PDLNK_SUCCESS) return 13;
  if (PDLNK_GenarateExchangeKey(nullptr, &size, 768) != PDLNK_NOT_SUPPORTED) return 14;
  if (PDLNK_FindFirst(nullptr, 12) != PDLNK_WRONG_RECORD_SIZE) return 15;
  if (PDLNK_FindNext(nullptr) != PDLNK_INVALID_HANDLE) return 16;
  PDLNK_FindClose(nullptr);
  if (PDLNK_Close(handle) != PDLNK_SUCCESS || PDLNK_Close(handle) != PDLNK_INVALID_HANDLE)
    return 17;
  if (PDLNK_Open(&handle, "USB:", 1) != PDLNK_DEVICE_NOT_FOUND) return 18;
  return 0;
}

TEST(TraceLines, EveryExportWritesItsEntryAndExitLine) {
  const std::string dir = q7mtest::EnterFreshWorkingDirectory();
  WriteTraceIni(dir);
  q7mtest::SimReader sim;
  ASSERT_TRUE(sim.Start(7));
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("TracedExports", {dir}));
  ASSERT_EQ(child.Wait(), 0);

  const std::set<std::string> texts = TraceTexts(q7mtest::ReadFile(dir + "/trace.log"));
  for (const char* line : {
           "T:PDLNK_Open P2=COM7 P3=0x01",
           "F:PDLNK_Open=0x00 Q1=0x00",
           "T:PDLNK_GetCryptoMode P1=0x00",
           "F:PDLNK_GetCryptoMode=0x00 Q2=0x00",
           "T:PDLNK_CancelIO P1=0x00",
           "F:PDLNK_CancelIO=0x00",
           "T:PDLNK_Send P1=0x00 P2=C10 P3=0x03 P4=0x64",
           "I:clsDevice::IsCancel: Now Cancel",
           "F:PDLNK_Send=0x03",
           "T:PDLNK_Receive P1=0x00 P3=0x10 P5=0x64",
           "F:PDLNK_Receive=0x03 Q2=  Q4=0x00",
           "T:PDLNK_ResetIO P1=0x00",
           "F:PDLNK_ResetIO=0x00",
           "T:PDLNK_ImportSessionKey P1=0x00 P2=0x00 P3=0x00 P4=0x01",
           "F:PDLNK_ImportSessionKey=0x00",
           "F:PDLNK_ImportSessionKey=0x0C",
           "T:PDLNK_Exists P1=0x00",
           "F:PDLNK_Exists=0x00",
           "T:PDLNK_GetDeviceInfo P1=0x00 P2=0x00",
           "F:PDLNK_GetDeviceInfo=0x0B",
           "T:PDLNK_DeviceReset P1=0x05",
           "F:PDLNK_DeviceReset=0x00",
           "F:PDLNK_GenarateExchangeKey=0x0C Q2=0x40",
           "T:PDLNK_FindFirst P1=0x00 P2=0x0C",
           "F:PDLNK_FindFirst=0x0B",
           "T:PDLNK_FindNext P1=0x00",
           "F:PDLNK_FindNext=0x01",
           "T:PDLNK_FindClose P1=0x00",
           "F:PDLNK_FindClose",
           "T:PDLNK_Close P1=0x00",
           "F:PDLNK_Close=0x00",
           "F:PDLNK_Close=0x01",
           "T:PDLNK_Open P2=USB: P3=0x01",
           "F:PDLNK_Open=0x08 Q1=0xFFFFFFFF",
       }) {
    EXPECT_EQ(texts.count(line), 1u) << line;
  }
  // The record pointer and the size pointer vary from run to run.
  EXPECT_TRUE(HasLineStartingWith(texts, "T:PDLNK_GenarateExchangeKey P1=0x00 P2=0x"));
  EXPECT_TRUE(HasLineStartingWith(
      texts, "I:clsComList::Open: Com->Open Failure(translate to DEVICE_NOT_FOUND) ("));
}

// The reader goes away while a response is awaited: the hang-up is a line
// error of the link, written under its own trace bit with the point of the
// check that found it.
Q7M_CHILD(TracedHangUp) {
  if (::chdir(args.at(0).c_str()) != 0) return 2;
  int handle = -1;
  if (PDLNK_Open(&handle, "COM7", 0) != PDLNK_SUCCESS) return 3;
  if (PDLNK_Send(handle, "C10", 3, 5000) != PDLNK_SUCCESS) return 4;
  q7mtest::Say("sent");
  std::string line;
  if (!q7mtest::Hear(&line)) return 5;
  char buffer[64];
  int received = 0;
  const uint32_t r = PDLNK_Receive(handle, buffer, sizeof buffer, &received, 5000);
  PDLNK_Close(handle);
  return r == PDLNK_SYSTEM_ERROR ? 0 : 6;
}

TEST(TraceLines, LineErrorOfAHungUpPort) {
  const std::string dir = q7mtest::EnterFreshWorkingDirectory();
  q7mtest::WriteFile(dir + "/SCRIBEL.INI",
                     "[SCRIBEL]\nFILEPATH=" + dir +
                         "\nFILENAME=trace.log\nRECORDLENGTH=200\nMAXRECORD=500\nFILEFLUSH=OFF\n"
                         "[PDLNK]\nTRACE=0x008\n");
  // Requests are repeated only after a faulty answer within the limit
  // (q7m-sim adds the DevicePath).
  q7mtest::WriteFile(dir + "/PDLNK.INI", "[COM7]\nSendENQInvervalTime=60000\n");
  q7mtest::SimReader sim;
  ASSERT_TRUE(sim.Start(7, {"--fault", "no-answer count=1"}));
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("TracedHangUp", {dir}));
  std::string line;
  ASSERT_TRUE(child.ReadLine(&line));
  ASSERT_EQ(line, "sent");
  sim.Stop();
  child.WriteLine("go");
  ASSERT_EQ(child.Wait(), 0);

  const std::string ring = q7mtest::ReadFile(dir + "/trace.log");
  EXPECT_NE(ring.find("E:COM7   Err=0x400 Stat=Timeout"), std::string::npos);
  // Nothing but line errors under this bit.
  EXPECT_EQ(ring.find("T:PDLNK_Open"), std::string::npos);
  EXPECT_EQ(ring.find("S:COM7"), std::string::npos);
}

}  // namespace
