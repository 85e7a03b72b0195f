// Sharing one reader between processes: the handle registry in the shared
// device area, taking over another process's handle, stale slots, the full
// registry and the cancel event that all sharers see. Real processes, with
// a file standing in for the reader.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/kcmp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cls_com_list.h"
#include "q7m/common/cls_share_memory.h"
#include "q7m/platform_sys.h"
#include "q7m/trace_client.h"
#include "q7m_test.h"
#include "shared_device_area.h"
#include "test_device.h"

namespace q7mtest {
std::atomic<int> TestDevice::running{0};
std::atomic<int> TestDevice::maxRunning{0};
}  // namespace q7mtest

namespace {

using q7mtest::ChildProcess;
using q7mtest::MakeTestDevice;

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

void TraceAnchor() {}

// Gives up the capability to reach into other processes (a no-op for a
// process that never had it), as an ordinary user's process is.
bool DropPtraceCapability() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[CAP_SYS_PTRACE / 32].effective &= ~(1u << (CAP_SYS_PTRACE % 32));
  return syscall(SYS_capset, &header, data) == 0;
}

// A process that opens the device shared and obeys one command per line:
// open, close, send, receive, cancel, reset, quit. It answers each with
// "<command> <result> [slot fd]". Options after the device path:
// "trace=DIR" traces everything into the ring that DIR's SCRIBEL.INI
// configures; "private" keeps other processes of the user from taking its
// descriptors (not dumpable), "no-ptrace" drops the power to take them.
Q7M_CHILD(Sharer) {
  const std::string path = args.at(0);
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i].rfind("trace=", 0) == 0) {
      if (::chdir(args[i].c_str() + 6) != 0) return 2;
      // The trace library lives beside the libraries, not beside this
      // program, and a sanitizer's dlopen wrapper searches without this
      // program's run path: load it from there, so loading it by name
      // finds it already there.
      const std::string scribel = q7mtest::BuildLibDir() + "/libSCRIBEL.so";
      if (::dlopen(scribel.c_str(), RTLD_NOW | RTLD_GLOBAL) == nullptr) return 5;
      q7m::LibraryTrace().Attach(reinterpret_cast<const void*>(&TraceAnchor));
    } else if (args[i] == "private") {
      if (::prctl(PR_SET_DUMPABLE, 0) != 0) return 3;
    } else if (args[i] == "no-ptrace") {
      if (!DropPtraceCapability()) return 4;
    }
  }
  q7m::clsComList table(nullptr, &MakeTestDevice);
  int handle = -1;
  for (std::string line; q7mtest::Hear(&line);) {
    uint32_t r = 0;
    if (line == "open") {
      r = table.Open(path.c_str(), true, &handle);
      int slot = -1, fd = -1;
      table.RunLocked(handle, [&](q7m::clsDevice& d) {
        slot = d.ownSlotIndex();
        fd = d.deviceHandle();
        return 0u;
      });
      q7mtest::Say("open " + std::to_string(r) + " " + std::to_string(slot) + " " +
                   std::to_string(fd));
      continue;
    }
    if (line == "close") r = table.Close(handle);
    if (line == "send")
      r = table.RunBusy(handle, [](q7m::clsDevice& d) {
        return d.DeviceSend(reinterpret_cast<const uint8_t*>("C10"), 3, 1000);
      });
    if (line == "receive")
      r = table.RunBusy(handle, [](q7m::clsDevice& d) {
        uint8_t buffer[8];
        uint32_t received = 0;
        return d.DeviceReceive(buffer, sizeof buffer, &received, 60000);
      });
    if (line == "cancel") r = table.RunLocked(handle, [](q7m::clsDevice& d) { return d.Cancel(); });
    if (line == "reset") r = table.RunLocked(handle, [](q7m::clsDevice& d) { return d.Reset(); });
    if (line == "quit") return 0;
    q7mtest::Say(line + " " + std::to_string(r));
  }
  return 0;
}

class DeviceSharingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = q7mtest::MakeTempDir("reader") + "/reader";
    q7mtest::WriteFile(device_, "");
  }

  struct Opened {
    uint32_t result = 99;
    int slot = -1;
    int fd = -1;
  };
  Opened Open(ChildProcess& p, const std::vector<std::string>& options = {}) {
    if (p.pid() < 0) {
      std::vector<std::string> args{device_};
      args.insert(args.end(), options.begin(), options.end());
      EXPECT_TRUE(p.Start("Sharer", args));
    }
    Opened o;
    std::string line;
    EXPECT_TRUE(p.WriteLine("open"));
    EXPECT_TRUE(p.ReadLine(&line));
    auto w = Words(line);
    if (w.size() == 4 && w[0] == "open") {
      o.result = static_cast<uint32_t>(std::stoul(w[1]));
      o.slot = std::stoi(w[2]);
      o.fd = std::stoi(w[3]);
    }
    return o;
  }
  std::string Ask(ChildProcess& p, const std::string& command) {
    std::string line;
    EXPECT_TRUE(p.WriteLine(command));
    EXPECT_TRUE(p.ReadLine(&line, std::chrono::seconds(20)));
    return line;
  }
  static bool SameFile(const ChildProcess& a, int fdA, const ChildProcess& b, int fdB) {
    return syscall(SYS_kcmp, a.pid(), b.pid(), KCMP_FILE, fdA, fdB) == 0;
  }
  // The shared device area as every sharer sees it.
  q7m::SharedDeviceArea* Area() {
    if (!area_.Data()) {
      EXPECT_EQ(area_.Create(device_.c_str(), q7m::kSharedDeviceAreaSize), 0u);
    }
    return static_cast<q7m::SharedDeviceArea*>(area_.Data());
  }
  int SlotsInUse() {
    int n = 0;
    for (const q7m::HandleSlot& s : Area()->slots) n += s.inUse != 0;
    return n;
  }
  // Handle mutexes some process holds in this test's object namespace.
  static int HandleMutexFiles() {
    int n = 0;
    for (const std::string& name : q7mtest::LiveObjectNames())
      n += name.find("OpenHandle") != std::string::npos;
    return n;
  }

  // A directory whose SCRIBEL.INI has a sharer trace every line of the
  // device table and the sharing machinery (this program's own section).
  std::string TraceDir() {
    const std::string dir = q7mtest::MakeTempDir("trace");
    char base[256];
    EXPECT_GT(Q7M_GetModuleBaseName(nullptr, base, sizeof base), 0u);
    q7mtest::WriteFile(dir + "/SCRIBEL.INI",
                       "[SCRIBEL]\nFILEPATH=" + dir +
                           "\nFILENAME=trace.log\nRECORDLENGTH=200\nMAXRECORD=500\n"
                           "FILEFLUSH=OFF\n[" +
                           base + "]\nTRACE=0xFFFFFFFF\n");
    return dir;
  }
  // Whether the ring in `dir` holds a record whose text starts with `text`.
  static bool Traced(const std::string& dir, const std::string& text) {
    const std::string ring = q7mtest::ReadFile(dir + "/trace.log");
    for (size_t at = ring.find(text); at != std::string::npos; at = ring.find(text, at + 1))
      if (at >= 40 && ring.compare(at - 1, 1, ",") == 0) return true;
    return false;
  }

  std::string device_;
  q7m::clsShareMemory area_;
};

TEST_F(DeviceSharingTest, SecondProcessTakesOverTheFirstOnesHandle) {
  ChildProcess a, b, c;
  const Opened oa = Open(a);
  ASSERT_EQ(oa.result, 0u);
  EXPECT_EQ(oa.slot, 0);
  const Opened ob = Open(b);
  ASSERT_EQ(ob.result, 0u);
  EXPECT_EQ(ob.slot, 1);
  EXPECT_TRUE(SameFile(a, oa.fd, b, ob.fd));

  q7m::SharedDeviceArea* area = Area();
  EXPECT_EQ(area->slotCount, q7m::kHandleSlotCount);
  EXPECT_EQ(SlotsInUse(), 2);
  EXPECT_EQ(area->slots[0].processId, static_cast<uint32_t>(a.pid()));
  EXPECT_EQ(area->slots[0].handleValue, static_cast<uint32_t>(oa.fd));
  EXPECT_EQ(area->slots[1].processId, static_cast<uint32_t>(b.pid()));

  // The handle mutex that keeps slot 0 alive, found by its name alone.
  const q7m::HandleSlot& s0 = area->slots[0];
  char name[80];
  std::snprintf(name, sizeof name, "OpenHandle%04u%02u%02u%02u%02u%02u%08X%08X%08X",
                s0.createdUtc.wYear, s0.createdUtc.wMonth, s0.createdUtc.wDay, s0.createdUtc.wHour,
                s0.createdUtc.wMinute, s0.createdUtc.wSecond, s0.createdTick, s0.processId,
                s0.handleValue);
  {
    q7m::clsMutex handleMutex;
    EXPECT_EQ(handleMutex.Create(name, false, q7m::kMayOpen), 0u) << name;
  }

  // After the first closes, a third takes over the second's handle and
  // reuses the freed slot.
  EXPECT_EQ(Ask(a, "close"), "close 0");
  {
    q7m::clsMutex handleMutex;
    EXPECT_EQ(handleMutex.Create(name, false, q7m::kMayOpen), q7m::kMutexCreated) << name;
  }
  EXPECT_EQ(area->slots[0].inUse, 0u);
  EXPECT_EQ(area->slots[0].handleValue, q7m::kNoHandleValue);
  const Opened oc = Open(c);
  ASSERT_EQ(oc.result, 0u);
  EXPECT_EQ(oc.slot, 0);
  EXPECT_TRUE(SameFile(b, ob.fd, c, oc.fd));
  EXPECT_EQ(SlotsInUse(), 2);
}

