// The exported interface of libPDLNK.so: argument checks, the device table,
// and the entry ("T:") and exit ("F:") trace lines of every export.
#include <cstring>
#include <new>

#include "cls_com_list.h"
#include "crypto_engine.h"
#include "hid_search.h"
#include "library_state.h"
#include "pdlnk_result.h"
#include "pdlnk_trace.h"
#include "q7m/pdlnk.h"

using namespace q7m;

namespace {

// The first bytes of a caller's message as text for a trace line, without
// reading past the message (which need not be zero-terminated).
struct TracePrefix {
  char text[8];
  TracePrefix(const void* data, int length, size_t limit) {
    size_t n = (data == nullptr || length <= 0) ? 0 : static_cast<size_t>(length);
    if (n > limit) n = limit;
    if (n > 0) std::memcpy(text, data, n);
    text[n] = '\0';
  }
};

unsigned long PointerValue(const void* p) {
  return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p));
}

// The exit line must not disturb the last error the caller is to read.
#define PDLNK_EXIT_TRACE(...)             \
  do {                                    \
    LastErrorKeeper keepLastError;        \
    Q7M_TRACE(kTraceExport, __VA_ARGS__); \
  } while (0)

uint32_t InvalidParameter() {
  return SystemError(Q7M_ERROR_INVALID_PARAMETER);
}

}  // namespace

