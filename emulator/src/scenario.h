// The scenario file: an INI file that sets up readers at start.
//
//   [Simulator]
//   Readers=front,back        ; the reader sections, in order
//   Log=/tmp/q7m-wire.log     ; optional wire log
//   Control=/tmp/sim.ctl      ; optional control socket path
//   Seed=7                    ; optional seed of the fault random source
//
//   [front]
//   Link=serial               ; serial or usb (required)
//   PdlnkIni=./PDLNK.INI      ; serial: write [COM<ComPort>] DevicePath
//   ComPort=3
//   SerialNumber=123456       ; any field of --list-fields
//   Fault1=nak count=2        ; Fault1 .. Fault32: faults armed at start
#pragma once

#include <functional>
#include <string>

#include "sim_config.h"

namespace q7msim {

// Reads one key: true and the value when present.
using ProfileReader =
    std::function<bool(const std::string& section, const std::string& key, std::string* value)>;

struct ScenarioGlobals {
  std::string logPath;
  std::string controlPath;
  bool seedGiven = false;
  uint64_t seed = 0;
};

// Appends the scenario's readers to `readers` (each with a lookup into its
// section) and fills `globals`. False with a reason on a malformed file.
bool LoadScenario(const ProfileReader& profile, std::vector<ReaderConfig>* readers,
                  ScenarioGlobals* globals, std::string* error);

// A profile reader over an INI file on disk.
ProfileReader FileProfileReader(const std::string& path);

}  // namespace q7msim
