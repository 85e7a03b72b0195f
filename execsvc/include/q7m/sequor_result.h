/*
 * q7m/sequor_result.h - the result codes of the execution service
 * libSEQUOR.so (every export but SEQUOR_Open returns one of them).
 */
#ifndef Q7M_SEQUOR_RESULT_H
#define Q7M_SEQUOR_RESULT_H

#define SEQUOR_SUCCESS 0u
/* A required pointer or handle is null, the session is not open, or the
 * port driver does not know the handle. */
#define SEQUOR_INVALID_HANDLE 1u
/* 2 to 7 and 13 are the port driver's exchange codes, passed through. */
#define SEQUOR_PORT_TIMEOUT 2u
/* Cancelled; also the stored result after an end-of-transmission exchange. */
#define SEQUOR_CANCELLED 3u
#define SEQUOR_COMMAND_TOO_LONG 4u
#define SEQUOR_MALFORMED_RESPONSE 5u
#define SEQUOR_RESPONSE_TOO_LONG 6u
/* Device removed or not connected; also a response of zero bytes. */
#define SEQUOR_DEVICE_REMOVED 7u
/* 8 and 9 are the port driver's device-search codes, passed through. */
#define SEQUOR_DEVICE_NOT_FOUND 8u
#define SEQUOR_NO_MORE_DEVICES 9u
/* Zero length, name too long, unusable device name or key. */
#define SEQUOR_INVALID_PARAMETER 11u
#define SEQUOR_NOT_SUPPORTED 12u
#define SEQUOR_LINE_FAULT 13u
/* Lock answers. */
#define SEQUOR_LOCKED_BY_OTHER 20u
#define SEQUOR_LOCKED_BY_SELF 21u
#define SEQUOR_NOT_LOCKED_BY_SELF 22u
/* The data mutex was not obtained within 5000 ms, or the API lock within
 * 100 ms. */
#define SEQUOR_TIMEOUT 30u
/* An asynchronous exchange was accepted and is running. */
#define SEQUOR_ASYNC_STARTED 31u
/* Operating-system failure; the thread's last error tells which. */
#define SEQUOR_SYSTEM_ERROR 1000u

#endif /* Q7M_SEQUOR_RESULT_H */
