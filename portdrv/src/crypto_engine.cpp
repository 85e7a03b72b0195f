#include "crypto_engine.h"

#include "pdlnk_result.h"

namespace q7m {

namespace {
constexpr const char kBaseProvider[] = "Microsoft Base Cryptographic Provider v1.0";
constexpr const char kEnhancedProvider[] = "Microsoft Enhanced Cryptographic Provider v1.0";
}  // namespace

CryptoEngine::~CryptoEngine() {
  // A session key and a provider context exist only once a provider was
  // bound; without one there is nothing to give back.
  if (!bound()) return;
  LastErrorKeeper keep;
  sessionKey_ = 0;
  providerContext_ = 0;
  Q7M_FreeLibrary(module_);
  module_ = nullptr;
}

uint32_t CryptoEngine::Bind(bool enhanced) {
  if (bound() && enhanced_ == enhanced) return kPdOk;
  const char* provider = enhanced ? kEnhancedProvider : kBaseProvider;
  (void)provider;
  // No cryptographic service provider is part of this system.
  Q7M_SetLastError(Q7M_ERROR_NOT_SUPPORTED);
  return kPdNotSupported;
}

uint32_t CryptoEngine::UseSessionKey(const SessionKeyRecord& record) {
  if (uint32_t r = Bind(record.keyType == kKeyTypeTripleDes); r != kPdOk) return r;
  if (sessionKey_ != 0 && sessionKeyGeneration_ == record.keyGeneration) return kPdOk;
  Q7M_SetLastError(Q7M_ERROR_NOT_SUPPORTED);
  return kPdNotSupported;
}

uint32_t CryptoEngine::ImportSessionKey(SessionKeyRecord* record, const void* key,
                                        const void* exchangeKey, uint32_t keyType) {
  (void)record;
  (void)key;
  (void)exchangeKey;
  if (keyType != kKeyTypeDes && keyType != kKeyTypeTripleDes) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return kPdNotSupported;
  }
  return Bind(keyType == kKeyTypeTripleDes);
}

uint32_t CryptoEngine::GenerateExchangeKey(void* record, int* size, int keyBits) {
  (void)record;
  (void)size;
  if (keyBits != 512 && keyBits != 1024) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return kPdNotSupported;
  }
  return Bind(keyBits == 1024);
}

uint32_t CryptoEngine::Encrypt(const SessionKeyRecord& record, uint8_t* data, size_t blocks) {
  (void)data;
  (void)blocks;
  return UseSessionKey(record);
}

uint32_t CryptoEngine::Decrypt(const SessionKeyRecord& record, uint8_t* data, size_t blocks) {
  (void)data;
  (void)blocks;
  return UseSessionKey(record);
}

}  // namespace q7m