TEST_F(DeviceSharingTest, RefusedTakeOverOpensTheReaderAnewAndKeepsTheOwnersSlot) {
  // The kernel hands over another process's descriptor only with
  // ptrace-level permission: here the first sharer is not dumpable and the
  // second lacks the capability, whoever runs the test.
  ChildProcess a, b;
  const Opened oa = Open(a, {"private"});
  ASSERT_EQ(oa.result, 0u);
  const std::string trace = TraceDir();
  const Opened ob = Open(b, {"no-ptrace", "trace=" + trace});
  ASSERT_EQ(ob.result, 0u);
  EXPECT_EQ(ob.slot, 1);
  EXPECT_FALSE(SameFile(a, oa.fd, b, ob.fd));
  // The owner is alive: its slot is not taken for a stale one.
  q7m::SharedDeviceArea* area = Area();
  EXPECT_EQ(SlotsInUse(), 2);
  EXPECT_EQ(area->slots[0].processId, static_cast<uint32_t>(a.pid()));
  EXPECT_EQ(area->slots[0].handleValue, static_cast<uint32_t>(oa.fd));
  EXPECT_EQ(area->slots[1].processId, static_cast<uint32_t>(b.pid()));
  // Both still meet in one cancel event.
  EXPECT_EQ(Ask(a, "cancel"), "cancel 0");
  EXPECT_EQ(Ask(b, "send"), "send 3");
  EXPECT_EQ(Ask(b, "reset"), "reset 0");
  EXPECT_EQ(Ask(a, "send"), "send 0");

  ASSERT_TRUE(b.WriteLine("quit"));
  EXPECT_EQ(b.Wait(), 0);
  EXPECT_TRUE(Traced(
      trace, "E:clsDevice::DuplecateDevice: DuplecateDeviceHandle Failure(APIerror:00000005)"));
}

TEST_F(DeviceSharingTest, KilledProcessSlotIsFreedByTheNextOpen) {
  ChildProcess a, b;
  const Opened oa = Open(a);
  ASSERT_EQ(oa.result, 0u);
  // The area outlives the killed process only while someone else maps it
  // (as another sharer would).
  ASSERT_EQ(Area()->slots[0].inUse, 1u);
  a.Kill(9);
  a.Wait();
  EXPECT_EQ(Area()->slots[0].inUse, 1u);  // nobody cleared it

  const std::string trace = TraceDir();
  const Opened ob = Open(b, {"trace=" + trace});
  ASSERT_EQ(ob.result, 0u);
  // The stale slot was freed, so the newcomer's own registration lands in it.
  EXPECT_EQ(ob.slot, 0);
  EXPECT_EQ(SlotsInUse(), 1);
  EXPECT_EQ(Area()->slots[0].processId, static_cast<uint32_t>(b.pid()));

  EXPECT_EQ(HandleMutexFiles(), 1) << "the dead owner's handle mutex went with its slot";

  // The newcomer tells that it freed the slot: an expected event, not an
  // error of its open.
  ASSERT_TRUE(b.WriteLine("quit"));
  EXPECT_EQ(b.Wait(), 0);
  EXPECT_TRUE(Traced(trace, "I:clsDevice::FreeStaleSlot: Owner Ended(Slot=00 PID="));
  EXPECT_FALSE(Traced(trace, "E:clsDevice::CreateMutexDeviceHandle"));
  EXPECT_FALSE(Traced(trace, "E:clsDevice::DuplecateDeviceHandle"));
  EXPECT_FALSE(Traced(trace, "E:clsDevice::DuplecateDevice:"));
}

