/*
 * q7m/sequor.h - the execution service libSEQUOR.so: sessions on a card
 * reader, the per-device state that every process shares (the last command,
 * response and result, and the XFS and API locks), and one command exchange
 * at a time with its cancel.
 *
 * Every function returns one of the SEQUOR_* result codes below, except
 * SEQUOR_Open, which returns a session handle or null with the thread's last
 * error (Q7M_GetLastError) set. The exports keep the ordinal order of
 * SEQUOR.def (1 to 20), which callers that bind by ordinal rely on.
 */
#ifndef Q7M_SEQUOR_H
#define Q7M_SEQUOR_H

#include <stddef.h>
#include <stdint.h>

#include "q7m/pdlnk.h"
#include "q7m/platform.h"
#include "q7m/sequor_result.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A session on one reader (opaque). */
typedef struct SEQUOR_SESSION* SEQUOR_HANDLE;

/* The open parameter block; only its first two words are read (callers may
 * pass a longer block).
 *   USB reader:    productIds points to a list of 16-bit USB product ids (or
 *                  is 0); the low 16 bits of countOrSpeed are its length
 *                  (0 to 128).
 *   serial reader: productIds is not read; countOrSpeed is the line speed
 *                  in bits per second (0: the port driver's default). */
typedef struct SEQUOR_OPEN_PARAMS {
  uintptr_t productIds;
  uintptr_t countOrSpeed;
} SEQUOR_OPEN_PARAMS;

/* Largest identifier list SEQUOR_Open accepts. */
#define SEQUOR_MAX_PRODUCT_IDS 128u
/* Names of this many characters or more are refused (ERROR_INVALID_NAME). */
#define SEQUOR_MAX_NAME_LENGTH 260u
/* Capacities of the stored command and response of a device. */
#define SEQUOR_STORED_COMMAND_CAPACITY 2056u
#define SEQUOR_STORED_RESPONSE_CAPACITY 1024u

/* 1. name "COM1".."COM9": a serial reader; otherwise the serial number of a
 * USB reader, null for the first one found. Null with the last error:
 * ERROR_INVALID_NAME, ERROR_INVALID_DATA, ERROR_FILE_NOT_FOUND (no reader),
 * ERROR_TOO_MANY_OPEN_FILES, ERROR_INVALID_FUNCTION, ERROR_INVALID_HANDLE,
 * ERROR_DEVICE_NOT_CONNECTED, ERROR_OUTOFMEMORY or the port driver's error. */
Q7M_EXPORT SEQUOR_HANDLE Q7M_API SEQUOR_Open(const char* name, const SEQUOR_OPEN_PARAMS* params);
/* 2. Releases the session and every lock it holds. 1: null handle. 11: not
 * an open session, or the port driver does not know its port; 1000: the port
 * driver failed to close it; 30 or 1000 from detaching the shared state. On
 * every failure the session stays open and can be closed again. */
Q7M_EXPORT uint32_t Q7M_API SEQUOR_Close(SEQUOR_HANDLE session);
/* 3. One command exchange. Time limits are in seconds. completionEvent null:
 * runs on the caller's thread and returns its result. Otherwise returns 31 at
 * once, runs on a worker thread and signals the event when it has ended; the
 * buffers, responseLength and the event must stay valid until then, and the
 * result is collected with SEQUOR_GetResult. The caller's response buffer
 * always receives the whole frame; the device's stored copy keeps its first
 * SEQUOR_STORED_RESPONSE_CAPACITY bytes.
 * Only the answer to this command is delivered: a frame that does not echo
 * the command's code ("P", "N" or "E" and the two code characters; the one
 * byte "E" for the command "E") is a late answer to another caller's command
 * and is dropped, and the wait goes on within receiveTimeout. When the
 * device's previous exchange ended without its answer (time-out, cancel) or
 * its process ended while waiting, this exchange first ends it with the
 * end-of-transmission command "E" (up to 1 s to send, 2 s for the "E"),
 * which stores nothing. */
Q7M_EXPORT uint32_t Q7M_API SEQUOR_Execute(SEQUOR_HANDLE session, const char* command,
                                           uint32_t commandLength, uint32_t sendTimeout,
                                           char* response, uint32_t responseCapacity,
                                           uint32_t* responseLength, uint32_t receiveTimeout,
                                           Q7M_HANDLE completionEvent);
/* 4. The device's stored response (at most bufferCapacity bytes; *length is
 * the number written) and stored result. */
Q7M_EXPORT uint32_t Q7M_API SEQUOR_GetResult(SEQUOR_HANDLE session, char* buffer,
                                             uint32_t bufferCapacity, uint32_t* length,
                                             uint32_t* result);
/* 5. Clears the stored response and stores `value` as the result. */
Q7M_EXPORT uint32_t Q7M_API SEQUOR_SetResult(SEQUOR_HANDLE session, uint32_t value);
/* 6. Cancels the running exchange and brings the reader back to idle with
 * the end-of-transmission exchange; its result (0: the reader answered). */
Q7M_EXPORT uint32_t Q7M_API SEQUOR_Cancel(SEQUOR_HANDLE session);
/* 7-12. The XFS lock (restriction of the reader to one session) and the API
 * lock (an operation in progress): 0 obtained / nobody holds it, 20 held by
 * another session, 21 held by this session, 22 not held by this session,
 * 30 the API lock or the data mutex was not obtained in time. */
Q7M_EXPORT uint32_t Q7M_API SEQUOR_XfsLock(SEQUOR_HANDLE session);
Q7M_EXPORT uint32_t Q7M_API SEQUOR_XfsUnlock(SEQUOR_HANDLE session);
Q7M_EXPORT uint32_t Q7M_API SEQUOR_IsXfsLocked(SEQUOR_HANDLE session);
Q7M_EXPORT uint32_t Q7M_API SEQUOR_ApiLock(SEQUOR_HANDLE session);
Q7M_EXPORT uint32_t Q7M_API SEQUOR_ApiUnlock(SEQUOR_HANDLE session);
Q7M_EXPORT uint32_t Q7M_API SEQUOR_IsApiLocked(SEQUOR_HANDLE session);
/* 13, 14. Line encryption is not offered: always 12. */
Q7M_EXPORT uint32_t Q7M_API SEQUOR_CreateNewSessionKey(SEQUOR_HANDLE session, uint32_t value1,
                                                       uint32_t value2, uint32_t value3);
Q7M_EXPORT uint32_t Q7M_API SEQUOR_GetCryptoMode(SEQUOR_HANDLE session, uint32_t* mode);
/* 15-20. Forwarded to the port driver; its codes come back unchanged. */
Q7M_EXPORT uint32_t Q7M_API SEQUOR_DeviceReset(SEQUOR_HANDLE session);
Q7M_EXPORT uint32_t Q7M_API SEQUOR_Exists(SEQUOR_HANDLE session);
Q7M_EXPORT uint32_t Q7M_API SEQUOR_GetDeviceInfo(SEQUOR_HANDLE session, PDLNK_DEVICE_INFO* info);
Q7M_EXPORT uint32_t Q7M_API SEQUOR_FindFirst(PDLNK_FIND_INFO* info);
Q7M_EXPORT uint32_t Q7M_API SEQUOR_FindNext(PDLNK_FIND_INFO* info);
/* A null record is ignored. Always 0. */
Q7M_EXPORT uint32_t Q7M_API SEQUOR_FindClose(PDLNK_FIND_INFO* info);

#ifdef __cplusplus
}
#endif

#endif /* Q7M_SEQUOR_H */
