/*
 * q7m/scribel.h - the trace library libSCRIBEL.so.
 *
 * Trace lines go into trace rings: files of a fixed number of fixed-size text
 * records, each stamped with a 24-bit sequence number, the local time, the
 * process and the thread. Any number of processes and threads may write one
 * ring at once. Configuration comes from an INI file (SCRIBEL.INI for the
 * stack's own libraries): the section named after this library (SCRIBEL)
 * holds the common settings, the caller's module section overrides them.
 *
 * The stack's libraries do not link against this one; they load it by name
 * at run time (see the trace client). Every export except SCRIBEL_Initialize
 * leaves the calling thread's last-error value as it found it, and none
 * reports a failure of writing: a record that cannot be written is lost.
 */
#ifndef Q7M_SCRIBEL_H
#define Q7M_SCRIBEL_H

#include <stdarg.h>
#include <stdint.h>

#include "q7m/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A trace handle; lives until the library is unloaded from the process. */
typedef struct SCRIBEL_TRACE_HANDLE_* SCRIBEL_HANDLE;

#if defined(__GNUC__)
#define SCRIBEL_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define SCRIBEL_PRINTF_FORMAT(fmt, first)
#endif

/* Creates a trace handle. iniName: the INI file (".INI" appended when the
 * name has no dot; a name with a '/' is a path; null: the program's name);
 * moduleName: the section whose values override the library's (null or
 * empty: the library's own section). 1 and *handle set, or 0 and *handle
 * null with the last error telling the system cause where there is one. */
Q7M_EXPORT int Q7M_API SCRIBEL_Initialize(SCRIBEL_HANDLE* handle, const char* iniName,
                                          const char* moduleName);
/* The integer value of `key` (null: "TRACE") in the module's section,
 * default 0; 0 for an unusable handle. */
Q7M_EXPORT uint32_t Q7M_API SCRIBEL_GetInteger(SCRIBEL_HANDLE handle, const char* key);
/* Text characters per record; 0 for an unusable handle. */
Q7M_EXPORT uint32_t Q7M_API SCRIBEL_GetRecordLength(SCRIBEL_HANDLE handle);
/* Takes and gives back the ring lock of the handle's trace file. The lock
 * nests for the same thread and handle, so records written while it is held
 * stay together in the ring. */
Q7M_EXPORT void Q7M_API SCRIBEL_Lock(SCRIBEL_HANDLE handle);
Q7M_EXPORT void Q7M_API SCRIBEL_UnLock(SCRIBEL_HANDLE handle);
/* Writes one record with `count` bytes of text, unchanged (cut to the
 * record length, padded with blanks). */
Q7M_EXPORT void Q7M_API SCRIBEL_Output(SCRIBEL_HANDLE handle, const void* text, uint32_t count);
/* Formats (printf directives for integers, characters and strings, no
 * floating point, at most 1024 characters) and writes one record. These two
 * use the C calling convention on every platform. */
Q7M_EXPORT void SCRIBEL_Outputf(SCRIBEL_HANDLE handle, const char* format, ...)
    SCRIBEL_PRINTF_FORMAT(2, 3);
Q7M_EXPORT void SCRIBEL_vOutputf(SCRIBEL_HANDLE handle, const char* format, va_list args)
    SCRIBEL_PRINTF_FORMAT(2, 0);

/* The exports' types, for callers that look them up at run time. */
typedef int(Q7M_API* SCRIBEL_INITIALIZE_FN)(SCRIBEL_HANDLE*, const char*, const char*);
typedef uint32_t(Q7M_API* SCRIBEL_GETINTEGER_FN)(SCRIBEL_HANDLE, const char*);
typedef uint32_t(Q7M_API* SCRIBEL_GETRECORDLENGTH_FN)(SCRIBEL_HANDLE);
typedef void(Q7M_API* SCRIBEL_LOCK_FN)(SCRIBEL_HANDLE);
typedef void(Q7M_API* SCRIBEL_UNLOCK_FN)(SCRIBEL_HANDLE);
typedef void(Q7M_API* SCRIBEL_OUTPUT_FN)(SCRIBEL_HANDLE, const void*, uint32_t);
typedef void (*SCRIBEL_OUTPUTF_FN)(SCRIBEL_HANDLE, const char*, ...);
typedef void (*SCRIBEL_VOUTPUTF_FN)(SCRIBEL_HANDLE, const char*, va_list);

#ifdef __cplusplus
}
#endif

#endif /* Q7M_SCRIBEL_H */
