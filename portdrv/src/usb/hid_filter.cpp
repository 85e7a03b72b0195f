#include "hid_filter.h"

#include <cstring>

namespace q7m {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint32_t Accumulate(uint32_t value, uint32_t base, uint32_t digit) {
  const uint64_t next = static_cast<uint64_t>(value) * base + digit;
  return next > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(next);
}

// One token, [begin, end): true and the entry, or false.
bool ParseToken(const char* begin, const char* end, HidFilterEntry* entry) {
  const char* dot =
      static_cast<const char*>(std::memchr(begin, '.', static_cast<size_t>(end - begin)));
  if (dot == nullptr) {
    entry->kind = kFilterProduct;
    entry->vendorId = 0;
    return ParseFilterNumber(begin, end, &entry->productId);
  }
  const bool hasVendor = dot > begin;
  const bool hasProduct = dot + 1 < end;
  if (hasVendor && !hasProduct) {
    entry->kind = kFilterVendor;
    entry->productId = 0;
    return ParseFilterNumber(begin, dot, &entry->vendorId);
  }
  if (!hasVendor && hasProduct) {
    entry->kind = kFilterProduct;
    entry->vendorId = 0;
    return ParseFilterNumber(dot + 1, end, &entry->productId);
  }
  if (!hasVendor) return false;  // a dot alone
  entry->kind = kFilterVendorAndProduct;
  return ParseFilterNumber(begin, dot, &entry->vendorId) &&
         ParseFilterNumber(dot + 1, end, &entry->productId);
}

}  // namespace

bool IsDefaultVendor(uint32_t vendorId) {
  for (uint32_t v : kDefaultVendorIds)
    if (v == vendorId) return true;
  return false;
}

bool ParseFilterNumber(const char* begin, const char* end, uint32_t* value) {
  if (begin >= end || *begin < '0' || *begin > '9') return false;
  uint32_t result = 0;
  if (end - begin > 3 && begin[0] == '0' && begin[1] == 'x') {
    for (const char* p = begin + 2; p < end && HexDigit(*p) >= 0; ++p)
      result = Accumulate(result, 16, static_cast<uint32_t>(HexDigit(*p)));
  } else {
    for (const char* p = begin; p < end && *p >= '0' && *p <= '9'; ++p)
      result = Accumulate(result, 10, static_cast<uint32_t>(*p - '0'));
  }
  *value = result;
  return true;
}

void HidFilter::Parse(const char* text, const char* separators) {
  if (text == nullptr) return;
  const char* p = text;
  while (count_ < kMaxEntries) {
    p += std::strspn(p, separators);
    if (*p == '\0') return;
    const char* end = p + std::strcspn(p, separators);
    HidFilterEntry entry;
    if (!ParseToken(p, end, &entry)) return;
    entries_[count_++] = entry;
    p = end;
  }
}

bool HidFilter::Accepts(uint32_t vendorId, uint32_t productId) const {
  if (count_ == 0) return IsDefaultVendor(vendorId);
  for (size_t i = 0; i < count_; ++i) {
    const HidFilterEntry& e = entries_[i];
    switch (e.kind) {
      case kFilterVendor:
        if (e.vendorId == vendorId) return true;
        break;
      case kFilterProduct:
        if (e.productId == productId && IsDefaultVendor(vendorId)) return true;
        break;
      case kFilterVendorAndProduct:
        if (e.vendorId == vendorId && e.productId == productId) return true;
        break;
      default:
        break;
    }
  }
  return false;
}

}  // namespace q7m
