// q7m-sim: the reader emulator.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "control_client.h"
#include "fault_plan.h"
#include "field_table.h"
#include "hid_bus_device.h"
#include "reader.h"
#include "scenario.h"
#include "serial_link.h"
#include "sim_options.h"
#include "simulator.h"

namespace {

using namespace q7msim;

int RunControl(const SimOptions& options) {
  std::string path =
      options.config.controlPath.empty() ? DefaultControlPath() : options.config.controlPath;
  std::string answer, error;
  if (!SendControlCommand(path, options.controlCommand, 10000, &answer, &error)) {
    std::fprintf(stderr, "q7m-sim ctl: %s\n", error.c_str());
    return 2;
  }
  bool ok = answer.compare(0, 2, "OK") == 0;
  size_t body = answer.find('\n');
  if (ok) {
    if (body != std::string::npos) std::fputs(answer.c_str() + body + 1, stdout);
    return 0;
  }
  std::fputs(answer.c_str(), stderr);
  return 1;
}

void ListFields() {
  // The fields of one reader of each kind, without starting anything.
  CommandDispatcher dispatcher;
  WireLog log;
  EventLoop loop;
  std::printf("Reader fields (both links), serial and USB link fields:\n");
  Reader serial("serial", &dispatcher, &log, 1);
  serial.AttachLink(std::make_unique<SerialLink>(&serial, &loop));
  Reader usb("usb", &dispatcher, &log, 1);
  usb.AttachLink(std::make_unique<HidBusDevice>(&usb, &loop));
  std::vector<std::string> seen;
  for (const Reader* reader : {&serial, &usb}) {
    for (const FieldTable::Field& field : reader->fields().fields()) {
      bool known = false;
      for (const std::string& name : seen) known = known || name == field.name;
      if (known) continue;
      seen.push_back(field.name);
      std::printf("  %-22s %s%s (default %s)\n", field.name.c_str(), field.help.c_str(),
                  reader == &usb && !serial.fields().Find(field.name)   ? " [usb]"
                  : reader == &serial && !usb.fields().Find(field.name) ? " [serial]"
                                                                        : "",
                  field.get().c_str());
    }
  }
}

void ListFaults() {
  std::printf(
      "Faults (SPEC: NAME [count=N | rate=P] [ms=N] [cmd=YY]; count=1 when neither;\n"
      "cmd=YY: only commands with that code, case as written):\n");
  for (size_t i = 0; i < static_cast<size_t>(FaultKind::kCount); ++i) {
    const FaultInfo& info = DescribeFault(static_cast<FaultKind>(i));
    std::printf("  %-18s %s [%s]\n", info.name, info.help,
                info.serial && info.usb ? "serial, usb"
                : info.serial           ? "serial"
                                        : "usb");
  }
  std::printf("  %-18s %s\n  %-18s %s\n  %-18s %s\n  %-18s %s\n  %-18s %s\n", "dsr-off",
              "the reader goes silent as without DSR [serial]", "dsr-on", "back to normal [serial]",
              "unplug [ms=N]", "unplug now, replug after N ms when given [usb]", "replug",
              "plug in again [usb]", "clear [NAME]", "clear one fault or all");
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  SimOptions options;
  std::string error;
  if (!ParseSimOptions(args, &options, &error)) {
    std::fprintf(stderr, "q7m-sim: %s\n", error.c_str());
    return 2;
  }
  switch (options.mode) {
    case SimOptions::Mode::kHelp:
      std::fputs(SimHelpText().c_str(), stdout);
      return 0;
    case SimOptions::Mode::kListFields:
      ListFields();
      return 0;
    case SimOptions::Mode::kListFaults:
      ListFaults();
      return 0;
    case SimOptions::Mode::kControl:
      return RunControl(options);
    case SimOptions::Mode::kRun:
      break;
  }

  SimConfig config = options.config;
  if (!options.scenarioPath.empty()) {
    std::string path = AbsolutePath(options.scenarioPath);
    if (access(path.c_str(), R_OK) != 0) {
      std::fprintf(stderr, "q7m-sim: cannot read scenario %s\n", path.c_str());
      return 2;
    }
    std::vector<ReaderConfig> readers;
    ScenarioGlobals globals;
    if (!LoadScenario(FileProfileReader(path), &readers, &globals, &error)) {
      std::fprintf(stderr, "q7m-sim: %s\n", error.c_str());
      return 2;
    }
    readers.insert(readers.end(), config.readers.begin(), config.readers.end());
    config.readers = std::move(readers);
    if (!options.logGiven && !globals.logPath.empty()) config.logPath = globals.logPath;
    if (!options.controlGiven && !globals.controlPath.empty())
      config.controlPath = globals.controlPath;
    if (!options.seedGiven && globals.seedGiven) config.seed = globals.seed;
  }

  Simulator simulator;
  std::string banner;
  if (!simulator.WatchSignals(&error) || !simulator.Start(config, &banner, &error)) {
    std::fprintf(stderr, "q7m-sim: %s\n", error.c_str());
    return 1;
  }
  std::fputs(banner.c_str(), stdout);
  std::fputs("ready\n", stdout);
  std::fflush(stdout);
  int code = simulator.Run();
  simulator.Stop();
  return code;
}