TEST_F(DeviceSharingTest, SeventySharersKilledInTurnLeaveOnlyLiveOwnersInTheRegistry) {
  ChildProcess keeper;
  ASSERT_EQ(Open(keeper).result, 0u);
  for (int i = 0; i < 70; ++i) {
    ChildProcess victim;
    const Opened o = Open(victim);
    ASSERT_EQ(o.result, 0u) << "open " << i << " after " << i << " kills";
    victim.Kill(9);
    ASSERT_EQ(victim.Wait(), 128 + 9);
  }
  ChildProcess last;
  ASSERT_EQ(Open(last).result, 0u);
  for (const q7m::HandleSlot& slot : Area()->slots) {
    if (slot.inUse == 0) continue;
    EXPECT_TRUE(slot.processId == static_cast<uint32_t>(keeper.pid()) ||
                slot.processId == static_cast<uint32_t>(last.pid()))
        << "slot of process " << slot.processId;
  }
  EXPECT_EQ(SlotsInUse(), 2);
  EXPECT_EQ(HandleMutexFiles(), 2) << "no handle mutex of a killed process stays behind";
}

TEST_F(DeviceSharingTest, CancelEndsWithTheProcessOrHandleThatIssuedIt) {
  ChildProcess a, b, c;
  ASSERT_EQ(Open(a).result, 0u);
  const std::string trace = TraceDir();
  ASSERT_EQ(Open(b, {"trace=" + trace}).result, 0u);
  ASSERT_EQ(Open(c).result, 0u);

  // Killed between its cancel and its reset: the next sharer that meets
  // the set event resets it and goes ahead.
  EXPECT_EQ(Ask(a, "cancel"), "cancel 0");
  EXPECT_EQ(Ask(b, "send"), "send 3") << "a live issuer's cancel holds";
  a.Kill(9);
  ASSERT_EQ(a.Wait(), 128 + 9);
  EXPECT_EQ(Ask(b, "send"), "send 0");
  EXPECT_EQ(Ask(c, "send"), "send 0");

  // Closed without a reset (as a close that cancels its running exchange
  // does): the cancel ends with the handle.
  EXPECT_EQ(Ask(c, "cancel"), "cancel 0");
  EXPECT_EQ(Ask(b, "send"), "send 3");
  EXPECT_EQ(Ask(c, "close"), "close 0");
  EXPECT_EQ(Ask(b, "send"), "send 0");

  ASSERT_TRUE(b.WriteLine("quit"));
  EXPECT_EQ(b.Wait(), 0);
  EXPECT_TRUE(Traced(trace, "I:clsDevice::IsCancel: Cancel Of Ended Owner Reset(PID="));
}

TEST_F(DeviceSharingTest, CancelReachesEverySharerUntilReset) {
  ChildProcess a, b;
  ASSERT_EQ(Open(a).result, 0u);
  ASSERT_EQ(Open(b).result, 0u);
  ASSERT_TRUE(b.WriteLine("receive"));
  // The receive of b is waiting now or soon; the cancel is an event that
  // stays set, so the order does not matter.
  EXPECT_EQ(Ask(a, "cancel"), "cancel 0");
  std::string line;
  ASSERT_TRUE(b.ReadLine(&line, std::chrono::seconds(20)));
  EXPECT_EQ(line, "receive 3");
  EXPECT_EQ(Ask(b, "send"), "send 3");
  EXPECT_EQ(Ask(a, "send"), "send 3");
  EXPECT_EQ(Ask(a, "reset"), "reset 0");
  EXPECT_EQ(Ask(b, "send"), "send 0");
}

