// The filter of the HID device search: which vendor and product ids are
// taken. Entries come from a text of tokens: "V.P" (vendor and product),
// "V." (every product of a vendor), "P" or ".P" (a product of a default
// vendor). Numbers are decimal, or hexadecimal after "0x".
#pragma once

#include <cstddef>
#include <cstdint>

namespace q7m {

// The vendors whose readers are taken when nothing else is said.
constexpr uint32_t kDefaultVendorIds[] = {0x0590, 0x04A4};
bool IsDefaultVendor(uint32_t vendorId);

enum HidFilterKind : uint32_t {
  kFilterVendor = 1,            // the vendor id equals
  kFilterProduct = 2,           // the product id equals, of a default vendor
  kFilterVendorAndProduct = 3,  // both equal
};

struct HidFilterEntry {
  uint32_t kind;
  uint32_t vendorId;
  uint32_t productId;
};

class HidFilter {
 public:
  static constexpr size_t kMaxEntries = 128;

  void Clear() { count_ = 0; }
  // Adds the entries of `text`, split at any of `separators`. Parsing stops
  // at the first token that gives no entry (the entries before it stay);
  // tokens beyond kMaxEntries are ignored. Null text adds nothing.
  void Parse(const char* text, const char* separators);
  // No entries: a default vendor, any product. Otherwise some entry matches.
  bool Accepts(uint32_t vendorId, uint32_t productId) const;

  size_t count() const { return count_; }
  const HidFilterEntry& entry(size_t i) const { return entries_[i]; }

 private:
  HidFilterEntry entries_[kMaxEntries];
  size_t count_ = 0;
};

// One number of a token, [begin, end): it must start with a digit 0 to 9;
// "0x" with more than one digit after it (a text longer than 3 characters)
// is hexadecimal, anything else decimal; digits are read up to the first
// other character. Values beyond 32 bits saturate.
bool ParseFilterNumber(const char* begin, const char* end, uint32_t* value);

}  // namespace q7m
