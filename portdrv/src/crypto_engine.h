// The crypto engine of a device: every cryptographic operation of the line
// encryption goes through it. Its binding to a cryptographic service
// provider is not part of this system, so the binding step answers
// "not supported" and with it every key and cipher operation; the checks
// made before the binding keep their own answers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "q7m/platform_sys.h"
#include "session_key_record.h"

namespace q7m {

class CryptoEngine {
 public:
  CryptoEngine() = default;
  ~CryptoEngine();
  CryptoEngine(const CryptoEngine&) = delete;
  CryptoEngine& operator=(const CryptoEngine&) = delete;

  // Installs a session key (key type 1 or 3, wrapped with the exchange key)
  // into `record`. kPdNotSupported for another key type or when no
  // provider can be bound; the record is left as it was.
  uint32_t ImportSessionKey(SessionKeyRecord* record, const void* key, const void* exchangeKey,
                            uint32_t keyType);
  // Makes a key exchange key of 512 or 1024 bits into `record`/`*size`
  // (record null: size query). kPdNotSupported for another size or when no
  // provider can be bound; nothing is written then.
  uint32_t GenerateExchangeKey(void* record, int* size, int keyBits);
  // Encrypts / decrypts `blocks` 8-byte blocks in place with the record's
  // session key. kPdNotSupported when no provider can be bound.
  uint32_t Encrypt(const SessionKeyRecord& record, uint8_t* data, size_t blocks);
  uint32_t Decrypt(const SessionKeyRecord& record, uint8_t* data, size_t blocks);

  bool bound() const { return module_ != nullptr; }

 private:
  // The provider's entry points, looked up when a provider is bound.
  struct EntryPoints {
    void* acquireContext = nullptr;
    void* releaseContext = nullptr;
    void* generateKey = nullptr;
    void* destroyKey = nullptr;
    void* setKeyParameter = nullptr;
    void* exportKey = nullptr;
    void* importKey = nullptr;
    void* encrypt = nullptr;
    void* decrypt = nullptr;
  };

  // Selects the provider (enhanced for triple DES and 1024-bit exchange
  // keys) and binds its entry points: kPdOk, or kPdNotSupported when none
  // is available.
  uint32_t Bind(bool enhanced);
  // Makes the session key handle current for the record's key generation.
  uint32_t UseSessionKey(const SessionKeyRecord& record);

  EntryPoints entry_;
  Q7M_HMODULE module_ = nullptr;
  uintptr_t providerContext_ = 0;
  bool enhanced_ = false;
  uintptr_t sessionKey_ = 0;
  uint32_t sessionKeyGeneration_ = 0;
};

}  // namespace q7m
