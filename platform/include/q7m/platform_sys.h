/*
 * q7m/platform_sys.h - the system services the stack's libraries are written
 * against. They keep the semantics of the Win32 facilities they stand in for
 * (mutexes, file mappings, private profiles, the registry, module loading,
 * files), so the libraries above follow their algorithms step by step and
 * never touch pthread, shm, flock or errno for these objects themselves.
 *
 * Every function sets the thread's last error (Win32 numbering) on failure
 * and leaves it alone on success unless stated otherwise.
 */
#ifndef Q7M_PLATFORM_SYS_H
#define Q7M_PLATFORM_SYS_H

#include "q7m/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- errno translation (for code that must call a POSIX I/O function
 * directly, e.g. a transport's read/write on a device descriptor) ---- */
Q7M_EXPORT uint32_t Q7M_API Q7M_Win32ErrorFromErrno(int err);
/* Sets the last error from errno and returns it. */
Q7M_EXPORT uint32_t Q7M_API Q7M_SetLastErrorFromErrno(void);

/* ---- mutexes ----
 * Owned by a thread, recursive for the owner, initial ownership only for
 * the creator of a new mutex, released only by its owner, abandoned when the
 * owning thread or process ends without releasing (the next waiter gets
 * Q7M_WAIT_ABANDONED_0 and the ownership). A named mutex that existed
 * already sets Q7M_ERROR_ALREADY_EXISTS (and the handle is still returned);
 * a new one clears the last error to 0. */
Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_CreateMutex(int initialOwner, const char* name);
/* Opens an existing named mutex; null with Q7M_ERROR_FILE_NOT_FOUND if none. */
Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_OpenMutex(const char* name);
/* 0 with Q7M_ERROR_NOT_OWNER when the calling thread does not own it. */
Q7M_EXPORT int Q7M_API Q7M_ReleaseMutex(Q7M_HANDLE mutex);

/* ---- shared memory (file mappings backed by memory) ----
 * Create-or-open by name; a new object is zero-filled and has `size`
 * bytes; an existing one sets Q7M_ERROR_ALREADY_EXISTS (a new one clears the
 * last error to 0). name null or empty: an unnamed block private to the
 * process. */
Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_CreateFileMapping(const char* name, uint32_t size);
/* Opens an existing named mapping; null with Q7M_ERROR_FILE_NOT_FOUND if none. */
Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_OpenFileMapping(const char* name);
/* Maps `size` bytes (0: the whole object) read/write. A size beyond the
 * object's size fails with Q7M_ERROR_ACCESS_DENIED. The view stays valid
 * after the mapping handle is closed, until Q7M_UnmapViewOfFile. */
Q7M_EXPORT void* Q7M_API Q7M_MapViewOfFile(Q7M_HANDLE mapping, uint32_t size);
/* `view` must be an address Q7M_MapViewOfFile returned; 0 with
 * Q7M_ERROR_INVALID_ADDRESS otherwise. A view keeps its object alive (and
 * openable by name) until it is unmapped, as on Win32. */
Q7M_EXPORT int Q7M_API Q7M_UnmapViewOfFile(const void* view);
/* The size of the object (as created; a creator that finds the object
 * existing gets the existing size, whatever it asked for). 0 on failure. */
Q7M_EXPORT uint32_t Q7M_API Q7M_GetFileMappingSize(Q7M_HANDLE mapping);

/* ---- device I/O readiness ----
 * A waitable handle that is signalled while `fd` polls with any of
 * `pollEvents` (POLLIN, POLLOUT, ...; POLLERR/POLLHUP always count). The
 * descriptor stays owned by the caller and must outlive the handle. This is
 * how a transport waits for "data, cancel or time limit" in one
 * Q7M_WaitForMultipleObjects without polling. */
Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_CreateIoHandle(int fd, short pollEvents);

/* ---- threads, time, ids ---- */
typedef void(Q7M_API* Q7M_THREAD_PROC)(void* argument);
/* Starts a detached worker thread. 1, or 0 with the last error. */
Q7M_EXPORT int Q7M_API Q7M_StartThread(Q7M_THREAD_PROC proc, void* argument);
Q7M_EXPORT void Q7M_API Q7M_Sleep(uint32_t milliseconds);
/* Gives up the rest of the time slice. */
Q7M_EXPORT void Q7M_API Q7M_SwitchToThread(void);
/* Milliseconds since an arbitrary start, 32 bits, wrapping (monotonic). */
Q7M_EXPORT uint32_t Q7M_API Q7M_GetTickCount(void);

typedef struct Q7M_SYSTEMTIME {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
} Q7M_SYSTEMTIME;
Q7M_EXPORT void Q7M_API Q7M_GetLocalTime(Q7M_SYSTEMTIME* time);
Q7M_EXPORT void Q7M_API Q7M_GetSystemTime(Q7M_SYSTEMTIME* time); /* UTC */

