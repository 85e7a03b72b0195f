/*
 * q7m/platform.h - what an application needs from the platform layer to use
 * the card-reader API: completion events, waits, the last-error value and
 * error texts. Everything here keeps Win32 semantics and numbering so that
 * application code written against the reader API reads the same on every
 * platform.
 */
#ifndef Q7M_PLATFORM_H
#define Q7M_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define Q7M_API __stdcall
#else
#define Q7M_API
#endif

#if defined(__GNUC__)
#define Q7M_EXPORT __attribute__((visibility("default")))
#else
#define Q7M_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* An opaque reference to a kernel object (event, mutex, shared memory,
 * I/O readiness). Null is never a valid handle. */
typedef void* Q7M_HANDLE;

#define Q7M_INFINITE 0xFFFFFFFFu

/* Wait results, Win32 numbering. */
#define Q7M_WAIT_OBJECT_0 0x00000000u
#define Q7M_WAIT_ABANDONED_0 0x00000080u
#define Q7M_WAIT_TIMEOUT 0x00000102u
#define Q7M_WAIT_FAILED 0xFFFFFFFFu
#define Q7M_MAXIMUM_WAIT_OBJECTS 64u

/* Last-error values, Win32 numbering (the subset the stack reports). Every
 * library names the numbers it reports from this list, and each of them has
 * its text in Q7M_FormatMessage. */
#define Q7M_ERROR_SUCCESS 0u
#define Q7M_ERROR_INVALID_FUNCTION 1u
#define Q7M_ERROR_FILE_NOT_FOUND 2u
#define Q7M_ERROR_PATH_NOT_FOUND 3u
#define Q7M_ERROR_TOO_MANY_OPEN_FILES 4u
#define Q7M_ERROR_ACCESS_DENIED 5u
#define Q7M_ERROR_INVALID_HANDLE 6u
#define Q7M_ERROR_NOT_ENOUGH_MEMORY 8u
#define Q7M_ERROR_INVALID_ACCESS 12u
#define Q7M_ERROR_INVALID_DATA 13u
#define Q7M_ERROR_OUTOFMEMORY 14u
#define Q7M_ERROR_NOT_READY 21u
#define Q7M_ERROR_CRC 23u
#define Q7M_ERROR_WRITE_FAULT 29u
#define Q7M_ERROR_READ_FAULT 30u
#define Q7M_ERROR_GEN_FAILURE 31u
#define Q7M_ERROR_SHARING_VIOLATION 32u
#define Q7M_ERROR_LOCK_VIOLATION 33u
#define Q7M_ERROR_HANDLE_EOF 38u
#define Q7M_ERROR_NOT_SUPPORTED 50u
#define Q7M_ERROR_FILE_EXISTS 80u
#define Q7M_ERROR_INVALID_PARAMETER 87u
#define Q7M_ERROR_BROKEN_PIPE 109u
#define Q7M_ERROR_DISK_FULL 112u
#define Q7M_ERROR_INSUFFICIENT_BUFFER 122u
#define Q7M_ERROR_INVALID_NAME 123u
#define Q7M_ERROR_MOD_NOT_FOUND 126u
#define Q7M_ERROR_PROC_NOT_FOUND 127u
#define Q7M_ERROR_TOO_MANY_TCBS 155u
#define Q7M_ERROR_BUSY 170u
#define Q7M_ERROR_ALREADY_EXISTS 183u
#define Q7M_ERROR_FILENAME_EXCED_RANGE 206u
#define Q7M_ERROR_MORE_DATA 234u
#define Q7M_ERROR_NO_MORE_ITEMS 259u
#define Q7M_ERROR_NOT_OWNER 288u
#define Q7M_ERROR_PARTIAL_COPY 299u
#define Q7M_ERROR_INVALID_ADDRESS 487u
#define Q7M_ERROR_OPERATION_ABORTED 995u
#define Q7M_ERROR_IO_INCOMPLETE 996u
#define Q7M_ERROR_IO_PENDING 997u
#define Q7M_ERROR_NOACCESS 998u
#define Q7M_ERROR_BADKEY 1010u
#define Q7M_ERROR_DEVICE_NOT_CONNECTED 1167u
#define Q7M_ERROR_NOT_FOUND 1168u
#define Q7M_ERROR_BAD_DEVICE 1200u
#define Q7M_ERROR_INVALID_WINDOW_HANDLE 1400u
#define Q7M_ERROR_TIMEOUT 1460u

/* ---- last error: one thread-local value shared by every library ---- */
Q7M_EXPORT uint32_t Q7M_API Q7M_GetLastError(void);
Q7M_EXPORT void Q7M_API Q7M_SetLastError(uint32_t code);

