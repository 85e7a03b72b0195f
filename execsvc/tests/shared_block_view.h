// A test's own look at a device's SharedData block: opened by name and read
// at the byte offsets other processes rely on, not through the service.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "q7m/platform_sys.h"

namespace sequortest {

class SharedBlockView {
 public:
  static constexpr uint32_t kSize = 3388;

  // Opens the block of the device key `key`; valid() is false when there is
  // no such block.
  explicit SharedBlockView(const std::string& key) {
    mapping_ = Q7M_OpenFileMapping((key + "SHM").c_str());
    if (mapping_ != nullptr) bytes_ = static_cast<uint8_t*>(Q7M_MapViewOfFile(mapping_, kSize));
  }
  ~SharedBlockView() {
    if (bytes_ != nullptr) Q7M_UnmapViewOfFile(bytes_);
    if (mapping_ != nullptr) Q7M_CloseHandle(mapping_);
  }
  SharedBlockView(const SharedBlockView&) = delete;
  SharedBlockView& operator=(const SharedBlockView&) = delete;

  bool valid() const { return bytes_ != nullptr; }
  uint32_t Word(uint32_t offset) const {
    uint32_t v;
    std::memcpy(&v, bytes_ + offset, 4);
    return v;
  }
  void SetWord(uint32_t offset, uint32_t v) { std::memcpy(bytes_ + offset, &v, 4); }
  std::string Bytes(uint32_t offset, uint32_t count) const {
    return std::string(reinterpret_cast<const char*>(bytes_ + offset), count);
  }
  std::string DeviceName() const {
    return std::string(reinterpret_cast<const char*>(bytes_),
                       strnlen(reinterpret_cast<const char*>(bytes_), 260));
  }

  uint32_t result() const { return Word(260); }
  uint32_t commandLength() const { return Word(2324); }
  std::string command() const {
    return Bytes(268, commandLength() > 2056 ? 2056 : commandLength());
  }
  uint32_t responseLength() const { return Word(3352); }
  std::string response() const {
    return Bytes(2328, responseLength() > 1024 ? 1024 : responseLength());
  }
  uint32_t openCount() const { return Word(3364); }

 private:
  Q7M_HANDLE mapping_ = nullptr;
  uint8_t* bytes_ = nullptr;
};

}  // namespace sequortest
