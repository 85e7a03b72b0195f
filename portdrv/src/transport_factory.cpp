// Which transport a device name chooses.
#include <new>

#include "cls_com.h"
#include "cls_com_list.h"
#include "com_hid.h"
#include "device_name.h"

namespace q7m {

bool NameChoosesSerial(const char* deviceName) {
  return ChooseTransport(deviceName) == TransportKind::kSerial;
}

clsDevice* CreateTransportForName(const char* deviceName, const void* module) {
  if (NameChoosesSerial(deviceName)) return new (std::nothrow) clsCom(module);
  return new (std::nothrow) ComHID(module);
}

}  // namespace q7m
