// The session key record of a device: in the shared device area when the
// device is shared, inside the device object otherwise. An inter-process
// format: 36 bytes, 32-bit little-endian integers.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace q7m {

struct SessionKeyRecord {
  uint32_t cryptoMode;      // PDLNK_CRYPTO_PLAIN or PDLNK_CRYPTO_ENCRYPTED
  uint32_t keyGeneration;   // incremented each time a key is stored
  uint32_t keyType;         // 1 single DES, 3 triple DES
  uint8_t keyMaterial[24];  // three 8-byte DES keys (single DES uses the first)
};
static_assert(sizeof(SessionKeyRecord) == 36);
static_assert(offsetof(SessionKeyRecord, cryptoMode) == 0);
static_assert(offsetof(SessionKeyRecord, keyGeneration) == 4);
static_assert(offsetof(SessionKeyRecord, keyType) == 8);
static_assert(offsetof(SessionKeyRecord, keyMaterial) == 12);

// The flag is switched off under the area lock (unshared: the table lock)
// while an exchange of another thread reads it under the session mutex and
// the device lock; the two hold no lock in common, so the flag itself is
// read and written atomically.
inline uint32_t LoadCryptoMode(const SessionKeyRecord& record) {
  return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(record.cryptoMode))
      .load(std::memory_order_relaxed);
}
inline void StoreCryptoMode(SessionKeyRecord* record, uint32_t mode) {
  std::atomic_ref<uint32_t>(record->cryptoMode).store(mode, std::memory_order_relaxed);
}

constexpr uint32_t kKeyTypeDes = 1;
constexpr uint32_t kKeyTypeTripleDes = 3;

// Block size of the line cipher and the marker of an encrypted message.
constexpr size_t kCipherBlock = 8;
constexpr uint8_t kEncryptedMarker = 'D';

// Cipher blocks that carry a message of n bytes: its 2-byte length, the
// message and random padding to the end of the last block.
constexpr size_t CipherBlocksFor(size_t messageLength) {
  return (messageLength + 9) / 8;
}

}  // namespace q7m