Q7M_EXPORT uint32_t Q7M_API Q7M_GetCurrentProcessId(void);
/* The kernel thread id (unique machine-wide while the thread lives). */
Q7M_EXPORT uint32_t Q7M_API Q7M_GetCurrentThreadId(void);
/* 1 if a process with this id exists (and is not a zombie). */
Q7M_EXPORT int Q7M_API Q7M_ProcessExists(uint32_t processId);

/* Duplicates descriptor `fd` of process `processId` into this process
 * (DuplicateHandle from another process). Returns the new descriptor
 * (close-on-exec), or -1 with Q7M_ERROR_ACCESS_DENIED (the kernel refuses:
 * no ptrace-level permission), Q7M_ERROR_INVALID_PARAMETER (no such
 * process), Q7M_ERROR_INVALID_HANDLE (no such descriptor) or
 * Q7M_ERROR_NOT_SUPPORTED (kernel without the facility). */
Q7M_EXPORT int Q7M_API Q7M_DuplicateProcessFd(uint32_t processId, int fd);

/* ---- modules ----
 * Q7M_LoadLibrary("X", anchor) loads libX.so, searched first in the
 * directory of the module that contains `anchor` (pass the address of a
 * function of the calling library; null: the executable), then in the
 * system's search order. A name with a '/' or ending in ".so" is taken as
 * it is. Null with Q7M_ERROR_MOD_NOT_FOUND when not found. */
typedef void* Q7M_HMODULE;
Q7M_EXPORT Q7M_HMODULE Q7M_API Q7M_LoadLibrary(const char* name, const void* anchor);
/* Null with Q7M_ERROR_PROC_NOT_FOUND when the symbol is missing. */
Q7M_EXPORT void* Q7M_API Q7M_GetProcAddress(Q7M_HMODULE module, const char* symbol);
Q7M_EXPORT int Q7M_API Q7M_FreeLibrary(Q7M_HMODULE module);
/* Full path of the module that contains `address` (null: the executable).
 * Returns the length copied (the text is cut and zero-terminated when the
 * buffer is short, with Q7M_ERROR_INSUFFICIENT_BUFFER); 0 on failure. */
Q7M_EXPORT uint32_t Q7M_API Q7M_GetModuleFileName(const void* address, char* buffer,
                                                  uint32_t size);
/* File name without a leading "lib" and without its extension:
 * /usr/lib/libPDLNK.so -> PDLNK, libX.so.1.2 -> X, /opt/bin/rigtool ->
 * rigtool. "lib" is dropped from shared objects only. Buffer rules as
 * Q7M_GetModuleFileName. */
Q7M_EXPORT uint32_t Q7M_API Q7M_GetModuleBaseName(const void* address, char* buffer,
                                                  uint32_t size);

/* ---- files and paths ---- */
/* Full path of `path` (relative to the current directory), with "." and
 * ".." resolved lexically; the file need not exist. Length of the result, or
 * the size needed (including the terminator) when the buffer is too small,
 * 0 on failure. */
Q7M_EXPORT uint32_t Q7M_API Q7M_GetFullPathName(const char* path, char* buffer, uint32_t size);
Q7M_EXPORT uint32_t Q7M_API Q7M_GetCurrentDirectory(char* buffer, uint32_t size);
/* 1 if a directory entry of exactly this name exists (file or directory). */
Q7M_EXPORT int Q7M_API Q7M_PathExists(const char* path);

/* Files of fixed access: a plain descriptor-backed file handle, closed with
 * Q7M_CloseHandle. access: Q7M_GENERIC_READ | Q7M_GENERIC_WRITE (an
 * operation the access does not allow fails with Q7M_ERROR_ACCESS_DENIED);
 * shareMode is accepted and not enforced (Linux has no share modes);
 * disposition as Win32, including the last error on success of
 * Q7M_CREATE_ALWAYS / Q7M_OPEN_ALWAYS (Q7M_ERROR_ALREADY_EXISTS when the
 * file existed, else 0). Failures: Q7M_ERROR_FILE_EXISTS (CREATE_NEW),
 * Q7M_ERROR_FILE_NOT_FOUND / Q7M_ERROR_PATH_NOT_FOUND, Q7M_ERROR_ACCESS_DENIED
 * (also for a directory). New files get mode 0644 (less the umask); the
 * descriptor is close-on-exec. */
#define Q7M_GENERIC_READ 0x80000000u
#define Q7M_GENERIC_WRITE 0x40000000u
#define Q7M_FILE_SHARE_READ 0x1u
#define Q7M_FILE_SHARE_WRITE 0x2u
#define Q7M_CREATE_NEW 1u
#define Q7M_CREATE_ALWAYS 2u
#define Q7M_OPEN_EXISTING 3u
#define Q7M_OPEN_ALWAYS 4u
#define Q7M_TRUNCATE_EXISTING 5u
Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_CreateFile(const char* path, uint32_t access, uint32_t shareMode,
                                             uint32_t disposition);
