// The soak run: processes and threads share one emulated reader for a set
// time, every command's answer is checked to be the caller's own, and the
// run prints what each process sent and got. Busy refusals are the sharing
// working (one exchange on the reader at a time) and are only counted; an
// answer delivered to another caller, a stale one, or a command that got
// no answer within its limits fails the run.
//
// Q7M_SOAK_SECONDS sets how long the USB run lasts (default 60, what CI
// runs); the serial run lasts half of it. For long runs start the program
// itself (build/tests/soak_tests), the CTest time-out is sized for CI.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "q7m_test.h"
#include "sequor_sim_fixture.h"
#include "soak_counts.h"

namespace soak {
namespace {

using namespace std::chrono_literals;

int SoakSeconds() {
  const char* text = std::getenv("Q7M_SOAK_SECONDS");
  const int seconds = text != nullptr && *text != '\0' ? std::atoi(text) : 60;
  return seconds > 0 ? seconds : 60;
}

using Count = unsigned long long;

void PrintRow(const std::string& who, const Counts& c, int seconds) {
  std::printf("%-8s %10llu %10llu %8llu %6llu %6llu %10llu %12.1f\n", who.c_str(), Count{c.sent},
              Count{c.answered}, Count{c.wrongCaller}, Count{c.stale}, Count{c.lost}, Count{c.busy},
              static_cast<double>(c.answered) / seconds);
}

struct ProcessResult {
  Counts total;
  std::vector<Counts> threads;
  bool reported = false;
};

class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = q7mtest::MakeTempDir("soak");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    // The serial reader r1 on COM3 and the USB reader r2.
    ASSERT_TRUE(sim_.Start(dir_, {"--usb"}));
  }

  void Run(const std::string& link, const char* reader, int processes, int seconds) {
    std::vector<std::unique_ptr<q7mtest::ChildProcess>> workers;
    for (int p = 0; p < processes; ++p) {
      workers.push_back(std::make_unique<q7mtest::ChildProcess>());
      ASSERT_TRUE(
          workers.back()->Start("soak_worker", {link, std::to_string(p), std::to_string(seconds)}));
    }
    // Every session is open before the clock starts.
    for (auto& worker : workers) ASSERT_TRUE(worker->Expect("ready", 30s));
    const long before = sim_.process().Counter(reader, "Commands");
    for (auto& worker : workers) ASSERT_TRUE(worker->WriteLine("go"));

    // Each exchange is bounded by its send and receive limits, so a worker
    // reports within those of the end of the run.
    const auto limit = std::chrono::seconds(seconds + 60);
    std::vector<ProcessResult> results(static_cast<size_t>(processes));
    for (int p = 0; p < processes; ++p) {
      ProcessResult& result = results[static_cast<size_t>(p)];
      std::string line;
      while (workers[static_cast<size_t>(p)]->ReadLine(&line, limit) && line != "end") {
        int thread = 0;
        Counts counts;
        if (!Parse(line, &thread, &counts)) continue;
        result.threads.push_back(counts);
        result.total.Add(counts);
      }
      result.reported = line == "end";
      EXPECT_EQ(workers[static_cast<size_t>(p)]->Wait(), 0) << "worker " << p;
    }
    const long after = sim_.process().Counter(reader, "Commands");
    Report(link, results, seconds, after - before);
  }

  void Report(const std::string& link, const std::vector<ProcessResult>& results, int seconds,
              long readerCommands) {
    std::printf("soak %s: %zu processes x %d threads, %d s\n", link.c_str(), results.size(),
                kThreadsPerProcess, seconds);
    std::printf("%-8s %10s %10s %8s %6s %6s %10s %12s\n", "process", "sent", "answered", "wrong",
                "stale", "lost", "busy", "answers/s");
    Counts all;
    for (size_t p = 0; p < results.size(); ++p) {
      PrintRow(std::to_string(p), results[p].total, seconds);
      all.Add(results[p].total);
    }
    PrintRow("total", all, seconds);
    std::printf("reader took %ld commands\n", readerCommands);
    std::fflush(stdout);
    RecordProperty("answered", static_cast<int>(all.answered));
    RecordProperty("busy", static_cast<int>(all.busy));

    for (size_t p = 0; p < results.size(); ++p) {
      const ProcessResult& result = results[p];
      EXPECT_TRUE(result.reported) << "process " << p << " did not report its counts";
      EXPECT_EQ(result.threads.size(), static_cast<size_t>(kThreadsPerProcess));
      for (size_t t = 0; t < result.threads.size(); ++t) {
        const Counts& c = result.threads[t];
        const std::string who = "process " + std::to_string(p) + " thread " + std::to_string(t);
        EXPECT_EQ(c.openError, 0u) << who << " could not open its session";
        EXPECT_EQ(c.wrongCaller, 0u) << who << ": " << c.lastWrong;
        EXPECT_EQ(c.stale, 0u) << who << ": " << c.lastWrong;
        EXPECT_EQ(c.lost, 0u) << who << ", last result " << c.lastFailure;
        EXPECT_EQ(c.sent, c.answered + c.wrongCaller + c.stale + c.lost) << who;
      }
    }
    EXPECT_GT(all.answered, 0u);
    // Every command sent was one the reader took, and no other.
    EXPECT_EQ(readerCommands, static_cast<long>(all.sent));
  }

  std::string dir_;
  sequorsim::SimReader sim_;
};

TEST_F(Soak, EightProcessesOfFourThreadsShareAUsbReaderAndEachGetsItsOwnAnswers) {
  Run("usb", "r2", kUsbProcesses, SoakSeconds());
}

// A serial port has one user at a time (the driver holds it exclusively,
// see the port driver's serial tests): a second process is refused at the
// open, and so is a second session of the same process. The threads of one
// process share its API handle.
TEST_F(Soak, FourThreadsOfOneProcessShareASerialReaderAndEachGetsItsOwnAnswers) {
  Run("serial", "r1", 1, (SoakSeconds() + 1) / 2);
}

}  // namespace
}  // namespace soak