TEST_F(DeviceSharingTest, SixtyFourSlotsThenTheRegistryIsFull) {
  q7m::clsComList table(nullptr, &MakeTestDevice);
  std::vector<int> handles;
  for (uint32_t i = 0; i < q7m::kHandleSlotCount; ++i) {
    int h = -1;
    ASSERT_EQ(table.Open(device_.c_str(), true, &h), 0u) << i;
    handles.push_back(h);
  }
  EXPECT_EQ(SlotsInUse(), 64);
  int h = 7;
  EXPECT_EQ(table.Open(device_.c_str(), true, &h), q7m::kPdSlotsFull);
  EXPECT_EQ(h, -1);
  // Another process gets the same answer, not "no reader", and says why.
  ChildProcess other;
  const std::string trace = TraceDir();
  EXPECT_EQ(Open(other, {"trace=" + trace}).result, q7m::kPdSlotsFull);
  ASSERT_TRUE(other.WriteLine("quit"));
  EXPECT_EQ(other.Wait(), 0);
  EXPECT_TRUE(Traced(trace, "I:clsDevice::RegisterDeviceHandle: Buffer Over(0000000A)"));
  EXPECT_TRUE(
      Traced(trace, "I:clsDevice::DuplecateDevice: RegisterDeviceHandle Failure(APIerror:"));
  EXPECT_FALSE(Traced(trace, "I:clsComList::Open: Com->Open Failure"));
  // An unshared open never uses the registry.
  EXPECT_EQ(table.Open(device_.c_str(), false, &h), 0u);
  EXPECT_EQ(table.Close(h), 0u);

  EXPECT_EQ(table.Close(handles[10]), 0u);
  EXPECT_EQ(SlotsInUse(), 63);
  EXPECT_EQ(table.Open(device_.c_str(), true, &h), 0u);
  EXPECT_EQ(h, handles[10]);
  EXPECT_EQ(SlotsInUse(), 64);
}

TEST_F(DeviceSharingTest, SessionKeyRecordLivesInTheSharedArea) {
  q7m::clsComList table(nullptr, &MakeTestDevice);
  int h = -1;
  ASSERT_EQ(table.Open(device_.c_str(), true, &h), 0u);
  // The flag sits 16 bytes into the mapping (after the 12-byte lock header
  // and the slot count).
  auto* mapping = reinterpret_cast<uint8_t*>(Area()) - 12;
  uint32_t* flag = reinterpret_cast<uint32_t*>(mapping + 16);
  int mode = -1;
  auto readMode = [&] {
    return table.RunBusy(h, [&](q7m::clsDevice& d) { return d.GetCryptoMode(&mode); });
  };
  EXPECT_EQ(readMode(), 0u);
  EXPECT_EQ(mode, 0);
  *flag = 1;
  EXPECT_EQ(readMode(), 0u);
  EXPECT_EQ(mode, 1);
  // While the flag is set, the transport is handed the shared record.
  uint32_t r = table.RunBusy(h, [](q7m::clsDevice& d) {
    EXPECT_EQ(d.DeviceSend(reinterpret_cast<const uint8_t*>("C"), 1, 100), 0u);
    return static_cast<q7mtest::TestDevice&>(d).lastKey != nullptr ? 0u : 1u;
  });
  EXPECT_EQ(r, 0u);
  // Importing "no key" switches it off for everybody.
  EXPECT_EQ(
      table.RunLocked(h, [](q7m::clsDevice& d) { return d.ImportSessionKey(nullptr, nullptr, 1); }),
      0u);
  EXPECT_EQ(*flag, 0u);
  const uint8_t key[24] = {};
  EXPECT_EQ(table.RunLocked(h, [&](q7m::clsDevice& d) { return d.ImportSessionKey(key, key, 3); }),
            q7m::kPdNotSupported);
  EXPECT_EQ(*flag, 0u);
}

TEST(DeviceTable, HandlesAreTheFirstFreeIndexAndTheTableGrowsByFour) {
  const std::string device = q7mtest::MakeTempDir("reader") + "/reader";
  q7mtest::WriteFile(device, "");
  q7m::clsComList table(nullptr, &MakeTestDevice);
  int h[6];
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(table.Open(device.c_str(), false, &h[i]), 0u);
    EXPECT_EQ(h[i], i);
  }
  EXPECT_EQ(table.capacity(), 8u);
  EXPECT_EQ(table.inUse(), 5u);
  EXPECT_EQ(table.Close(1), 0u);
  EXPECT_EQ(table.Close(1), q7m::kPdInvalidHandle);
  EXPECT_EQ(table.Close(3), 0u);
  ASSERT_EQ(table.Open(device.c_str(), false, &h[5]), 0u);
  EXPECT_EQ(h[5], 1);
  EXPECT_EQ(table.inUse(), 4u);
  EXPECT_EQ(table.capacity(), 8u);
  // A failed open leaves no entry behind.
  int bad = 3;
  EXPECT_EQ(table.Open("/nonexistent/reader", false, &bad), q7m::kPdSystemError);
  EXPECT_EQ(bad, -1);
  EXPECT_EQ(table.inUse(), 4u);
}

