// RigTool without its window: the open reader, the buttons that call the
// API library directly, Execute with its worker thread, Call and Report,
// and the command-list runs. A front end (the dialog, rigtool-cli) feeds it
// the entry fields and presses its buttons; it answers through ToolUi.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "call_table.h"
#include "command_list.h"
#include "list_run.h"
#include "log_book.h"
#include "q7m/rdax.h"
#include "tool_records.h"
#include "tool_ui.h"

namespace q7m::rigtool {

// How an asynchronous call is awaited before its output is shown.
constexpr uint32_t kAsyncWaitMilliseconds = 120000;

// Why the last worker run ended.
enum class RunEnd {
  kNone,          // no run yet
  kReported,      // a single call was reported
  kListDone,      // the list yielded no next row
  kCallFailed,    // Call returned false (no reader, refused attribute)
  kWaitFailed,    // the asynchronous wait ended without the event
  kErrorStopped,  // Error Stop ended the run
  kStopped,       // Stop or CloseDevice ended the run
};

class RigCore {
 public:
  explicit RigCore(ToolUi& ui);
  // Waits for the worker; the reader is closed by Shutdown, not here.
  ~RigCore();
  RigCore(const RigCore&) = delete;
  RigCore& operator=(const RigCore&) = delete;

  LogBook& log() { return log_; }
  CommandList& list() { return list_; }

  // Entry fields the core reads.
  std::atomic<bool> asynchronous{true};
  std::atomic<int> loops{1};
  std::atomic<int> errorStop{0};
  // How long an accepted asynchronous call is awaited.
  std::atomic<uint32_t> asyncWaitMilliseconds{kAsyncWaitMilliseconds};
  // The loop and error-stop fields accept 0..2147483647.
  static bool ValidCount(long long value) { return value >= 0 && value <= 2147483647LL; }

  // "&OpenDevice": `port` is "USB" or "COMn"; `field` the serial number or
  // the baud rate. True when a reader is open afterwards.
  bool OpenDevice(const std::string& port, const std::string& field);
  // "&CloseDevice" (also ends a list run).
  void CloseDevice();
  // "&GetResult", "C&ancel", "StartRestriction", "EndRestriction". Each
  // logs and returns what the library answered (0 without a reader).
  uint32_t GetResult();
  uint32_t Cancel();
  uint32_t StartRestriction();
  uint32_t EndRestriction();
  bool IsOpen() const { return handle_ != nullptr; }

  // "E&xecute": the API once on the worker. False when refused.
  bool Execute(int apiIndex, const Params& params);
  // "Se&t": a row for the API into the command list.
  void Set(int apiIndex, const Params& params);
  // "Run All", "Run 1x", "Stop".
  bool RunAll();
  bool RunSelected();
  void Stop();

  // "Load" and "Save as.." of the command list, "..." beside the log-file
  // name: each asks the front end for the file first.
  void LoadList();
  void SaveList();
  void PickLogFile();

  // Waits until the worker has ended.
  void WaitForWorker();
  RunEnd LastRunEnd() const { return runEnd_; }
  uint32_t LastResult() const { return lastResult_; }

  // Closing the window: stops a run or call under way, closes the reader
  // without a log entry and appends the log to its file when "Append Log on
  // Exit" is checked.
  void Shutdown();

 private:
  bool RefuseRun(bool fromExecute);
  void StartWorker(int mode);
  void Worker(int mode);
  bool Call(int apiIndex, const Params& params, Q7M_HANDLE event);
  bool Report(int apiIndex, Q7M_HANDLE event);
  uint32_t Direct(const char* name, uint32_t (*call)(const RDAX*));
  void EndRun();
  void ShowErrorText(uint32_t code);
  void LogCommand(std::string_view name, const Params& params);

  ToolUi& ui_;
  LogBook log_;
  CommandList list_;
  ListRun run_;
  ToolRecords records_{};
  Q7M_HANDLE event_ = nullptr;
  std::atomic<const RDAX*> handle_{nullptr};

  std::mutex workerMutex_;
  std::thread worker_;
  std::atomic<int> workerMode_{0};  // 0 idle, 1 one call, 2 list run
  std::atomic<bool> executing_{false};
  int callApi_ = -1;  // the single call the worker runs
  Params callParams_;
  Q7M_HANDLE callEvent_ = nullptr;
  std::atomic<RunEnd> runEnd_{RunEnd::kNone};
  std::atomic<uint32_t> lastResult_{0};
};

}  // namespace q7m::rigtool