/* Absolute positioning (FILE_BEGIN). 1 or 0. */
Q7M_EXPORT int Q7M_API Q7M_SetFilePointer(Q7M_HANDLE file, uint64_t offset);
Q7M_EXPORT int Q7M_API Q7M_ReadFile(Q7M_HANDLE file, void* buffer, uint32_t count,
                                    uint32_t* bytesRead);
Q7M_EXPORT int Q7M_API Q7M_WriteFile(Q7M_HANDLE file, const void* buffer, uint32_t count,
                                     uint32_t* bytesWritten);
/* Positioned I/O that does not move the file pointer (thread-safe). */
Q7M_EXPORT int Q7M_API Q7M_ReadFileAt(Q7M_HANDLE file, uint64_t offset, void* buffer,
                                      uint32_t count, uint32_t* bytesRead);
Q7M_EXPORT int Q7M_API Q7M_WriteFileAt(Q7M_HANDLE file, uint64_t offset, const void* buffer,
                                       uint32_t count, uint32_t* bytesWritten);
Q7M_EXPORT int Q7M_API Q7M_FlushFileBuffers(Q7M_HANDLE file);
/* 1 and the size, or 0. */
Q7M_EXPORT int Q7M_API Q7M_GetFileSize(Q7M_HANDLE file, uint64_t* size);

/* ---- private profiles (INI files) ----
 * GetPrivateProfileStringA semantics: sections and keys compared without
 * regard to case, the first matching section and the first matching key in
 * it win, lines starting with ';' are comments, lines without '=' carry no
 * value, blanks around names and values are trimmed, one pair of matching
 * surrounding quotes (double or single, as Win32) is removed. LF, CR LF and
 * CR line ends; a UTF-8 byte-order mark is skipped; a NUL byte ends its line.
 * A missing file, section or key gives the default (null: empty; trailing
 * blanks removed, as Win32); a missing or unreadable file also sets the last
 * error (Q7M_ERROR_FILE_NOT_FOUND, ...). Files larger than 4 MiB or not
 * regular files are not read (Q7M_ERROR_INVALID_DATA). The value is cut to
 * size-1 characters and zero-terminated; the result is the number of
 * characters placed (without the terminator). A null section lists the
 * section names, a null key the key names of the section, each
 * zero-terminated with one more zero at the end (cut: size-2, as Win32).
 * iniPath is used as given (a relative path is relative to the current
 * directory). The file is read anew on each call, so edits take effect at
 * once. */
Q7M_EXPORT uint32_t Q7M_API Q7M_GetPrivateProfileString(const char* section, const char* key,
                                                        const char* defaultValue, char* buffer,
                                                        uint32_t size, const char* iniPath);

/* ---- the registry store ----
 * Values addressed by root, subkey path (backslash-separated) and value
 * name, kept in files of the Windows .reg text format ("Windows Registry
 * Editor Version 5.00" or "REGEDIT4"; string values "..." = REG_SZ with \\ and
 * \" escapes, dword:xxxxxxxx = REG_DWORD; other kinds are skipped). The
 * files read are those named in the environment variable Q7M_REGISTRY
 * (several separated by ':'), or else /etc/q7m/registry.reg. Key paths are
 * compared without regard to case. */
#define Q7M_HKEY_CLASSES_ROOT 0x80000000u
#define Q7M_HKEY_CURRENT_USER 0x80000001u
#define Q7M_HKEY_LOCAL_MACHINE 0x80000002u
#define Q7M_HKEY_USERS 0x80000003u
#define Q7M_REG_NONE 0u
#define Q7M_REG_SZ 1u
#define Q7M_REG_DWORD 4u
/* The files are applied in order, later over earlier; deletions ([-KEY] and
 * "name"=-) are honoured. A key exists when a file opens it or a key below
 * it. Files are read anew on each query, so edits and a changed variable
 * take effect at once; missing, oversized (>4 MiB) or header-less files are
 * skipped. UTF-16LE files (as regedit writes them) are read too.
 * Reads one value. Returns a Win32 code like RegQueryValueExA (0,
 * Q7M_ERROR_FILE_NOT_FOUND for a missing key or value, Q7M_ERROR_MORE_DATA
 * when the buffer is short, with *size set to the size needed,
 * Q7M_ERROR_INVALID_HANDLE for an unknown root, Q7M_ERROR_INVALID_PARAMETER
 * for data without size); failures also set the last error. On success
 * *type is the value's kind and *size the bytes stored (REG_SZ including the
 * terminator, REG_DWORD 4, little-endian). valueName null or "": the
 * default value (@). data null: only *type and *size are reported. */
Q7M_EXPORT uint32_t Q7M_API Q7M_RegQueryValue(uint32_t root, const char* subKey,
                                              const char* valueName, uint32_t* type, void* data,
                                              uint32_t* size);
/* 1 if the key exists. */
Q7M_EXPORT int Q7M_API Q7M_RegKeyExists(uint32_t root, const char* subKey);

#ifdef __cplusplus
}
#endif

#endif /* Q7M_PLATFORM_SYS_H */