extern "C" {

Q7M_EXPORT uint32_t Q7M_API PDLNK_Open(int* handle, const char* deviceName, int share) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_Open P2=%-1.20s P3=0x%02lX",
            deviceName != nullptr ? deviceName : "", TraceValue(share));
  uint32_t r;
  clsComList* table = DeviceTable();
  if (handle == nullptr) {
    r = InvalidParameter();
  } else if (table == nullptr) {
    *handle = -1;
    r = SystemError(Q7M_ERROR_OUTOFMEMORY);
  } else {
    r = table->Open(deviceName, share != 0, handle);
  }
  PDLNK_EXIT_TRACE("F:PDLNK_Open=0x%02lX Q1=0x%02lX", TraceValue(r),
                   TraceValue(handle != nullptr ? *handle : -1));
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_Close(int handle) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_Close P1=0x%02lX", TraceValue(handle));
  clsComList* table = DeviceTable();
  const uint32_t r = table == nullptr ? kPdInvalidHandle : table->Close(handle);
  PDLNK_EXIT_TRACE("F:PDLNK_Close=0x%02lX", TraceValue(r));
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_Send(int handle, const char* message, int length,
                                       int timeLimitMs) {
  if (LibraryTrace().IsOn(kTraceExport)) {
    const TracePrefix prefix(message, length, 3);
    LibraryTrace().Write("T:PDLNK_Send P1=0x%02lX P2=%-3.3s P3=0x%02lX P4=0x%02lX",
                         TraceValue(handle), prefix.text, TraceValue(length),
                         TraceValue(timeLimitMs));
  }
  clsComList* table = DeviceTable();
  uint32_t r = kPdInvalidHandle;
  if (table != nullptr) {
    r = table->RunBusyWithin(
        handle, static_cast<uint32_t>(timeLimitMs), [&](clsDevice& device, uint32_t left) {
          if (length < 0 || (message == nullptr && length > 0)) return InvalidParameter();
          return device.DeviceSend(reinterpret_cast<const uint8_t*>(message),
                                   static_cast<uint32_t>(length), left);
        });
  }
  PDLNK_EXIT_TRACE("F:PDLNK_Send=0x%02lX", TraceValue(r));
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_Receive(int handle, char* buffer, int bufferSize, int* received,
                                          int timeLimitMs) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_Receive P1=0x%02lX P3=0x%02lX P5=0x%02lX", TraceValue(handle),
            TraceValue(bufferSize), TraceValue(timeLimitMs));
  if (received != nullptr) *received = 0;
  uint32_t got = 0;
  clsComList* table = DeviceTable();
  uint32_t r = kPdInvalidHandle;
  if (table != nullptr) {
    r = table->RunBusyWithin(
        handle, static_cast<uint32_t>(timeLimitMs), [&](clsDevice& device, uint32_t left) {
          if (received == nullptr || bufferSize < 0 || (buffer == nullptr && bufferSize > 0))
            return InvalidParameter();
          return device.DeviceReceive(reinterpret_cast<uint8_t*>(buffer),
                                      static_cast<uint32_t>(bufferSize), &got, left);
        });
  }
  if (received != nullptr) *received = static_cast<int>(got);
  if (LibraryTrace().IsOn(kTraceExport)) {
    LastErrorKeeper keep;
    const TracePrefix prefix(buffer, static_cast<int>(got), 5);
    LibraryTrace().Write("F:PDLNK_Receive=0x%02lX Q2=%-1.5s Q4=0x%02lX", TraceValue(r), prefix.text,
                         TraceValue(got));
  }
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_GetCryptoMode(int handle, int* mode) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_GetCryptoMode P1=0x%02lX", TraceValue(handle));
  int value = 0;
  clsComList* table = DeviceTable();
  uint32_t r = kPdInvalidHandle;
  if (table != nullptr) {
    r = table->RunBusy(handle, [&](clsDevice& device) {
      if (mode == nullptr) return InvalidParameter();
      return device.GetCryptoMode(&value);
    });
  }
  if (r == kPdOk) *mode = value;
  PDLNK_EXIT_TRACE("F:PDLNK_GetCryptoMode=0x%02lX Q2=0x%02lX", TraceValue(r), TraceValue(value));
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_CancelIO(int handle) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_CancelIO P1=0x%02lX", TraceValue(handle));
  clsComList* table = DeviceTable();
  const uint32_t r =
      table == nullptr
          ? kPdInvalidHandle
          : table->RunLocked(handle, [](clsDevice& device) { return device.Cancel(); });
  PDLNK_EXIT_TRACE("F:PDLNK_CancelIO=0x%02lX", TraceValue(r));
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_ResetIO(int handle) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_ResetIO P1=0x%02lX", TraceValue(handle));
  clsComList* table = DeviceTable();
  const uint32_t r =
      table == nullptr ? kPdInvalidHandle
                       : table->RunLocked(handle, [](clsDevice& device) { return device.Reset(); });
  PDLNK_EXIT_TRACE("F:PDLNK_ResetIO=0x%02lX", TraceValue(r));
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_ImportSessionKey(int handle, const void* key,
                                                   const void* exchangeKey, int keyType) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_ImportSessionKey P1=0x%02lX P2=0x%02lX P3=0x%02lX P4=0x%02lX",
            TraceValue(handle), PointerValue(key), PointerValue(exchangeKey), TraceValue(keyType));
  clsComList* table = DeviceTable();
  const uint32_t r =
      table == nullptr ? kPdInvalidHandle : table->RunLocked(handle, [&](clsDevice& device) {
        return device.ImportSessionKey(key, exchangeKey, keyType);
      });
  PDLNK_EXIT_TRACE("F:PDLNK_ImportSessionKey=0x%02lX", TraceValue(r));
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_Exists(int handle) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_Exists P1=0x%02lX", TraceValue(handle));
  clsComList* table = DeviceTable();
  const uint32_t r =
      table == nullptr
          ? kPdInvalidHandle
          : table->RunLocked(handle, [](clsDevice& device) { return device.Exists(); });
  PDLNK_EXIT_TRACE("F:PDLNK_Exists=0x%02lX", TraceValue(r));
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_GetDeviceInfo(int handle, PDLNK_DEVICE_INFO* info,
                                                int recordSize) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_GetDeviceInfo P1=0x%02lX P2=0x%02lX", TraceValue(handle),
            PointerValue(info));
  clsComList* table = DeviceTable();
  uint32_t r;
  if (table == nullptr) {
    r = kPdInvalidHandle;
  } else if (recordSize != static_cast<int>(sizeof(PDLNK_DEVICE_INFO))) {
    r = kPdWrongSize;
  } else if (info == nullptr) {
    r = InvalidParameter();
  } else {
    r = table->RunLocked(handle, [&](clsDevice& device) { return device.GetDeviceInfo(info); });
  }
  PDLNK_EXIT_TRACE("F:PDLNK_GetDeviceInfo=0x%02lX", TraceValue(r));
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_DeviceReset(int handle) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_DeviceReset P1=0x%02lX", TraceValue(handle));
  const uint32_t r = DeviceTable() != nullptr ? kPdOk : kPdInvalidHandle;
  PDLNK_EXIT_TRACE("F:PDLNK_DeviceReset=0x%02lX", TraceValue(r));
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_GenarateExchangeKey(void* record, int* recordSize, int keyBits) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_GenarateExchangeKey P1=0x%02lX P2=0x%02lX P3=0x%02lX",
            PointerValue(record), PointerValue(recordSize), TraceValue(keyBits));
  uint32_t r;
  {
    std::unique_ptr<CryptoEngine> engine(new (std::nothrow) CryptoEngine());
    if (!engine)
      r = SystemError(Q7M_ERROR_OUTOFMEMORY);
    else
      r = engine->GenerateExchangeKey(record, recordSize, keyBits);
  }
  PDLNK_EXIT_TRACE("F:PDLNK_GenarateExchangeKey=0x%02lX Q2=0x%02lX", TraceValue(r),
                   TraceValue(recordSize != nullptr ? *recordSize : 0));
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_FindFirst(PDLNK_FIND_INFO* info, int recordSize) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_FindFirst P1=0x%02lX P2=0x%02lX", PointerValue(info),
            TraceValue(recordSize));
  uint32_t r;
  if (recordSize != static_cast<int>(sizeof(PDLNK_FIND_INFO)))
    r = kPdWrongSize;
  else if (info == nullptr)
    r = InvalidParameter();
  else
    r = HidFindFirst(info, LibraryAnchor());
  PDLNK_EXIT_TRACE("F:PDLNK_FindFirst=0x%02lX", TraceValue(r));
  return r;
}

Q7M_EXPORT uint32_t Q7M_API PDLNK_FindNext(PDLNK_FIND_INFO* info) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_FindNext P1=0x%02lX", PointerValue(info));
  // A record without a search (closed, or ended by a failed step) is not
  // followed.
  const uint32_t r = info == nullptr ? kPdInvalidHandle : HidFindNext(info);
  PDLNK_EXIT_TRACE("F:PDLNK_FindNext=0x%02lX", TraceValue(r));
  return r;
}

Q7M_EXPORT void Q7M_API PDLNK_FindClose(PDLNK_FIND_INFO* info) {
  Q7M_TRACE(kTraceExport, "T:PDLNK_FindClose P1=0x%02lX", PointerValue(info));
  if (info != nullptr) HidFindClose(info);
  PDLNK_EXIT_TRACE("F:PDLNK_FindClose");
}

}  // extern "C"
