// The USB reader on the virtual HID bus as hosts see it: q7m-sim runs as its
// own process, each test host is a bus client written from the protocol
// description.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim_host.h"

namespace simtest {
namespace {

class UsbReader : public testing::Test {
 protected:
  void StartReader(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--usb"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(sim_.Start(args));
    path_ = sim_.Address("r1");
    ASSERT_EQ(path_, BusDir() + "/r1.hid");
  }
  void TearDown() override {
    if (sim_.process().pid() > 0) {
      EXPECT_EQ(sim_.Quit(), 0);
    }
  }
  bool Ok(const std::string& command) { return sim_.Control(command).rfind("OK", 0) == 0; }

  SimProcess sim_;
  std::string path_;
};

TEST_F(UsbReader, IdentityHasTheDefaultsThatPassTheDefaultFilter) {
  StartReader();
  BusHost host;
  BusIdentity id;
  ASSERT_EQ(host.Open(path_, BusHost::kReports, &id), 0);
  EXPECT_EQ(id.vendorId, 0x0590);
  EXPECT_EQ(id.productId, 52);
  EXPECT_EQ(id.inputLength, 2068);
  EXPECT_EQ(id.outputLength, 2068);
  EXPECT_EQ(id.featureLength, 0);
  EXPECT_FALSE(id.manufacturer.empty());
  EXPECT_FALSE(id.product.empty());
  EXPECT_FALSE(id.serial.empty());
  EXPECT_FALSE(id.descriptor.empty());
  struct stat st {};
  ASSERT_EQ(lstat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
}

TEST_F(UsbReader, IdentityFollowsTheFields) {
  StartReader({"--set", "VendorId=0x04A4", "--set", "ProductId=83", "--set", "VersionNumber=0x0213",
               "--set", "Manufacturer=Maker", "--set", "Product=Reader X", "--set",
               "UsbSerial=SN0042", "--set", "InputReportLength=268", "--set",
               "OutputReportLength=372", "--set", "ReportDescriptor=off"});
  BusHost host;
  BusIdentity id;
  ASSERT_EQ(host.Open(path_, 0, &id), 0);
  EXPECT_EQ(id.vendorId, 0x04A4);
  EXPECT_EQ(id.productId, 83);
  EXPECT_EQ(id.version, 0x0213);
  EXPECT_EQ(id.manufacturer, "Maker");
  EXPECT_EQ(id.product, "Reader X");
  EXPECT_EQ(id.serial, "SN0042");
  EXPECT_EQ(id.inputLength, 268);
  EXPECT_EQ(id.outputLength, 372);
  EXPECT_TRUE(id.descriptor.empty());
}

TEST_F(UsbReader, AnswersComeInTheReportIdOfTheirSize) {
  StartReader();
  BusHost host;
  ASSERT_EQ(host.Open(path_, BusHost::kReports), 0);
  // Response sizes 1 ("E"), 5, 13, 31, 67 and 165 bytes land in ids 1 to 5
  // and 7; every packet is the full input report length.
  struct Case {
    const char* command;
    size_t responseSize;
    unsigned id;
  };
  for (const Case& c : {Case{"E", 1, 1}, Case{"C10", 5, 2}, Case{"CL0", 13, 3}, Case{"CUE", 31, 4},
                        Case{"CV0", 67, 5}, Case{"CM0", 165, 7}}) {
    ASSERT_TRUE(host.SendMessage(c.command)) << c.command;
    std::vector<uint8_t> packet;
    ASSERT_TRUE(host.ReceivePacket(&packet)) << c.command;
    ASSERT_EQ(packet.size(), 2068u) << c.command;
    EXPECT_EQ(packet[0], c.id) << c.command;
    EXPECT_EQ(ReportIdForUsed(c.responseSize + 3), c.id);
    EXPECT_EQ((packet[1] << 8) | packet[2], static_cast<int>(c.responseSize)) << c.command;
    // Zero padding after the message.
    for (size_t i = 3 + c.responseSize; i < packet.size(); ++i) ASSERT_EQ(packet[i], 0) << i;
  }
  // An empty message is a message too; it gets its answer.
  EXPECT_EQ(host.Exchange(""), "N  00");
  EXPECT_EQ(host.Exchange("Cq1"), "Nq100");
}

TEST_F(UsbReader, EveryOpenHostReceivesEveryAnswer) {
  StartReader();
  BusHost a, b, probe;
  ASSERT_EQ(a.Open(path_, BusHost::kReports), 0);
  ASSERT_EQ(b.Open(path_, BusHost::kReports), 0);
  ASSERT_EQ(probe.Open(path_, 0), 0);
  ASSERT_TRUE(a.SendMessage("C10"));
  std::string answer;
  ASSERT_TRUE(a.ReceiveMessage(&answer));
  EXPECT_EQ(answer, "P1000");
  ASSERT_TRUE(b.ReceiveMessage(&answer));
  EXPECT_EQ(answer, "P1000");
  // And the other way round.
  ASSERT_TRUE(b.SendMessage("CL0"));
  ASSERT_TRUE(a.ReceiveMessage(&answer));
  EXPECT_EQ(answer, "PL00050505050");
  ASSERT_TRUE(b.ReceiveMessage(&answer));
  EXPECT_EQ(answer, "PL00050505050");
  // A probe gets nothing after its identity.
  std::vector<uint8_t> packet;
  EXPECT_FALSE(probe.ReceivePacket(&packet, std::chrono::milliseconds(100)));
  EXPECT_NE(sim_.Control("status r1").find("ReportConnections=2\n"), std::string::npos);
}

TEST_F(UsbReader, ExclusiveOpenKeepsOthersOutUntilItCloses) {
  StartReader();
  BusHost owner, other;
  ASSERT_EQ(owner.Open(path_, BusHost::kReports | BusHost::kExclusive), 0);
  EXPECT_EQ(other.Open(path_, BusHost::kReports), 1);  // BUSY
  EXPECT_EQ(other.Open(path_, 0), 1);                  // probes too
  EXPECT_EQ(owner.Exchange("C10"), "P1000");
  owner.Close();
  ASSERT_TRUE(sim_.WaitForLog("CLOSE host=1"));
  ASSERT_EQ(other.Open(path_, BusHost::kReports), 0);
  // A shared open keeps an exclusive one out, but not probes or shared ones.
  BusHost third;
  EXPECT_EQ(third.Open(path_, BusHost::kReports | BusHost::kExclusive), 1);
  EXPECT_EQ(third.Open(path_, 0), 0);
  EXPECT_EQ(third.Open(path_, BusHost::kReports), 0);
}

TEST_F(UsbReader, BusyFaultRefusesTheNextOpens) {
  StartReader({"--fault", "busy count=2"});
  BusHost host;
  EXPECT_EQ(host.Open(path_, 0), 1);
  EXPECT_EQ(host.Open(path_, BusHost::kReports), 1);
  EXPECT_EQ(host.Open(path_, BusHost::kReports), 0);
  EXPECT_NE(sim_.Control("status r1").find("OpensRefused=2\n"), std::string::npos);
}

// Sends `open` as the first packet of a new connection; the refusal reason,
// 0 for an accept, -1 for no answer.
int RawOpen(const std::string& path, const std::vector<uint8_t>& open) {
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  int result = -1;
  pollfd p{fd, POLLIN, 0};
  uint8_t answer[8192];
  if (send(fd, open.data(), open.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(open.size()) &&
      poll(&p, 1, 3000) == 1) {
    ssize_t n = recv(fd, answer, sizeof answer, 0);
    if (n >= 8 && std::memcmp(answer, "QHBR", 4) == 0) result = answer[6] | (answer[7] << 8);
    if (n >= 28 && std::memcmp(answer, "QHBA", 4) == 0) result = 0;
  }
  close(fd);
  return result;
}

TEST_F(UsbReader, OpenPacketsAreChecked) {
  StartReader();
  std::vector<uint8_t> open{'Q', 'H', 'B', 'O', 1, 0, 1, 0, 0, 0, 0, 0};
  EXPECT_EQ(RawOpen(path_, open), 0);
  // Longer open packets are accepted (later versions may add fields).
  std::vector<uint8_t> longer = open;
  longer.resize(40, 0);
  EXPECT_EQ(RawOpen(path_, longer), 0);
  std::vector<uint8_t> version = open;
  version[4] = 2;
  EXPECT_EQ(RawOpen(path_, version), 2);
  std::vector<uint8_t> magic = open;
  magic[3] = 'X';
  EXPECT_EQ(RawOpen(path_, magic), 3);
  EXPECT_EQ(RawOpen(path_, std::vector<uint8_t>(open.begin(), open.begin() + 8)), 3);
  // The device is unharmed.
  BusHost host;
  ASSERT_EQ(host.Open(path_, BusHost::kReports), 0);
  EXPECT_EQ(host.Exchange("C10"), "P1000");
}

TEST_F(UsbReader, ConnectionsThatNeverOpenAreClosed) {
  StartReader({"--set", "OpenTimeout=100"});
  int silent = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
  ASSERT_EQ(connect(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  BusHost host;
  ASSERT_EQ(host.Open(path_, BusHost::kReports), 0);
  pollfd p{silent, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 5000), 1);
  char byte;
  EXPECT_EQ(recv(silent, &byte, 1, 0), 0);  // closed without a word
  close(silent);
  EXPECT_TRUE(sim_.WaitForLog("(no open packet)"));
  // A host that opened in time stays.
  EXPECT_EQ(host.Exchange("C10"), "P1000");
}

TEST_F(UsbReader, BadOutputReportsAreNotAnswered) {
  StartReader();
  BusHost host;
  ASSERT_EQ(host.Open(path_, BusHost::kReports), 0);
  std::vector<uint8_t> packet(2068, 0);
  packet[0] = 1;
  packet[2] = 5;  // 5 + 3 bytes do not fit report id 1
  ASSERT_TRUE(host.SendPacket(packet));
  packet.assign(2069, 0);  // longer than the output report
  packet[0] = 1;
  packet[2] = 1;
  packet[3] = 'C';
  ASSERT_TRUE(host.SendPacket(packet));
  std::vector<uint8_t> answer;
  EXPECT_FALSE(host.ReceivePacket(&answer, std::chrono::milliseconds(150)));
  EXPECT_TRUE(sim_.WaitForLog("output report refused: length field beyond the report id's size"));
  EXPECT_TRUE(sim_.WaitForLog("refused: longer than the output report length"));
  packet.assign(3000, 1);  // more than any report at all
  ASSERT_TRUE(host.SendPacket(packet));
  EXPECT_TRUE(sim_.WaitForLog("host=1 sent 3000 bytes, more than any report"));
  EXPECT_EQ(host.Exchange("C10"), "P1000");
}

TEST_F(UsbReader, UnplugHangsUpEveryHostAndReplugTakesNewOpens) {
  StartReader();
  BusHost a, b;
  ASSERT_EQ(a.Open(path_, BusHost::kReports), 0);
  ASSERT_EQ(b.Open(path_, BusHost::kReports), 0);
  ASSERT_TRUE(Ok("unplug r1"));
  EXPECT_TRUE(a.WaitForHangup());
  EXPECT_TRUE(b.WaitForHangup());
  struct stat st {};
  EXPECT_NE(lstat(path_.c_str(), &st), 0);
  BusHost c;
  EXPECT_EQ(c.Open(path_, BusHost::kReports), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(Ok("unplug r1"));
  ASSERT_TRUE(Ok("replug r1"));
  ASSERT_EQ(c.Open(path_, BusHost::kReports), 0);
  EXPECT_EQ(c.Exchange("C10"), "P1000");
}

TEST_F(UsbReader, IdentityChangesOnlyWhileUnplugged) {
  StartReader();
  EXPECT_FALSE(Ok("set r1 InputReportLength 268"));
  EXPECT_TRUE(Ok("set r1 ProductId 83"));
  ASSERT_TRUE(Ok("unplug r1"));
  EXPECT_TRUE(Ok("set r1 InputReportLength 268"));
  EXPECT_FALSE(Ok("set r1 InputReportLength 300"));
  ASSERT_TRUE(Ok("replug r1"));
  BusHost host;
  BusIdentity id;
  ASSERT_EQ(host.Open(path_, BusHost::kReports, &id), 0);
  EXPECT_EQ(id.productId, 83);
  EXPECT_EQ(id.inputLength, 268);
  std::vector<uint8_t> packet;
  ASSERT_TRUE(host.SendMessage("CM0"));
  ASSERT_TRUE(host.ReceivePacket(&packet));
  EXPECT_EQ(packet.size(), 268u);
  EXPECT_EQ(packet[0], 7);
}

TEST_F(UsbReader, UnplugOnCommandRemovesTheDeviceInsteadOfAnswering) {
  StartReader({"--fault", "unplug-on-command ms=200"});
  BusHost host;
  ASSERT_EQ(host.Open(path_, BusHost::kReports), 0);
  ASSERT_TRUE(host.SendMessage("C10"));
  EXPECT_TRUE(host.WaitForHangup());
  // It comes back by itself.
  ASSERT_TRUE(sim_.WaitForLog("LINK PLUG", std::chrono::seconds(5)));
  ASSERT_TRUE(sim_.WaitForLog("UNPLUG (fault)"));
  for (int attempt = 0; attempt < 100 && host.Open(path_, BusHost::kReports) != 0; ++attempt)
    usleep(20000);
  EXPECT_EQ(host.Exchange("C10"), "P1000");
}

TEST_F(UsbReader, MalformedInputReportFaults) {
  StartReader({"--fault", "zero-length", "--fault", "long-length", "--fault", "report-id-0"});
  BusHost host;
  ASSERT_EQ(host.Open(path_, BusHost::kReports), 0);
  std::vector<uint8_t> p;
  // Id 0 first: raw, the response from offset 1.
  ASSERT_TRUE(host.SendMessage("C10"));
  ASSERT_TRUE(host.ReceivePacket(&p));
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(std::string(p.begin() + 1, p.begin() + 6), "P1000");
  ASSERT_TRUE(host.SendMessage("C10"));
  ASSERT_TRUE(host.ReceivePacket(&p));
  EXPECT_EQ(p[0], 2);
  EXPECT_EQ((p[1] << 8) | p[2], 0);
  ASSERT_TRUE(host.SendMessage("C10"));
  ASSERT_TRUE(host.ReceivePacket(&p));
  EXPECT_EQ((p[1] << 8) | p[2], 2068 - 3 + 1);
  EXPECT_EQ(host.Exchange("C10"), "P1000");
}

TEST_F(UsbReader, LateAnswersKeepTheirOrderAndCancelDropsThem) {
  StartReader({"--fault", "late ms=400"});
  BusHost host;
  ASSERT_EQ(host.Open(path_, BusHost::kReports), 0);
  ASSERT_TRUE(host.SendMessage("C10"));
  ASSERT_TRUE(host.SendMessage("CL0"));
  std::string answer;
  // The second answer is not late itself but waits behind the first.
  EXPECT_FALSE(host.ReceiveMessage(&answer, std::chrono::milliseconds(100)));
  ASSERT_TRUE(host.ReceiveMessage(&answer, std::chrono::seconds(5)));
  EXPECT_EQ(answer, "P1000");
  ASSERT_TRUE(host.ReceiveMessage(&answer));
  EXPECT_EQ(answer, "PL00050505050");

  ASSERT_TRUE(Ok("fault r1 late ms=60000"));
  ASSERT_TRUE(host.SendMessage("C10"));
  ASSERT_TRUE(host.SendMessage("E"));
  ASSERT_TRUE(host.ReceiveMessage(&answer));
  EXPECT_EQ(answer, "E");
  EXPECT_NE(sim_.Control("status r1").find("DelayedAnswers=0\n"), std::string::npos);
}

TEST_F(UsbReader, NoAnswerFaultSwallowsOneCommand) {
  StartReader({"--fault", "no-answer"});
  BusHost host;
  ASSERT_EQ(host.Open(path_, BusHost::kReports), 0);
  ASSERT_TRUE(host.SendMessage("C10"));
  std::string answer;
  EXPECT_FALSE(host.ReceiveMessage(&answer, std::chrono::milliseconds(150)));
  EXPECT_EQ(host.Exchange("C11"), "P1100");
}

TEST_F(UsbReader, SerialFaultsAreRefusedOnAUsbReader) {
  StartReader();
  EXPECT_FALSE(Ok("fault r1 nak"));
  EXPECT_FALSE(Ok("fault r1 dsr-off"));
  EXPECT_TRUE(Ok("fault r1 late ms=10"));
}

TEST_F(UsbReader, TwoEmulatorsCannotTakeOneName) {
  StartReader();
  SimProcess second;
  EXPECT_FALSE(second.Start({"--usb=r1"}));
  EXPECT_NE(second.process().Wait(), 0);
  // A leftover socket file of a dead device is taken over.
  SimProcess third;
  ASSERT_TRUE(third.Start({"--usb=r2", "--no-control"}));
  std::string r2 = third.Address("r2");
  third.process().Kill(9);
  third.process().Wait();
  struct stat st {};
  ASSERT_EQ(lstat(r2.c_str(), &st), 0);  // left behind by the kill
  BusHost host;
  EXPECT_EQ(host.Open(r2, 0), -1);
  EXPECT_EQ(errno, ECONNREFUSED);
  SimProcess fourth;
  ASSERT_TRUE(fourth.Start({"--usb=r2"}));
  EXPECT_EQ(host.Open(r2, 0), 0);
  host.Close();
  EXPECT_EQ(fourth.Quit(), 0);
}

}  // namespace
}  // namespace simtest

namespace simtest {
namespace {

// Runs q7m-sim with a USB reader on bus directory `dir` until it is ready
// (then stops it: 0) or gives up (its exit code).
int StartOnBus(const std::string& dir) {
  const char* saved = getenv("Q7M_HIDBUS_DIR");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("Q7M_HIDBUS_DIR", dir.c_str(), 1);
  q7mtest::ChildProcess sim;
  const bool started =
      sim.StartProgram(ProgramPath(), {"--log", q7mtest::MakeTempDir("log") + "/wire", "--usb"});
  setenv("Q7M_HIDBUS_DIR", previous.c_str(), 1);
  if (!started) return -1;
  std::string line;
  while (sim.ReadLine(&line)) {
    if (line == "ready") {
      sim.Kill(15);
      sim.Wait();
      return 0;
    }
  }
  return sim.Wait();
}

// Hosts trust whatever answers in the bus directory (by default in /tmp,
// where anyone may have made it first), so a reader starts only in one that
// is its user's own and closed to other writers, and never binds through a
// link planted under its name.
TEST(UsbReaderBusDirectory, AReaderStartsOnlyInABusDirectoryOfItsOwnAndNeverThroughALink) {
  const std::string dir = q7mtest::MakeTempDir("bus");
  ASSERT_EQ(StartOnBus(dir), 0);

  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  EXPECT_NE(StartOnBus(dir), 0) << "anyone may write to it";
  ASSERT_EQ(chmod(dir.c_str(), 0700), 0);

  if (geteuid() == 0) {
    ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
    EXPECT_NE(StartOnBus(dir), 0) << "another user's";
    ASSERT_EQ(chown(dir.c_str(), 0, 0), 0);
  }

  const std::string victim = q7mtest::MakeTempDir("victim") + "/file";
  q7mtest::WriteFile(victim, "precious");
  const std::string link = dir + "/r1.hid";
  ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
  EXPECT_NE(StartOnBus(dir), 0) << "a link under the reader's name";
  EXPECT_EQ(q7mtest::ReadFile(victim), "precious");
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

}  // namespace
}  // namespace simtest
