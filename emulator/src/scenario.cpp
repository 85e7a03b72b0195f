#include "scenario.h"

#include "text_util.h"

namespace q7msim {

namespace {
constexpr const char kGlobalSection[] = "Simulator";
}

bool LoadScenario(const ProfileReader& profile, std::vector<ReaderConfig>* readers,
                  ScenarioGlobals* globals, std::string* error) {
  std::string value;
  if (!profile(kGlobalSection, "Readers", &value) || Trim(value).empty()) {
    *error = "scenario: [Simulator] Readers= names no reader section";
    return false;
  }
  std::vector<std::string> names;
  for (std::string_view name : SplitList(value, ',')) names.emplace_back(name);

  if (profile(kGlobalSection, "Log", &value)) globals->logPath = std::string(Trim(value));
  if (profile(kGlobalSection, "Control", &value)) globals->controlPath = std::string(Trim(value));
  if (profile(kGlobalSection, "Seed", &value)) {
    if (!ParseUnsigned(value, UINT64_MAX, &globals->seed)) {
      *error = "scenario: [Simulator] Seed= is not a number";
      return false;
    }
    globals->seedGiven = true;
  }

  for (const std::string& name : names) {
    ReaderConfig reader;
    reader.name = name;
    std::string where = "scenario: [" + name + "] ";
    if (!profile(name, "Link", &value)) {
      *error = where + "has no Link= (serial or usb)";
      return false;
    }
    if (EqualsNoCase(Trim(value), "serial")) {
      reader.link = LinkKind::kSerial;
    } else if (EqualsNoCase(Trim(value), "usb")) {
      reader.link = LinkKind::kUsb;
    } else {
      *error = where + "Link= must be serial or usb";
      return false;
    }
    if (profile(name, "PdlnkIni", &value)) reader.pdlnkIni = std::string(Trim(value));
    if (profile(name, "ComPort", &value)) {
      uint64_t port = 0;
      if (!ParseUnsigned(value, 255, &port) || port == 0) {
        *error = where + "ComPort= must be 1 to 255";
        return false;
      }
      reader.comPort = static_cast<unsigned>(port);
    }
    reader.scenario = [profile, name](const std::string& key, std::string* result) {
      return profile(name, key, result);
    };
    readers->push_back(std::move(reader));
  }
  return true;
}

}  // namespace q7msim
