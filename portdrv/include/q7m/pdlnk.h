/*
 * q7m/pdlnk.h - the port driver libPDLNK.so: finds and opens a card reader
 * (USB HID or a serial COM port), moves one command message to it and one
 * response message back per call, and lets several processes share one
 * reader.
 *
 * Every function returns a result code (PDLNK_SUCCESS and the codes below);
 * PDLNK_SYSTEM_ERROR leaves the operating system's last-error value
 * (Q7M_GetLastError) telling which failure it was. Time limits are in
 * milliseconds; -1 (all ones) never expires.
 */
#ifndef Q7M_PDLNK_H
#define Q7M_PDLNK_H

#include <stddef.h>
#include <stdint.h>

#include "q7m/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- result codes (one numbering for every export) ---- */
#define PDLNK_SUCCESS 0u
/* No such open device, no cancel event, no OS handle, or the library is not
 * initialised. */
#define PDLNK_INVALID_HANDLE 1u
#define PDLNK_TIMEOUT 2u
/* The device's cancel event is set (PDLNK_CancelIO until PDLNK_ResetIO). */
#define PDLNK_CANCELLED 3u
#define PDLNK_MESSAGE_TOO_LONG 4u
/* Zero or oversized length field, report too short, encrypted length not a
 * whole number of blocks. */
#define PDLNK_MALFORMED_RESPONSE 5u
#define PDLNK_DECRYPTED_TOO_LONG 6u
/* USB device not connected; serial DSR off. */
#define PDLNK_DEVICE_REMOVED 7u
#define PDLNK_DEVICE_NOT_FOUND 8u
#define PDLNK_NO_MORE_DEVICES 9u
#define PDLNK_HANDLE_SLOTS_FULL 10u
#define PDLNK_WRONG_RECORD_SIZE 11u
/* A required system component cannot be loaded, or not supported. */
#define PDLNK_NOT_SUPPORTED 12u
/* Serial line: the time limit expired while the last response or
 * end-of-transmission answer was faulty. */
#define PDLNK_LINE_FAULT 13u
#define PDLNK_SYSTEM_ERROR 1000u

/* Crypto mode flag of a device's session key record. */
#define PDLNK_CRYPTO_PLAIN 0
#define PDLNK_CRYPTO_ENCRYPTED 1

/* Filled by PDLNK_GetDeviceInfo; the caller passes sizeof(PDLNK_DEVICE_INFO).
 * The strings belong to the device and stay valid while it is open; a serial
 * port has no manufacturer, product or serial number (null) and zero ids. */
typedef struct PDLNK_DEVICE_INFO {
  const char* devicePath;
  const char* manufacturer;
  const char* product;
  const char* serialNumber;
  uint16_t vendorId;
  uint16_t productId;
  uint16_t versionNumber;
  uint16_t reserved;
  uint32_t maxSendLength;    /* largest message PDLNK_Send accepts */
  uint32_t maxReceiveLength; /* largest message PDLNK_Receive delivers */
} PDLNK_DEVICE_INFO;

/* One reader of a device listing (PDLNK_FindFirst/Next/Close); the caller
 * passes sizeof(PDLNK_FIND_INFO). The strings belong to the listing and stay
 * valid until the next PDLNK_FindNext or PDLNK_FindClose. */
typedef struct PDLNK_FIND_INFO {
  uint32_t recordSize;
  void* searchHandle; /* null after PDLNK_FindClose or a failed PDLNK_FindNext */
  const char* manufacturer;
  const char* product;
  const char* serialNumber;
  uint16_t vendorId;
  uint16_t productId;
  uint16_t versionNumber;
  uint16_t reserved;
  uint32_t maxSendLength;
  uint32_t maxReceiveLength;
} PDLNK_FIND_INFO;

/* Opens the reader named `deviceName` and gives its handle. "COMn" or
 * "COMn:baud" (any name starting with C, O or M) opens a serial port,
 * always unshared; "USB:[serial][,filters]" (or any other name) a USB
 * reader, shared between processes when `share` is nonzero. On failure
 * *handle is -1. */
Q7M_EXPORT uint32_t Q7M_API PDLNK_Open(int* handle, const char* deviceName, int share);
/* PDLNK_INVALID_HANDLE when the handle is not open. A running exchange on
 * the device is cancelled and waited for. */
Q7M_EXPORT uint32_t Q7M_API PDLNK_Close(int handle);
Q7M_EXPORT uint32_t Q7M_API PDLNK_Send(int handle, const char* message, int length,
                                       int timeLimitMs);
/* *received is set to 0 first; a response longer than bufferSize is cut. */
Q7M_EXPORT uint32_t Q7M_API PDLNK_Receive(int handle, char* buffer, int bufferSize, int* received,
                                          int timeLimitMs);
Q7M_EXPORT uint32_t Q7M_API PDLNK_GetCryptoMode(int handle, int* mode);
/* Sets the device's cancel event: every Send and Receive of every process
 * sharing the device answers PDLNK_CANCELLED until PDLNK_ResetIO. A cancel
 * lives no longer than the handle that issued it: once that handle is
 * closed, or its process has ended without closing it (killed between its
 * cancel and its reset), the next Send or Receive of any sharer resets the
 * event and goes ahead instead of answering PDLNK_CANCELLED. */
Q7M_EXPORT uint32_t Q7M_API PDLNK_CancelIO(int handle);
Q7M_EXPORT uint32_t Q7M_API PDLNK_ResetIO(int handle);
/* key null: switch the crypto mode off. Otherwise install a session key of
 * keyType 1 (DES) or 3 (triple DES) wrapped with exchangeKey; no
 * cryptographic provider is bound in this system, so this answers
 * PDLNK_NOT_SUPPORTED. */
Q7M_EXPORT uint32_t Q7M_API PDLNK_ImportSessionKey(int handle, const void* key,
                                                   const void* exchangeKey, int keyType);
Q7M_EXPORT uint32_t Q7M_API PDLNK_Exists(int handle);
/* PDLNK_WRONG_RECORD_SIZE unless recordSize == sizeof(PDLNK_DEVICE_INFO). */
Q7M_EXPORT uint32_t Q7M_API PDLNK_GetDeviceInfo(int handle, PDLNK_DEVICE_INFO* info,
                                                int recordSize);
/* 0 when the library is initialised; the handle is not looked at. */
Q7M_EXPORT uint32_t Q7M_API PDLNK_DeviceReset(int handle);
/* Makes a key exchange key of 512 or 1024 bits (PDLNK_NOT_SUPPORTED here:
 * no provider is bound); record and *recordSize are not written. */
Q7M_EXPORT uint32_t Q7M_API PDLNK_GenarateExchangeKey(void* record, int* recordSize, int keyBits);
/* PDLNK_WRONG_RECORD_SIZE unless recordSize == sizeof(PDLNK_FIND_INFO). */
Q7M_EXPORT uint32_t Q7M_API PDLNK_FindFirst(PDLNK_FIND_INFO* info, int recordSize);
Q7M_EXPORT uint32_t Q7M_API PDLNK_FindNext(PDLNK_FIND_INFO* info);
Q7M_EXPORT void Q7M_API PDLNK_FindClose(PDLNK_FIND_INFO* info);

#ifdef __cplusplus
}
#endif

#endif /* Q7M_PDLNK_H */
