// What a q7m-sim run is asked to do, gathered from the command line and the
// scenario file before anything starts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fault_plan.h"

namespace q7msim {

// Looks a key up in the reader's scenario section: true and the value when
// the key is present.
using ScenarioLookup = std::function<bool(const std::string& key, std::string* value)>;

struct ReaderConfig {
  std::string name;
  LinkKind link = LinkKind::kSerial;
  // FIELD=VALUE settings in the order given (applied after the scenario's).
  std::vector<std::pair<std::string, std::string>> settings;
  std::vector<std::string> faults;
  // Serial: write "[COM<comPort>] DevicePath=<slave path>" into this file.
  std::string pdlnkIni;
  unsigned comPort = 1;
  // Settings and faults from the scenario file, looked up field by field.
  ScenarioLookup scenario;
};

struct SimConfig {
  std::vector<ReaderConfig> readers;
  std::string controlPath;  // empty: DefaultControlPath()
  bool control = true;
  std::string logPath;  // empty: no wire log
  uint64_t seed = 1;
};

// $Q7M_SIM_CONTROL, else /tmp/q7m-sim-<uid>.ctl.
std::string DefaultControlPath();

// The largest number of "FaultN" keys a scenario section is searched for.
constexpr unsigned kScenarioFaultKeys = 32;

}  // namespace q7msim
