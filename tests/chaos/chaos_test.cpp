// The chaos run: several worker processes, two sessions each, share one
// emulated reader while the test kills random ones with SIGKILL and starts
// new ones in their place. Afterwards a last session meets whatever the
// killed ones left, and the run reports kills, operations, stuck episodes
// (an operation that took longer than its specified limits), answers
// handed to the wrong caller and leaked objects: handle slots of dead
// processes, shares of the open count that no live session holds, and
// named objects left in the namespace after everyone has gone.
//
// Q7M_CHAOS_KILLS sets the number of kills per link (default 300, a run
// of well under a minute per link); Q7M_CHAOS_SEED the random seed.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "chaos_board.h"
#include "q7m/common/cls_share_memory.h"
#include "q7m/platform_sys.h"
#include "q7m/sequor.h"
#include "q7m_test.h"
#include "sequor_sim_fixture.h"
#include "shared_block_view.h"
#include "shared_device_area.h"

using q7mtest::ChildProcess;

namespace {

using namespace std::chrono_literals;

uint32_t EnvNumber(const char* name, uint32_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? static_cast<uint32_t>(std::stoul(text)) : fallback;
}

struct Leaks {
  int deadSlots = 0;
  int shares = 0;
  std::vector<std::string> objects;
  // Handle mutexes among the objects. A handle mutex's name is known only
  // from its slot, so nobody opens it again once its slot went first (the
  // process taking over the handle killed holding the owner's mutex after
  // the owner closed, or every sharer of the device killed with the area
  // and its slots). Only files some process holds are listed; once nobody
  // holds such a file it is a leftover, which the namespace's sweep
  // removes. Reported apart.
  int orphanedHandleMutexes = 0;
};

class Chaos : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = q7mtest::MakeTempDir("chaos");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    ASSERT_TRUE(sim_.Start(dir_, {"--usb"}));
    board_ = chaos::MapBoard(dir_ + "/board", true);
    ASSERT_NE(board_, nullptr);
    // Another test of this process (the other link) may have left objects.
    for (const std::string& name : ObjectNames()) before_.insert(name);
  }

  // Objects some process holds: a file nobody holds is a leftover that
  // counts as absent.
  static std::vector<std::string> ObjectNames() { return q7mtest::LiveObjectNames(); }

  void StartWorker(int index) {
    workers_[index] = std::make_unique<ChildProcess>();
    ASSERT_TRUE(workers_[index]->Start(
        "chaos_worker",
        {link_, dir_ + "/board", std::to_string(index), std::to_string(random_())}));
  }

  // Counts each running operation of a live worker that has gone past its
  // limit, once.
  void LookForStuck() {
    const uint64_t now = chaos::NowMs();
    for (chaos::WorkerPost& post : board_->workers) {
      const uint64_t start = post.startMs.load();
      if (start == 0 || now - start <= post.limitMs.load()) continue;
      if (post.reported.exchange(1) == 0) {
        board_->stuck.fetch_add(1);
        std::printf("stuck: worker %d in operation %u for %llu ms\n", post.pid.load(),
                    post.operation.load(), static_cast<unsigned long long>(now - start));
      }
    }
  }

  void RunLink(const std::string& link, const char* reader) {
    link_ = link;
    random_.seed(EnvNumber("Q7M_CHAOS_SEED", 7));
    const uint32_t kills = EnvNumber("Q7M_CHAOS_KILLS", 300);
    // Some answers come late, after the caller's 2 s receive limit: callers
    // are killed waiting for them, or give up and leave them to the next
    // caller (the emulator keeps one armed late fault per reader).
    sim_.Control({"fault", reader, "late", "ms=2500", "rate=0.08"});
    // On USB the test keeps a session open all along, as a long-running
    // application would: the device's shared objects then outlive every
    // worker, and whatever a killed worker leaves in them stays there for
    // the others to meet (a serial port has one user at a time).
    SEQUOR_HANDLE keeper = nullptr;
    if (link == "usb") {
      keeper = SEQUOR_Open(nullptr, nullptr);
      ASSERT_NE(keeper, nullptr) << "last error " << Q7M_GetLastError();
    }
    for (int i = 0; i < chaos::kWorkers; ++i) StartWorker(i);

    const uint64_t began = chaos::NowMs();
    uint32_t done = 0;
    std::uniform_int_distribution<int> pause(5, 60), victim(0, chaos::kWorkers - 1);
    while (done < kills) {
      // The kill schedule is random on purpose: kills land in every window.
      std::this_thread::sleep_for(std::chrono::milliseconds(pause(random_)));
      LookForStuck();
      const int index = victim(random_);
      ChildProcess& worker = *workers_[index];
      worker.Kill(SIGKILL);
      ASSERT_NE(worker.Wait(30s), -1);
      board_->workers[index].startMs.store(0);
      ++done;
      StartWorker(index);
    }

    // Everybody stops cleanly; one that cannot is stuck.
    board_->stop.store(1);
    for (auto& worker : workers_) {
      const uint64_t start = chaos::NowMs();
      while (worker->Wait(1s) == -1) {
        LookForStuck();
        if (chaos::NowMs() - start > 60000) {
          board_->stuck.fetch_add(1);
          worker->Kill(SIGKILL);
          worker->Wait();
        }
      }
      EXPECT_EQ(worker->Wait(), 0) << "a worker that was told to stop ended badly";
    }
    const uint64_t seconds = (chaos::NowMs() - began) / 1000;

    Leaks leaks = Sweep(link, keeper != nullptr ? 2 : 1);
    if (keeper != nullptr) {
      EXPECT_EQ(SEQUOR_Close(keeper), SEQUOR_SUCCESS);
    }
    LookForObjects(&leaks);
    const int leaked = leaks.deadSlots + leaks.shares + static_cast<int>(leaks.objects.size()) -
                       leaks.orphanedHandleMutexes;
    std::printf(
        "chaos %s: kills=%u operations=%llu stuck=%llu wrong-caller=%llu leaked=%d "
        "(dead slots %d, shares %d, objects %d) orphaned-handle-mutexes=%d refused-opens=%llu "
        "exchanges=%llu failed-exchanges=%llu seconds=%llu\n",
        link.c_str(), done, static_cast<unsigned long long>(board_->operations.load()),
        static_cast<unsigned long long>(board_->stuck.load()),
        static_cast<unsigned long long>(board_->wrongCaller.load()), leaked, leaks.deadSlots,
        leaks.shares, static_cast<int>(leaks.objects.size()) - leaks.orphanedHandleMutexes,
        leaks.orphanedHandleMutexes, static_cast<unsigned long long>(board_->refusedOpens.load()),
        static_cast<unsigned long long>(board_->exchanges.load()),
        static_cast<unsigned long long>(board_->failedExchanges.load()),
        static_cast<unsigned long long>(seconds));
    for (const std::string& name : leaks.objects) std::printf("leaked object: %s\n", name.c_str());
    RecordProperty("kills", static_cast<int>(done));
    RecordProperty("operations", static_cast<int>(board_->operations.load()));
    RecordProperty("orphaned_handle_mutexes", leaks.orphanedHandleMutexes);

    EXPECT_GT(board_->operations.load(), 0u);
    // A shared reader refuses an open only when its 64 slots hold live
    // sessions, which a handful of workers never reach.
    if (link == "usb") {
      EXPECT_EQ(board_->refusedOpens.load(), 0u);
    }
    EXPECT_EQ(board_->stuck.load(), 0u);
    EXPECT_EQ(board_->wrongCaller.load(), 0u) << board_->lastWrong;
    EXPECT_EQ(leaked, 0);
  }

  // The next session that meets the device after the run: its open, its
  // locks and an exchange give back what the killed workers held. Then
  // nothing may be left: no slot of a dead process, no share beyond the
  // test's own sessions.
  Leaks Sweep(const std::string& link, uint32_t ownSessions) {
    Leaks leaks;
    SEQUOR_HANDLE session =
        link == "serial" ? sequorsim::OpenSerial() : SEQUOR_Open(nullptr, nullptr);
    EXPECT_NE(session, nullptr) << "last error " << Q7M_GetLastError();
    if (session == nullptr) return leaks;
    EXPECT_EQ(SEQUOR_ApiLock(session), SEQUOR_SUCCESS);
    char answer[1024];
    uint32_t length = 0;
    EXPECT_EQ(SEQUOR_Execute(session, "C00", 3, 2, answer, sizeof answer, &length, 5, nullptr),
              SEQUOR_SUCCESS);
    EXPECT_EQ(std::string(answer, length < 3 ? length : 3), "P00");
    EXPECT_EQ(SEQUOR_ApiUnlock(session), SEQUOR_SUCCESS);
    EXPECT_EQ(SEQUOR_XfsLock(session), SEQUOR_SUCCESS);
    EXPECT_EQ(SEQUOR_XfsUnlock(session), SEQUOR_SUCCESS);

    PDLNK_DEVICE_INFO info{};
    EXPECT_EQ(SEQUOR_GetDeviceInfo(session, &info), PDLNK_SUCCESS);
    const std::string path = info.devicePath != nullptr ? info.devicePath : "";
    std::string key;
    for (char c : path)
      if (c != '\\') key += c;
    {
      sequortest::SharedBlockView block(key);
      if (block.valid() && block.openCount() != ownSessions)
        leaks.shares = static_cast<int>(block.openCount() - ownSessions);
    }
    if (link == "usb") {
      q7m::clsShareMemory area;
      if (area.Create(path.c_str(), q7m::kSharedDeviceAreaSize) == 0) {
        const auto* data = static_cast<const q7m::SharedDeviceArea*>(area.Data());
        for (const q7m::HandleSlot& slot : data->slots)
          if (slot.inUse != 0 && slot.processId != Q7M_GetCurrentProcessId()) ++leaks.deadSlots;
      }
      area.Destroy();
    }
    EXPECT_EQ(SEQUOR_Close(session), SEQUOR_SUCCESS);

    return leaks;
  }

  // Once everybody has gone, nobody may still hold a named object.
  void LookForObjects(Leaks* leaks) {
    for (const std::string& name : ObjectNames()) {
      if (before_.count(name) != 0) continue;
      leaks->objects.push_back(name);
      if (name.find("OpenHandle") != std::string::npos) ++leaks->orphanedHandleMutexes;
    }
  }

  std::string dir_;
  sequorsim::SimReader sim_;
  chaos::Board* board_ = nullptr;
  std::string link_;
  std::mt19937 random_;
  std::unique_ptr<ChildProcess> workers_[chaos::kWorkers];
  std::set<std::string> before_;
};

}  // namespace

TEST_F(Chaos, RandomKillsOfProcessesSharingAUsbReader) {
  RunLink("usb", "r2");
}

TEST_F(Chaos, RandomKillsOfProcessesTakingTurnsOnASerialReader) {
  RunLink("serial", "r1");
}
