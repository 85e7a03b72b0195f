#include "rig_core.h"

#include <optional>

#include "api_list.h"
#include "call_table.h"
#include "detail_lines.h"
#include "list_file.h"
#include "number_text.h"
#include "q7m/platform_sys.h"
#include "result_lines.h"

namespace q7m::rigtool {
namespace {

constexpr uint32_t kSeverityBits = 0xC0000000u;

}  // namespace

RigCore::RigCore(ToolUi& ui) : ui_(ui), log_(ui) {
  event_ = Q7M_CreateEvent(0, 0, nullptr);  // auto-reset: one wait consumes one completion
}

RigCore::~RigCore() {
  WaitForWorker();
  if (event_ != nullptr) Q7M_CloseHandle(event_);
}

void RigCore::LogCommand(std::string_view name, const Params& params) {
  std::optional<Q7M_SYSTEMTIME> time;
  if (log_.timeStamps) {
    time.emplace();
    Q7M_GetLocalTime(&*time);
  }
  log_.Append(CommandBlock(name, params, time));
}

void RigCore::ShowErrorText(uint32_t code) {
  char text[512];
  if (Q7M_FormatMessage(code, text, sizeof text) > 0) {
    ui_.ShowMessage("Error", text, BoxIcon::kError);
  }
}

bool RigCore::OpenDevice(const std::string& port, const std::string& field) {
  LogCommand("OpenDevice", {field.empty() ? "NULL" : field, "", "", ""});
  // A reader opened earlier is closed first rather than leaked with its
  // session and locks.
  if (const RDAX* earlier = handle_.exchange(nullptr)) RDAX_CloseDevice(earlier);
  const RDAX* handle = nullptr;
  if (port == "USB") {
    handle = RDAX_OpenDevice(field.c_str(), nullptr);
  } else {
    RDAX_OPEN_PARAMS settings{};
    settings.words[1] = ConvertNumber(field);
    handle = RDAX_OpenDevice(port.c_str(), &settings);
  }
  handle_ = handle;
  if (handle != nullptr) {
    log_.Append(OpenedLine(handle));
    return true;
  }
  const uint32_t code = Q7M_GetLastError();
  ShowErrorText(code);
  log_.Append(ResultLine(code));
  return false;
}

void RigCore::CloseDevice() {
  LogCommand("CloseDevice", {});
  if (const RDAX* handle = handle_) {
    const uint32_t result = RDAX_CloseDevice(handle);
    if (result == RDAX_OK) handle_ = nullptr;
    log_.Append(ResultLine(result));
  } else {
    log_.Append(ResultTextLine(kNotOpened));
  }
  EndRun();
}

uint32_t RigCore::Direct(const char* name, uint32_t (*call)(const RDAX*)) {
  LogCommand(name, {});
  const RDAX* handle = handle_;
  if (handle == nullptr) {
    log_.Append(ResultTextLine(kNotOpened));
    return 0;
  }
  const uint32_t result = call(handle);
  log_.Append(ResultLine(result));
  return result;
}

uint32_t RigCore::GetResult() {
  return Direct("GetResult", RDAX_GetResult);
}
uint32_t RigCore::Cancel() {
  return Direct("Cancel", RDAX_Cancel);
}
uint32_t RigCore::StartRestriction() {
  return Direct("StartRestriction", RDAX_StartRestriction);
}
uint32_t RigCore::EndRestriction() {
  return Direct("EndRestriction", RDAX_EndRestriction);
}

bool RigCore::RefuseRun(bool fromExecute) {
  const char* text = nullptr;
  if (executing_ || (workerMode_ != 0 && !run_.Active())) {
    text = "Cannot continue! Currently executing API!";
  } else if (run_.Active() || workerMode_ != 0) {
    text = fromExecute ? "Cannot continue! Currently running items from Command List"
                       : "Already running!";
  }
  if (text == nullptr) return false;
  ui_.ShowMessage("Warning", text, BoxIcon::kWarning);
  return true;
}

bool RigCore::Execute(int apiIndex, const Params& params) {
  if (apiIndex < 0 || apiIndex >= kApiCount) return false;
  if (RefuseRun(true)) return false;
  callApi_ = apiIndex;
  callParams_ = params;
  callEvent_ = asynchronous ? event_ : nullptr;
  executing_ = true;
  StartWorker(1);
  return true;
}

void RigCore::Set(int apiIndex, const Params& params) {
  if (apiIndex < 0 || apiIndex >= kApiCount) return;
  list_.AddRow(std::string(ApiName(apiIndex)), apiIndex, params);
}

bool RigCore::RunAll() {
  if (RefuseRun(false)) return false;
  if (list_.Size() == 0) return false;
  const bool async = asynchronous;
  callEvent_ = async ? event_ : nullptr;
  run_.StartAll();
  log_.Append(RunAllHeader(loops, errorStop, async));
  StartWorker(2);
  return true;
}

bool RigCore::RunSelected() {
  if (RefuseRun(false)) return false;
  const std::optional<size_t> first = list_.NextSelected(0);
  if (list_.Size() == 0 || !first) return false;
  callEvent_ = asynchronous ? event_ : nullptr;
  run_.StartSelected(*first);
  StartWorker(2);
  return true;
}

void RigCore::Stop() {
  if (const RDAX* handle = handle_) RDAX_Cancel(handle);
  EndRun();
}

void RigCore::EndRun() {
  executing_ = false;
  run_.End(list_);
}

void RigCore::LoadList() {
  const std::string path = ui_.ChooseFile(FileChoice::kOpenList);
  if (!path.empty()) LoadListFile(path, list_, ui_);
}

void RigCore::SaveList() {
  const std::string path = ui_.ChooseFile(FileChoice::kSaveList);
  if (!path.empty()) SaveListFile(path, list_, ui_);
}

void RigCore::PickLogFile() {
  const std::string path = ui_.ChooseFile(FileChoice::kPickLogName);
  if (!path.empty()) log_.SetFileName(path);
}

void RigCore::StartWorker(int mode) {
  std::lock_guard lock(workerMutex_);
  // The previous worker has ended (the refusal above saw it idle); only its
  // thread object is left to collect.
  if (worker_.joinable()) worker_.join();
  workerMode_ = mode;
  runEnd_ = RunEnd::kNone;
  worker_ = std::thread([this, mode] { Worker(mode); });
}

void RigCore::WaitForWorker() {
  std::lock_guard lock(workerMutex_);
  if (worker_.joinable()) worker_.join();
}

void RigCore::Worker(int mode) {
  if (mode == 1) {
    RunEnd end = RunEnd::kReported;
    if (!Call(callApi_, callParams_, callEvent_)) end = RunEnd::kCallFailed;
    // The output is shown even after a refused call: the records show what
    // they held.
    if (!Report(callApi_, callEvent_) && runEnd_ == RunEnd::kWaitFailed) end = RunEnd::kWaitFailed;
    runEnd_ = end;
    executing_ = false;
  } else {
    RunEnd end = RunEnd::kListDone;
    while (std::optional<ListRow> row = run_.NextRow(list_, log_, loops)) {
      if (!Call(row->apiIndex, row->params, callEvent_)) {
        end = RunEnd::kCallFailed;
        break;
      }
      if (!Report(row->apiIndex, callEvent_)) {
        end = runEnd_ == RunEnd::kNone ? RunEnd::kStopped : runEnd_.load();
        break;
      }
    }
    runEnd_ = end;
    EndRun();
  }
  workerMode_ = 0;
  ui_.WorkerEnded();
}

bool RigCore::Call(int apiIndex, const Params& params, Q7M_HANDLE event) {
  const RDAX* handle = handle_;
  if (handle == nullptr) {
    LogCommand(ApiName(apiIndex), {});
    log_.Append(ResultTextLine(kNotOpened));
    return false;
  }
  LogCommand(ApiName(apiIndex), params);
  lastResult_ = 0;
  const CallOutcome outcome = CallApi(apiIndex, {handle, event, params}, records_);
  if (outcome.status == CallStatus::kAttributeRefused) {
    ui_.ShowMessage("Warning", "Parameters should be 9 bytes only", BoxIcon::kWarning);
    return false;
  }
  lastResult_ = outcome.status == CallStatus::kCalled ? outcome.result : kDataTextRefused;
  run_.CountResult(lastResult_, errorStop);
  log_.Append(ResultLine(lastResult_));
  return true;
}

bool RigCore::Report(int apiIndex, Q7M_HANDLE event) {
  // Only an accepted asynchronous call is waited for: any other answer is
  // already final. LogErrorData never takes the event.
  if (event != nullptr && lastResult_ == RDAX_I_ASYNC_STARTED && apiIndex != kLogErrorData) {
    if (Q7M_WaitForSingleObject(event, asyncWaitMilliseconds) != Q7M_WAIT_OBJECT_0) {
      const uint32_t code = Q7M_GetLastError();
      ShowErrorText(code);
      log_.Append(ResultLine(code));
      runEnd_ = RunEnd::kWaitFailed;
      return false;
    }
  }
  DetailInput detail{lastResult_, 0};
  if (apiIndex == kActivateContactless) {
    const RDAX* handle = handle_;
    detail.contactlessResult = handle != nullptr ? RDAX_GetResult(handle) : RDAX_E_NULL_ARGUMENT;
  }
  if (std::optional<std::string> entry = DetailEntry(apiIndex, records_, detail)) {
    log_.Append(*entry);
  }
  if (!run_.Active()) return false;
  if (run_.ErrorStopReached(errorStop)) {
    log_.Append(ErrorStopLine(run_.Errors()));
    runEnd_ = RunEnd::kErrorStopped;
    return false;
  }
  return true;
}

void RigCore::Shutdown() {
  // A call under way is cancelled rather than awaited for as long as the
  // reader may take.
  if (workerMode_ != 0) Stop();
  WaitForWorker();
  if (const RDAX* handle = handle_) {
    if (RDAX_CloseDevice(handle) == RDAX_OK) handle_ = nullptr;
  }
  if (log_.appendOnExit) log_.AppendToFile();
}

}  // namespace q7m::rigtool
