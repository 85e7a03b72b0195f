#include "usb_sim.h"

#include <cstdlib>

namespace q7mtest {

std::string BusDirectory() {
  const char* dir = std::getenv("Q7M_HIDBUS_DIR");
  return dir != nullptr ? dir : "";
}

bool UsbSim::Start(const std::string& name, const std::vector<std::string>& options) {
  return Start(std::vector<Reader>{{name, options}});
}

bool UsbSim::Start(const std::vector<Reader>& readers, const std::vector<std::string>& general) {
  std::vector<std::string> args = general;
  for (const Reader& reader : readers) {
    args.push_back("--usb=" + reader.name);
    args.insert(args.end(), reader.options.begin(), reader.options.end());
  }
  return sim_.Start(args, static_cast<int>(readers.size()));
}

}  // namespace q7mtest
