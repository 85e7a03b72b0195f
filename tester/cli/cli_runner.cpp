#include "cli_runner.h"

#include <cstdint>

#include "api_list.h"
#include "cli_ui.h"
#include "list_file.h"
#include "parameter_rows.h"
#include "rig_core.h"

namespace q7m::rigtool {
namespace {

bool Succeeded(uint32_t result) {
  return (result & 0xC0000000u) == 0;
}

// The parameter boxes as the engineer would fill them: a box's list entry
// named exactly is picked (its number), anything else is typed.
Params ResolveParams(int apiIndex, const std::vector<std::string>& given) {
  Params params;
  const auto& rows = ParamRowsOf(apiIndex);
  for (size_t i = 0; i < given.size() && i < params.size(); ++i) {
    const std::string picked = PickedEntryText(rows[i], given[i]);
    params[i] = picked.empty() ? given[i] : picked;
  }
  return params;
}

int RunList(RigCore& core, const CliOptions& options, std::FILE* err) {
  for (size_t row : options.rows) {
    if (row > core.list().Size()) {
      std::fprintf(err, "rigtool-cli: --rows: the list has no row %zu\n", row);
      return kExitUsage;
    }
    core.list().Select(row - 1, true);
  }
  const bool started = options.rows.empty() ? core.RunAll() : core.RunSelected();
  if (!started) return kExitOk;  // an empty list has run out of rows at once
  core.WaitForWorker();
  return core.LastRunEnd() == RunEnd::kListDone ? kExitOk : kExitFailed;
}

int RunCall(RigCore& core, int apiIndex, const CliOptions& options) {
  if (!core.Execute(apiIndex, ResolveParams(apiIndex, options.callParams))) return kExitFailed;
  core.WaitForWorker();
  if (core.LastRunEnd() != RunEnd::kReported) return kExitFailed;
  if (options.getResult) return kExitOk;  // decided by GetResult's answer
  return Succeeded(core.LastResult()) ? kExitOk : kExitFailed;
}

}  // namespace

int RunCli(const CliOptions& options, std::FILE* out, std::FILE* err) {
  int apiIndex = -1;
  if (!options.callApi.empty()) {
    apiIndex = ApiIndexOfName(options.callApi);
    if (apiIndex < 0) {
      std::fprintf(err, "rigtool-cli: unknown API %s\n", options.callApi.c_str());
      return kExitUsage;
    }
  }
  CliUi ui(out, err);
  RigCore core(ui);
  core.asynchronous = options.asynchronous;
  core.loops = options.loops;
  core.errorStop = options.errorStop;
  core.log().enabled = options.logging;
  core.log().timeStamps = options.timeStamps;
  core.log().appendOnExit = !options.logFile.empty();
  core.log().SetFileName(options.logFile);

  if (!options.listFile.empty() && !LoadListFile(options.listFile, core.list(), ui)) {
    return kExitUsage;
  }
  if (!core.OpenDevice(options.port, options.field)) {
    core.Shutdown();
    return kExitUsage;
  }
  int status = apiIndex >= 0 ? RunCall(core, apiIndex, options) : RunList(core, options, err);
  if (options.getResult) {
    const uint32_t answer = core.GetResult();
    if (apiIndex >= 0 && status == kExitOk && !Succeeded(answer)) status = kExitFailed;
  }
  core.Shutdown();
  return status;
}

}  // namespace q7m::rigtool