/* ---- named objects ----
 * Mutexes, events and file mappings with a name live in one machine-wide
 * namespace (a directory, /dev/shm/q7m unless Q7M_OBJECT_DIR names
 * another; files mode 0660). Create-or-open reports an existing object with
 * Q7M_ERROR_ALREADY_EXISTS; an object vanishes when its last handle in any
 * process closes, or its last holding process dies (kill -9 included); a
 * mutex whose owner ends is abandoned. What they cost: an object is one
 * file whose flocks are the only coordination between processes (no
 * namespace-wide lock). A second handle to an object this process has open
 * is a table lookup. A closed mutex keeps its descriptor and mapping in the
 * process (a few per process, without any lock on the file), so opening or
 * re-creating it again costs three flock/fstat calls, and closing it one:
 * less than opening and closing a file (a name this process has not kept
 * costs the file's creation or opening and its mapping besides). A killed
 * last holder leaves its object's file behind, held by nobody and counted
 * as absent; the namespace sweeps such files away: each process, when it
 * first meets the namespace and then after every few dozen files it
 * creates, looks at a bounded stretch of the directory and removes the
 * files nobody holds, with the same steps as a last close (so an object
 * some process holds, or one being created, is never removed). Names never
 * opened again therefore do not pile up. docs/platform.md tells the
 * protocol. */

/* ---- events ----
 * name null or empty: an unnamed event private to the process. A named
 * event is created or opened in the machine-wide namespace; when it existed
 * already the last error is Q7M_ERROR_ALREADY_EXISTS and the arguments
 * manualReset/initialState are ignored (the creator's kind holds).
 * Returns null on failure with the last error set. */
Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_CreateEvent(int manualReset, int initialState, const char* name);
/* Opens an existing named event; null with Q7M_ERROR_FILE_NOT_FOUND if none.
 * Mutexes, events and file mappings share one namespace: a name held by an
 * object of another kind gives Q7M_ERROR_INVALID_HANDLE (create and open). */
Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_OpenEvent(const char* name);
Q7M_EXPORT int Q7M_API Q7M_SetEvent(Q7M_HANDLE event);
Q7M_EXPORT int Q7M_API Q7M_ResetEvent(Q7M_HANDLE event);
/* A descriptor that polls readable exactly while the event is signalled.
 * It stays owned by the handle (do not close or read it). For an
 * automatic-reset event, readable means "a wait would succeed now"; only a
 * Q7M wait consumes the signal. -1 with the last error on failure. */
Q7M_EXPORT int Q7M_API Q7M_GetEventFd(Q7M_HANDLE event);

/* ---- waits ----
 * Single: Q7M_WAIT_OBJECT_0, Q7M_WAIT_ABANDONED_0 (a mutex whose owner
 * ended without releasing it; the caller now owns it), Q7M_WAIT_TIMEOUT or
 * Q7M_WAIT_FAILED (last error set).
 * Multiple (1..64 handles): with waitAll 0 the result is
 * Q7M_WAIT_OBJECT_0 + i for the lowest signalled index i. Events and I/O
 * handles may be mixed freely; a mutex may only be waited on alone (a
 * mutex in a multiple wait of more than one object fails with
 * Q7M_ERROR_NOT_SUPPORTED). waitAll != 0 is supported for manual-reset
 * events and I/O handles only. */
Q7M_EXPORT uint32_t Q7M_API Q7M_WaitForSingleObject(Q7M_HANDLE handle, uint32_t milliseconds);
Q7M_EXPORT uint32_t Q7M_API Q7M_WaitForMultipleObjects(uint32_t count, const Q7M_HANDLE* handles,
                                                       int waitAll, uint32_t milliseconds);

/* Closes any handle of this layer. 0 with Q7M_ERROR_INVALID_HANDLE for a
 * handle that is not open (also a second close). Handles are not inherited:
 * in a child made by fork() the parent's handles are invalid. */
Q7M_EXPORT int Q7M_API Q7M_CloseHandle(Q7M_HANDLE handle);

/* ---- error texts ----
 * The system text of a Win32 error number, without trailing line break.
 * Returns the length written; the text is always zero-terminated when
 * size>0. A short buffer gets the text cut to size-1 characters with the last
 * error Q7M_ERROR_INSUFFICIENT_BUFFER; an unknown number gives 0, an empty
 * text and the last error 317 (ERROR_MR_MID_NOT_FOUND). */
Q7M_EXPORT uint32_t Q7M_API Q7M_FormatMessage(uint32_t code, char* buffer, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* Q7M_PLATFORM_H */