TEST(DeviceTable, OneExchangeAtATimePerDevice) {
  const std::string device = q7mtest::MakeTempDir("reader") + "/reader";
  q7mtest::WriteFile(device, "");
  q7m::clsComList table(nullptr, &MakeTestDevice);
  int h = -1;
  ASSERT_EQ(table.Open(device.c_str(), false, &h), 0u);
  q7mtest::TestDevice::maxRunning = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(table.RunBusy(h,
                                [](q7m::clsDevice& d) {
                                  return d.DeviceSend(reinterpret_cast<const uint8_t*>("x"), 1,
                                                      1000);
                                }),
                  0u);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(q7mtest::TestDevice::maxRunning, 1);
  EXPECT_EQ(q7mtest::ReadFile(device).size(), 20u);
}

TEST(DeviceTable, SwitchingTheCryptoModeOffWhileExchangesRun) {
  // The switch-off runs under the table lock alone, beside a running
  // exchange that reads the flag (ThreadSanitizer watches the two).
  const std::string device = q7mtest::MakeTempDir("reader") + "/reader";
  q7mtest::WriteFile(device, "");
  q7m::clsComList table(nullptr, &MakeTestDevice);
  int h = -1;
  ASSERT_EQ(table.Open(device.c_str(), false, &h), 0u);
  constexpr int kRounds = 50;
  std::thread sender([&] {
    for (int i = 0; i < kRounds; ++i) {
      EXPECT_EQ(table.RunBusy(h,
                              [](q7m::clsDevice& d) {
                                return d.DeviceSend(reinterpret_cast<const uint8_t*>("x"), 1, 0);
                              }),
                0u);
    }
  });
  const uint8_t key[24] = {};
  for (int i = 0; i < kRounds; ++i) {
    EXPECT_EQ(table.RunLocked(
                  h, [](q7m::clsDevice& d) { return d.ImportSessionKey(nullptr, nullptr, 1); }),
              0u);
    EXPECT_EQ(
        table.RunLocked(h, [&](q7m::clsDevice& d) { return d.ImportSessionKey(key, key, 1); }),
        q7m::kPdNotSupported);
  }
  sender.join();
  int mode = -1;
  EXPECT_EQ(table.RunBusy(h, [&](q7m::clsDevice& d) { return d.GetCryptoMode(&mode); }), 0u);
  EXPECT_EQ(mode, 0);
  EXPECT_EQ(q7mtest::ReadFile(device).size(), static_cast<size_t>(kRounds));
}

TEST(DeviceTable, CloseCancelsARunningExchangeAndWaitsForIt) {
  const std::string device = q7mtest::MakeTempDir("reader") + "/reader";
  q7mtest::WriteFile(device, "");
  q7m::clsComList table(nullptr, &MakeTestDevice);
  int h = -1;
  ASSERT_EQ(table.Open(device.c_str(), false, &h), 0u);
  std::atomic<bool> started{false};
  uint32_t result = 0;
  std::thread receiver([&] {
    result = table.RunBusy(h, [&](q7m::clsDevice& d) {
      started = true;
      uint8_t b[4];
      uint32_t n = 0;
      return d.DeviceReceive(b, sizeof b, &n, 60000);
    });
  });
  while (!started) Q7M_SwitchToThread();
  EXPECT_EQ(table.Close(h), 0u);
  receiver.join();
  EXPECT_EQ(result, q7m::kPdCancelled);
  EXPECT_EQ(table.Close(h), q7m::kPdInvalidHandle);
  // A caller that arrives after the close finds no device.
  EXPECT_EQ(table.RunBusy(h, [](q7m::clsDevice&) { return 0u; }), q7m::kPdInvalidHandle);
}

}  // namespace
