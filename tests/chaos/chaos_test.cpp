// The chaos run: several worker processes, two sessions each, share one
// emulated reader while the test kills random ones with SIGKILL and starts
// new ones in their place. Afterwards a last session meets whatever the
// killed ones left, and the run reports kills, operations, stuck episodes
// (an operation that took longer than its specified limits), answers
// handed to the wrong caller and leaked objects: handle slots of dead
// processes, shares of the open count that no live session holds, and
// named objects left in the namespace after everyone has gone.
//
// Two kinds of worker: the execution service's (its exchanges, locks and
// cancels, two sessions a process) and the whole API's (every family of the
// card-reader API from several threads, synchronous and asynchronous calls,
// cancels, the restriction and firmware downloads, with the execution
// service's exchanges among them). The whole-API run also aims some kills
// at a worker that holds the restriction or is in a firmware download, and
// afterwards a fresh process must get one operation of each family through.
//
// Q7M_CHAOS_KILLS sets the number of kills per link (default 300 for the
// execution service's run, a run of well under a minute per link, and 40
// for the whole API's, whose calls are slower); Q7M_CHAOS_SEED the random
// seed.
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

#include "chaos_api.h"
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
    std::vector<std::string> args = {link_, dir_ + "/board", std::to_string(index),
                                     std::to_string(random_())};
    if (api_) args.push_back(DownloadFile());
    ASSERT_TRUE(workers_[index]->Start(api_ ? "chaos_api_worker" : "chaos_worker", args));
  }

  std::string DownloadFile() const { return dir_ + "/firmware.dl"; }

  // Sets the reader's fields so that every answer the API's workers check
  // names its command, and writes the download file.
  void PrepareApiRun(const char* reader) {
    for (const auto& [field, value] : chaos::ReaderFields()) {
      const std::string answer = sim_.Control({"set", reader, field, value});
      ASSERT_EQ(answer.find("error"), std::string::npos) << field << ": " << answer;
    }
    const std::string file = chaos::DownloadFileBytes();
    ASSERT_FALSE(file.empty());
    q7mtest::WriteFile(DownloadFile(), file);
  }

  // The index of a worker that holds the restriction (or is in a download)
  // right now, waiting up to `limitMs` for one; -1 when none came.
  int WorkerWith(std::atomic<uint32_t> chaos::WorkerPost::*flag, uint64_t limitMs) {
    const uint64_t start = chaos::NowMs();
    std::uniform_int_distribution<int> first(0, chaos::kWorkers - 1);
    do {
      const int offset = first(random_);
      for (int i = 0; i < chaos::kWorkers; ++i) {
        const int index = (offset + i) % chaos::kWorkers;
        if ((board_->workers[index].*flag).load() != 0) return index;
      }
      std::this_thread::sleep_for(1ms);
    } while (chaos::NowMs() - start < limitMs);
    return -1;
  }

  // A killed worker's posts are no running operations any more.
  void ClearPosts(int index) {
    chaos::WorkerPost& worker = board_->workers[index];
    for (chaos::ThreadPost& post : worker.threads) post.startMs.store(0);
    worker.holdsRestriction.store(0);
    worker.inDownload.store(0);
  }

  // Counts each running operation of a live worker that has gone past its
  // limit, once.
  void LookForStuck() {
    const uint64_t now = chaos::NowMs();
    for (chaos::WorkerPost& worker : board_->workers) {
      for (chaos::ThreadPost& post : worker.threads) {
        const uint64_t start = post.startMs.load();
        if (start == 0 || now - start <= post.limitMs.load()) continue;
        if (post.reported.exchange(1) == 0) {
          board_->stuck.fetch_add(1);
          std::printf("stuck: worker %d in operation %u for %llu ms\n", worker.pid.load(),
                      post.operation.load(), static_cast<unsigned long long>(now - start));
          // Where it is stuck, for whoever looks into it.
          if (const char* stacks = std::getenv("Q7M_CHAOS_STACKS")) {
            const std::string command = "gdb -p " + std::to_string(worker.pid.load()) +
                                        " -batch -ex 'thread apply all bt' > " + stacks +
                                        "/stuck-" + std::to_string(worker.pid.load()) +
                                        ".txt 2>&1";
            std::printf("stacks: %s (%d)\n", command.c_str(), std::system(command.c_str()));
          }
        }
      }
    }
  }

  void RunLink(const std::string& link, const char* reader, bool api = false) {
    link_ = link;
    api_ = api;
    random_.seed(EnvNumber("Q7M_CHAOS_SEED", 7));
    const uint32_t kills = EnvNumber("Q7M_CHAOS_KILLS", api ? 40 : 300);
    if (api) PrepareApiRun(reader);
    if (HasFatalFailure()) return;
    // Some answers come late, after the execution service's 2 s receive
    // limit: callers are killed waiting for them, or give up and leave them
    // to the next caller (the emulator keeps one armed late fault per
    // reader). The API's own limits are longer: there a late answer only
    // holds the reader a while longer, so it comes less often.
    sim_.Control({"fault", reader, "late", "ms=2500", api ? "rate=0.03" : "rate=0.08"});
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
    uint32_t done = 0, inRestriction = 0, inDownload = 0;
    std::uniform_int_distribution<int> pause(5, 60), victim(0, chaos::kWorkers - 1),
        aim(0, 9);
    while (done < kills) {
      // The kill schedule is random on purpose: kills land in every window.
      std::this_thread::sleep_for(std::chrono::milliseconds(pause(random_)));
      LookForStuck();
      int index = -1;
      // Of the whole API's kills, some wait for a worker that holds the
      // restriction or is in a firmware download.
      const int target = api ? aim(random_) : 9;
      if (target == 0) index = WorkerWith(&chaos::WorkerPost::holdsRestriction, 2000);
      if (target == 1) index = WorkerWith(&chaos::WorkerPost::inDownload, 3000);
      if (index < 0) index = victim(random_);
      // Counted from what the worker posted just before the kill.
      const bool restricted = board_->workers[index].holdsRestriction.load() != 0;
      const bool downloading = board_->workers[index].inDownload.load() != 0;
      ChildProcess& worker = *workers_[index];
      worker.Kill(SIGKILL);
      ASSERT_NE(worker.Wait(30s), -1);
      inRestriction += restricted ? 1 : 0;
      inDownload += downloading ? 1 : 0;
      ClearPosts(index);
      ++done;
      StartWorker(index);
    }

    // Everybody stops cleanly; one that cannot is stuck.
    const uint64_t stopping = chaos::NowMs();
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
    const uint64_t stopSeconds = (chaos::NowMs() - stopping) / 1000;

    // The late answers were the run's; the fresh process meets the reader as
    // the killed left it, not a reader that keeps answering late.
    sim_.Control({"fault", reader, "clear", "late"});
    if (api) FreshProcessGetsEveryFamilyThrough();
    Leaks leaks = Sweep(link, keeper != nullptr ? 2 : 1);
    if (keeper != nullptr) {
      EXPECT_EQ(SEQUOR_Close(keeper), SEQUOR_SUCCESS);
    }
    LookForObjects(&leaks);
    const int leaked = leaks.deadSlots + leaks.shares + static_cast<int>(leaks.objects.size()) -
                       leaks.orphanedHandleMutexes;
    if (api) PrintFamilies(link, done, inRestriction, inDownload, leaked);
    std::printf(
        "chaos %s%s: kills=%u operations=%llu stuck=%llu wrong-caller=%llu leaked=%d "
        "(dead slots %d, shares %d, objects %d) orphaned-handle-mutexes=%d refused-opens=%llu "
        "exchanges=%llu failed-exchanges=%llu seconds=%llu (stopping %llu)\n",
        api ? "api " : "", link.c_str(), done, static_cast<unsigned long long>(board_->operations.load()),
        static_cast<unsigned long long>(board_->stuck.load()),
        static_cast<unsigned long long>(board_->wrongCaller.load()), leaked, leaks.deadSlots,
        leaks.shares, static_cast<int>(leaks.objects.size()) - leaks.orphanedHandleMutexes,
        leaks.orphanedHandleMutexes, static_cast<unsigned long long>(board_->refusedOpens.load()),
        static_cast<unsigned long long>(board_->exchanges.load()),
        static_cast<unsigned long long>(board_->failedExchanges.load()),
        static_cast<unsigned long long>(seconds), static_cast<unsigned long long>(stopSeconds));
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
    if (api) {
      EXPECT_EQ(board_->ownRestrictionRefused.load(), 0u) << board_->lastWrong;
      // Some calls of every family went through. A download holds the
      // reader for seconds, and any cancel or end of an unfinished exchange
      // (after every kill) cancels it: that it can go through is the fresh
      // process's to show.
      for (uint32_t i = 0; i < chaos::kFamilies; ++i) {
        if (i != chaos::kDownload) {
          EXPECT_GT(board_->families[i].ok.load(), 0u) << chaos::kFamilyNames[i];
        }
      }
      EXPECT_GT(board_->restrictionsTaken.load(), 0u);
      // The aimed kills need workers that get to the restriction and to a
      // download between kills: enough kills make sure some do. On the
      // serial link the three threads of a worker share its one handle, so
      // most calls are refused busy and a download or a restriction round
      // is rarely running when an aimed kill looks for one: there the count
      // is reported, and checked only in long runs.
      if (kills >= (link == "usb" ? 40u : 300u)) {
        EXPECT_GT(inRestriction, 0u);
        EXPECT_GT(inDownload, 0u);
      }
    }
  }

  // A process started after the run gets one operation of each family
  // through: whatever the killed left (locks, the restriction, a download
  // half done, late answers) is given back or overcome.
  void FreshProcessGetsEveryFamilyThrough() {
    ChildProcess fresh;
    ASSERT_TRUE(fresh.Start("chaos_api_check", {link_, DownloadFile()}));
    std::string line;
    while (fresh.ReadLine(&line, 120s) && line != "done") ADD_FAILURE() << "fresh process: " << line;
    EXPECT_EQ(line, "done");
    EXPECT_EQ(fresh.Wait(60s), 0);
  }

  void PrintFamilies(const std::string& link, uint32_t kills, uint32_t inRestriction,
                     uint32_t inDownload, int leaked) {
    std::string families;
    uint64_t failures = 0;
    for (uint32_t i = 0; i < chaos::kFamilies; ++i) {
      const chaos::FamilyCounts& f = board_->families[i];
      char text[256];
      std::snprintf(text, sizeof text,
                    "  %s: calls=%llu ok=%llu async=%llu busy=%llu restricted=%llu refused=%llu "
                    "cancelled=%llu failed=%llu slowest-ms=%llu\n",
                    chaos::kFamilyNames[i], static_cast<unsigned long long>(f.calls.load()),
                    static_cast<unsigned long long>(f.ok.load()),
                    static_cast<unsigned long long>(f.async.load()),
                    static_cast<unsigned long long>(f.busy.load()),
                    static_cast<unsigned long long>(f.restricted.load()),
                    static_cast<unsigned long long>(f.refused.load()),
                    static_cast<unsigned long long>(f.cancelled.load()),
                    static_cast<unsigned long long>(f.failed.load()),
                    static_cast<unsigned long long>(f.slowestMs.load()));
      families += text;
      failures += f.failed.load();
    }
    std::printf("%s", families.c_str());
    std::printf(
        "chaos api %s summary: kills=%u (holding the restriction %u, in a download %u) "
        "calls:",
        link.c_str(), kills, inRestriction, inDownload);
    for (uint32_t i = 0; i < chaos::kFamilies; ++i)
      std::printf(" %s=%llu", chaos::kFamilyNames[i],
                  static_cast<unsigned long long>(board_->families[i].calls.load()));
    std::printf(
        " cancels=%llu restrictions=%llu failures=%llu stuck=%llu wrong-caller=%llu "
        "holder-refused=%llu leaked=%d\n",
        static_cast<unsigned long long>(board_->cancels.load()),
        static_cast<unsigned long long>(board_->restrictionsTaken.load()),
        static_cast<unsigned long long>(failures),
        static_cast<unsigned long long>(board_->stuck.load()),
        static_cast<unsigned long long>(board_->wrongCaller.load()),
        static_cast<unsigned long long>(board_->ownRestrictionRefused.load()), leaked);
    RecordProperty("kills_in_restriction", static_cast<int>(inRestriction));
    RecordProperty("kills_in_download", static_cast<int>(inDownload));
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
  bool api_ = false;
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

TEST_F(Chaos, RandomKillsOfProcessesCallingTheWholeApiOnAUsbReader) {
  RunLink("usb", "r2", true);
}

TEST_F(Chaos, RandomKillsOfProcessesCallingTheWholeApiOnASerialReader) {
  RunLink("serial", "r1", true);
}
