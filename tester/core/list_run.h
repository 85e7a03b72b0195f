// The state of a command-list run (Run All or Run 1x) and the choice of the
// row that runs next. The worker asks for rows; the UI thread starts and
// stops runs; the flags and counters are atomics both sides read.
#pragma once

#include <atomic>
#include <optional>

#include "command_list.h"
#include "log_book.h"

namespace q7m::rigtool {

class ListRun {
 public:
  bool Active() const { return runAll_ || runOnce_; }

  // Run All: the pass counter, current row and error counter start at 0.
  void StartAll();
  // Run 1x from the first selected row.
  void StartSelected(size_t firstSelected);

  // The row to run next, or nothing when the run is over. Run All logs
  // "Run: pass/loops" before each row it yields; Run 1x deselects the row it
  // takes.
  std::optional<ListRow> NextRow(CommandList& list, LogBook& log, int loops);

  // Counts a failed call during a run with an error stop; true when the
  // error counter has reached the error stop.
  void CountResult(uint32_t result, int errorStop);
  bool ErrorStopReached(int errorStop) const;
  int Errors() const { return errors_; }

  // Ends the run: flags, counters and the selection are cleared.
  void End(CommandList& list);

 private:
  std::atomic<bool> runAll_{false};
  std::atomic<bool> runOnce_{false};
  std::atomic<int> pass_{0};
  std::atomic<size_t> current_{0};
  std::atomic<int> errors_{0};
  std::atomic<size_t> nextMark_{0};  // index of the next selected row + 1; 0 none
};

}  // namespace q7m::rigtool
