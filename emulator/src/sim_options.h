// The q7m-sim command line.
#pragma once

#include <string>
#include <vector>

#include "sim_config.h"

namespace q7msim {

struct SimOptions {
  enum class Mode { kRun, kControl, kHelp, kListFields, kListFaults };
  Mode mode = Mode::kRun;
  SimConfig config;  // readers given on the command line
  std::string scenarioPath;
  bool logGiven = false;
  bool controlGiven = false;
  bool seedGiven = false;
  // Mode kControl: the command words after "ctl".
  std::string controlCommand;
};

// False with a reason for a malformed command line.
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions* options, std::string* error);

std::string SimHelpText();

}  // namespace q7msim
