// The serial reader as a host sees it: q7m-sim runs as its own process and
// the test is the host on the pseudo-terminal's slave side.
#include <gtest/gtest.h>

#include <string>

#include "sim_host.h"

namespace simtest {
namespace {

const std::string kAck("\x10\x06", 2);
const std::string kNak("\x10\x15", 2);
const std::string kEot("\x10\x04", 2);

class SerialReader : public testing::Test {
 protected:
  void StartReader(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--serial"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(sim_.Start(args));
    ASSERT_FALSE(sim_.Address("r1").empty());
    ASSERT_TRUE(host_.Open(sim_.Address("r1")));
  }
  void TearDown() override {
    host_.Close();
    if (sim_.process().pid() > 0) {
      EXPECT_EQ(sim_.Quit(), 0);
    }
  }
  // ACK for the frame, then the response on ENQ.
  std::string Exchange(const std::string& command) { return host_.Exchange(command); }

  SimProcess sim_;
  SerialHost host_;
};

TEST_F(SerialReader, CommandIsAcknowledgedAndAnsweredOnEnq) {
  StartReader({"--set", "SerialNumber=424242", "--set", "Model=SIM-MODEL"});
  ASSERT_TRUE(host_.SendFrame("CUE"));
  EXPECT_EQ(host_.ReadControl(), kAck);
  // Nothing comes before the host asks for it.
  EXPECT_TRUE(host_.Silent(std::chrono::milliseconds(100)));
  ASSERT_TRUE(host_.SendEnq());
  std::string data;
  bool checkOk = false;
  ASSERT_TRUE(host_.ReadFrame(&data, &checkOk));
  EXPECT_TRUE(checkOk);
  EXPECT_EQ(data, "PUE00SIM-MODEL           424242");
  EXPECT_TRUE(sim_.WaitForLog("r1 CMD 3 43 55 45 |CUE|"));
  EXPECT_TRUE(sim_.WaitForLog("r1 LINK ACK"));
}

TEST_F(SerialReader, EnqRepeatsTheSameResponseUntilTheNextCommand) {
  StartReader();
  ASSERT_EQ(Exchange("C10"), "P1000");
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(host_.SendEnq());
    std::string data;
    bool ok = false;
    ASSERT_TRUE(host_.ReadFrame(&data, &ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(data, "P1000");
  }
  EXPECT_NE(sim_.Control("set r1 CardStatus 02").find("OK"), std::string::npos);
  EXPECT_EQ(Exchange("C11"), "P1102");
}

TEST_F(SerialReader, DleInCommandAndResponseIsDoubledAndCountedOnceInTheCheck) {
  // A serial number with a DLE byte travels doubled in the response frame;
  // the command code with a DLE is echoed back the same way.
  StartReader();
  ASSERT_TRUE(host_.SendFrame(std::string("C\x10x", 3)));
  EXPECT_EQ(host_.ReadControl(), kAck);
  ASSERT_TRUE(host_.SendEnq());
  std::string data;
  bool ok = false;
  ASSERT_TRUE(host_.ReadFrame(&data, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(data, std::string("N\x10x00", 5));
  EXPECT_TRUE(sim_.WaitForLog("TX 10 02 4E 10 10 78 30 30 10 03"));
}

TEST_F(SerialReader, EotCancelsAndIsAnsweredWithEot) {
  StartReader({"--fault", "late ms=60000"});
  ASSERT_TRUE(host_.SendFrame("C00"));
  EXPECT_EQ(host_.ReadControl(), kAck);
  ASSERT_TRUE(host_.SendEnq());
  EXPECT_TRUE(host_.Silent(std::chrono::milliseconds(150)));
  ASSERT_TRUE(host_.SendEot());
  EXPECT_EQ(host_.ReadControl(), kEot);
  // The cancelled answer never comes, not even on a later ENQ.
  ASSERT_TRUE(host_.SendEnq());
  EXPECT_TRUE(host_.Silent(std::chrono::milliseconds(150)));
  EXPECT_NE(sim_.Control("get r1 Cancels").find("OK\n1\n"), std::string::npos);
  EXPECT_EQ(Exchange("C10"), "P1000");
}

TEST_F(SerialReader, DamagedCommandFramesAreRefusedWithNak) {
  StartReader();
  ASSERT_TRUE(host_.Send(SerialHost::Frame("C10", true)));
  EXPECT_EQ(host_.ReadControl(), kNak);
  ASSERT_TRUE(
      host_.Send(std::string("\x10\x02"
                             "C1\x10"
                             "Z",
                             6)));
  EXPECT_EQ(host_.ReadControl(), kNak);
  ASSERT_TRUE(host_.SendFrame(std::string(2101, 'C')));
  EXPECT_EQ(host_.ReadControl(), kNak);
  // The reader took none of them.
  EXPECT_NE(sim_.Control("status r1").find("Commands=0\n"), std::string::npos);
  EXPECT_EQ(Exchange("C10"), "P1000");
  EXPECT_TRUE(sim_.WaitForLog("WARN wrong BCC in command frame"));
}

TEST_F(SerialReader, HalfFrameIsDroppedAfterSilence) {
  StartReader({"--set", "FrameTimeout=50"});
  ASSERT_TRUE(
      host_.Send(std::string("\x10\x02"
                             "C1",
                             4)));
  EXPECT_TRUE(sim_.WaitForLog("frame incomplete after 50 ms"));
  // The rest of the old frame arriving now is noise, not a command.
  ASSERT_TRUE(host_.Send(std::string("0\x10\x03", 3) + std::string(1, 'C' ^ '1' ^ '0' ^ 3)));
  EXPECT_TRUE(host_.Silent(std::chrono::milliseconds(100)));
  EXPECT_EQ(Exchange("C10"), "P1000");
}

TEST_F(SerialReader, NakFaultRefusesGoodFramesThenAccepts) {
  StartReader({"--fault", "nak count=2"});
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(host_.SendFrame("C10"));
    EXPECT_EQ(host_.ReadControl(), kNak) << i;
  }
  EXPECT_EQ(Exchange("C10"), "P1000");
  // The refused frames were not executed: one command in all.
  EXPECT_NE(sim_.Control("status r1").find("Commands=1\n"), std::string::npos);
  EXPECT_NE(sim_.Control("status r1").find("NaksSent=2\n"), std::string::npos);
}

TEST_F(SerialReader, NoAckFaultLeavesTheFrameUnanswered) {
  StartReader({"--fault", "no-ack"});
  ASSERT_TRUE(host_.SendFrame("C10"));
  EXPECT_TRUE(host_.Silent(std::chrono::milliseconds(200)));
  EXPECT_EQ(Exchange("C10"), "P1000");
}

TEST_F(SerialReader, BadBccFaultIsFollowedByAGoodRepeat) {
  StartReader({"--fault", "bad-bcc"});
  ASSERT_TRUE(host_.SendFrame("C10"));
  EXPECT_EQ(host_.ReadControl(), kAck);
  ASSERT_TRUE(host_.SendEnq());
  std::string data;
  bool ok = true;
  ASSERT_TRUE(host_.ReadFrame(&data, &ok));
  EXPECT_FALSE(ok);
  EXPECT_EQ(data, "P1000");
  ASSERT_TRUE(host_.SendEnq());
  ASSERT_TRUE(host_.ReadFrame(&data, &ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(data, "P1000");
  EXPECT_TRUE(sim_.WaitForLog("FAULT bad-bcc"));
}

TEST_F(SerialReader, OversizeFaultSendsMoreThanAHostTakes) {
  StartReader({"--fault", "oversize"});
  ASSERT_TRUE(host_.SendFrame("CV0"));
  EXPECT_EQ(host_.ReadControl(), kAck);
  ASSERT_TRUE(host_.SendEnq());
  std::string data;
  bool ok = false;
  ASSERT_TRUE(host_.ReadFrame(&data, &ok));
  EXPECT_TRUE(ok);
  EXPECT_GT(data.size(), 1050u);
  EXPECT_EQ(data.substr(0, 5), "PV000");
  // On the next ENQ the answer comes at its true size.
  ASSERT_TRUE(host_.SendEnq());
  ASSERT_TRUE(host_.ReadFrame(&data, &ok));
  EXPECT_EQ(data.size(), 67u);
}

TEST_F(SerialReader, LateFaultAnswersAPendingEnqWhenReady) {
  StartReader({"--fault", "late ms=700"});
  ASSERT_TRUE(host_.SendFrame("C10"));
  EXPECT_EQ(host_.ReadControl(), kAck);
  ASSERT_TRUE(host_.SendEnq());
  // Not before its time; then without a further ENQ.
  EXPECT_TRUE(host_.Silent(std::chrono::milliseconds(200)));
  std::string data;
  bool ok = false;
  ASSERT_TRUE(host_.ReadFrame(&data, &ok, std::chrono::seconds(5)));
  EXPECT_EQ(data, "P1000");
  EXPECT_TRUE(sim_.WaitForLog("ENQ: answer not ready yet"));
}

TEST_F(SerialReader, NoAnswerFaultIgnoresEnqUntilTheNextCommand) {
  StartReader({"--fault", "no-answer"});
  ASSERT_TRUE(host_.SendFrame("C10"));
  EXPECT_EQ(host_.ReadControl(), kAck);
  ASSERT_TRUE(host_.SendEnq());
  EXPECT_TRUE(host_.Silent(std::chrono::milliseconds(200)));
  ASSERT_TRUE(host_.SendEot());
  EXPECT_EQ(host_.ReadControl(), kEot);
  EXPECT_EQ(Exchange("C10"), "P1000");
}

TEST_F(SerialReader, DsrOffSilencesTheReaderUntilDsrOn) {
  StartReader();
  ASSERT_NE(sim_.Control("fault r1 dsr-off").find("OK"), std::string::npos);
  ASSERT_TRUE(host_.SendFrame("C10"));
  ASSERT_TRUE(host_.SendEnq());
  ASSERT_TRUE(host_.SendEot());
  EXPECT_TRUE(host_.Silent(std::chrono::milliseconds(200)));
  ASSERT_NE(sim_.Control("fault r1 dsr-on").find("OK"), std::string::npos);
  EXPECT_EQ(Exchange("C10"), "P1000");
  EXPECT_TRUE(sim_.WaitForLog("ignored (DSR off)"));
}

TEST_F(SerialReader, RateFaultFiresOnEveryFrameAtRateOne) {
  StartReader({"--fault", "nak rate=1"});
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(host_.SendFrame("C10"));
    EXPECT_EQ(host_.ReadControl(), kNak);
  }
  EXPECT_NE(sim_.Control("fault r1 clear nak").find("OK"), std::string::npos);
  EXPECT_EQ(Exchange("C10"), "P1000");
}

TEST_F(SerialReader, WrongLineSettingsMakeTheReaderDeaf) {
  StartReader();
  // The host at the wrong speed: nothing it sends makes sense to the reader.
  host_.Close();
  ASSERT_TRUE(host_.Open(sim_.Address("r1"), 9600));
  ASSERT_TRUE(host_.SendFrame("C10"));
  EXPECT_TRUE(host_.Silent(std::chrono::milliseconds(200)));
  EXPECT_TRUE(sim_.WaitForLog("line settings: baud 9600 instead of 38400"));
  EXPECT_NE(sim_.Control("get r1 LineCheck").find("on"), std::string::npos);
  // A reader told to run at 9600 takes it.
  ASSERT_NE(sim_.Control("set r1 BaudRate 9600").find("OK"), std::string::npos);
  EXPECT_EQ(Exchange("C10"), "P1000");
}

TEST_F(SerialReader, WritesTheComPortEntryIntoPdlnkIni) {
  std::string ini = q7mtest::MakeTempDir("ini") + "/PDLNK.INI";
  q7mtest::WriteFile(ini, "[COM3]\nDSR=OFF\n[USB]\nFilter=52\n");
  StartReader({"--pdlnk-ini", ini, "--com", "3"});
  EXPECT_EQ(q7mtest::ReadFile(ini),
            "[COM3]\nDSR=OFF\nDevicePath=" + sim_.Address("r1") + "\n[USB]\nFilter=52\n");
}

TEST_F(SerialReader, HostsComeAndGoWithoutDisturbingTheReader) {
  StartReader();
  EXPECT_EQ(Exchange("C10"), "P1000");
  host_.Close();
  // With no host on the line the reader waits; a new host finds it as before.
  ASSERT_TRUE(host_.Open(sim_.Address("r1")));
  EXPECT_EQ(Exchange("CL0"), "PL00050505050");
}

}  // namespace
}  // namespace simtest
