/*
 * q7m/hid_provider.h - the HID provider libq7mhid.so, which the port driver
 * loads by name at run time in place of a system HID class library and a
 * device-setup library. It lists the HID device interfaces present, opens
 * them, tells their identity (ids, version, the three strings, report
 * lengths) and reads and writes whole reports.
 *
 * Two back ends sit behind this one interface:
 *  - hidraw, for readers on a USB port (listed through the kernel's device
 *    tree, report lengths from the report descriptor);
 *  - the virtual HID bus of docs/virtual-hid-bus.md, on which the reader
 *    emulator publishes its readers ($Q7M_HIDBUS_DIR).
 * A device is named by its interface path (/dev/hidrawN, or the bus
 * socket's path) and, once open, by a file descriptor ("device" below) that
 * the caller owns and closes; a descriptor taken over from another process
 * works here too.
 *
 * The entry points keep the names, shapes and semantics of the system
 * functions they stand in for, so the port driver follows its algorithms
 * step by step: BOOL-like results are 1 or 0 with the last error
 * (Q7M_GetLastError, Win32 numbering) set on failure. A device that has gone
 * answers Q7M_ERROR_DEVICE_NOT_CONNECTED.
 */
#ifndef Q7M_HID_PROVIDER_H
#define Q7M_HID_PROVIDER_H

#include <stddef.h>
#include <stdint.h>

#include "q7m/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The provider's name for Q7M_LoadLibrary. */
#define Q7MHID_PROVIDER_NAME "q7mhid"

typedef struct Q7MHID_GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} Q7MHID_GUID;

/* ---- the HID class part ---- */

/* The caller sets Size to sizeof(HIDD_ATTRIBUTES) (12) first. */
typedef struct HIDD_ATTRIBUTES {
  uint32_t Size;
  uint16_t VendorID;
  uint16_t ProductID;
  uint16_t VersionNumber; /* the device release number (BCD) */
} HIDD_ATTRIBUTES;

/* Report lengths in bytes include the report id byte (0 for a device
 * without numbered reports), as a report buffer of the system's HID class
 * holds them; 0 when the device has no report of that direction. */
typedef struct HIDP_CAPS {
  uint16_t Usage; /* of the top-level collection */
  uint16_t UsagePage;
  uint16_t InputReportByteLength;
  uint16_t OutputReportByteLength;
  uint16_t FeatureReportByteLength;
} HIDP_CAPS;

typedef struct Q7MHID_PREPARSED_DATA* PHIDP_PREPARSED_DATA;

#define HIDP_STATUS_SUCCESS 0x00110000u
#define HIDP_STATUS_INVALID_PREPARSED_DATA 0xC0110001u

/* The interface class of HID devices (what the device-setup part lists). */
Q7M_EXPORT void Q7M_API HidD_GetHidGuid(Q7MHID_GUID* guid);
Q7M_EXPORT int Q7M_API HidD_GetAttributes(int device, HIDD_ATTRIBUTES* attributes);
/* The strings as UTF-16 (native byte order), zero-terminated, cut to the
 * buffer (`length` in bytes); a string the device does not have is empty. */
Q7M_EXPORT int Q7M_API HidD_GetManufacturerString(int device, void* buffer, uint32_t length);
Q7M_EXPORT int Q7M_API HidD_GetProductString(int device, void* buffer, uint32_t length);
Q7M_EXPORT int Q7M_API HidD_GetSerialNumberString(int device, void* buffer, uint32_t length);
/* Strings by USB string index are not reachable through either back end:
 * 0 with Q7M_ERROR_NOT_SUPPORTED (after the presence check). */
Q7M_EXPORT int Q7M_API HidD_GetIndexedString(int device, uint32_t index, void* buffer,
                                             uint32_t length);
/* The parsed report descriptor; freed with HidD_FreePreparsedData. */
Q7M_EXPORT int Q7M_API HidD_GetPreparsedData(int device, PHIDP_PREPARSED_DATA* data);
Q7M_EXPORT int Q7M_API HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data);
/* HIDP_STATUS_SUCCESS, or HIDP_STATUS_INVALID_PREPARSED_DATA. */
Q7M_EXPORT uint32_t Q7M_API HidP_GetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS* caps);

/* ---- opening, reading and writing (what a system does with its file
 * functions on an interface path) ---- */

#define Q7MHID_GENERIC_READ 0x80000000u
#define Q7MHID_GENERIC_WRITE 0x40000000u
#define Q7MHID_FILE_SHARE_READ 0x1u
#define Q7MHID_FILE_SHARE_WRITE 0x2u

/* Opens an interface path; the descriptor is non-blocking and
 * close-on-exec. access 0 opens for querying the identity only (no
 * reports), read|write for reports. A share mode without
 * Q7MHID_FILE_SHARE_WRITE holds the device for this open alone: it fails
 * with Q7M_ERROR_SHARING_VIOLATION while another open exchanges reports, and
 * every later open fails so while it lasts. -1 with the last error:
 * Q7M_ERROR_FILE_NOT_FOUND (no such device, or gone), Q7M_ERROR_ACCESS_DENIED,
 * Q7M_ERROR_SHARING_VIOLATION (retry later), Q7M_ERROR_INVALID_DATA (the
 * device's answer made no sense), ... */
Q7M_EXPORT int Q7M_API Q7MHID_OpenDevice(const char* path, uint32_t access, uint32_t shareMode);
/* Reads one whole input report without waiting: byte 0 is the report id.
 * 0 with Q7M_ERROR_IO_PENDING when none is there yet (wait until the
 * descriptor polls readable), Q7M_ERROR_DEVICE_NOT_CONNECTED when the
 * device has gone. A report longer than the buffer is cut. */
Q7M_EXPORT int Q7M_API Q7MHID_ReadReport(int device, void* buffer, uint32_t size,
                                         uint32_t* bytesRead);
/* Writes one whole output report (byte 0 the report id) without waiting:
 * 0 with Q7M_ERROR_IO_PENDING when the device cannot take it now (wait until
 * the descriptor polls writable). */
Q7M_EXPORT int Q7M_API Q7MHID_WriteReport(int device, const void* buffer, uint32_t size,
                                          uint32_t* bytesWritten);
/* The caller is about to close `device`: forget what is kept about it. */
Q7M_EXPORT void Q7M_API Q7MHID_ReleaseDevice(int device);
/* Q7MHID_ReleaseDevice and close. */
Q7M_EXPORT int Q7M_API Q7MHID_CloseDevice(int device);

/* ---- the device-setup part: the list of present HID interfaces ---- */

typedef void* HDEVINFO;
#define Q7MHID_INVALID_DEVINFO ((HDEVINFO)(intptr_t)-1)
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_DEVICEINTERFACE 0x00000010u

/* The caller sets cbSize to sizeof(SP_DEVICE_INTERFACE_DATA). */
typedef struct SP_DEVICE_INTERFACE_DATA {
  uint32_t cbSize;
  Q7MHID_GUID InterfaceClassGuid;
  uint32_t Flags;
  uintptr_t Reserved;
} SP_DEVICE_INTERFACE_DATA;

/* The caller sets cbSize to Q7MHID_DETAIL_SIZE_FIELD; the path follows. */
typedef struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
  uint32_t cbSize;
  char DevicePath[1];
} SP_DEVICE_INTERFACE_DETAIL_DATA_A;
#define Q7MHID_DETAIL_SIZE_FIELD ((uint32_t)sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))

/* Takes the list of HID interfaces present now (hidraw devices with a USB
 * parent, in device-number order, then the bus devices in name order).
 * `flags` must hold DIGCF_PRESENT | DIGCF_DEVICEINTERFACE and `classGuid`
 * be the HID class; Q7MHID_INVALID_DEVINFO with the last error otherwise. */
Q7M_EXPORT HDEVINFO Q7M_API SetupDiGetClassDevsA(const Q7MHID_GUID* classGuid,
                                                 const char* enumerator, void* parent,
                                                 uint32_t flags);
/* The interface at `index`; 0 with Q7M_ERROR_NO_MORE_ITEMS past the end. */
Q7M_EXPORT int Q7M_API SetupDiEnumDeviceInterfaces(HDEVINFO list, void* deviceInfo,
                                                   const Q7MHID_GUID* classGuid, uint32_t index,
                                                   SP_DEVICE_INTERFACE_DATA* data);
/* The interface's path. With no detail (size 0), or a detail too small: 0
 * with Q7M_ERROR_INSUFFICIENT_BUFFER and *requiredSize set. */
Q7M_EXPORT int Q7M_API SetupDiGetDeviceInterfaceDetailA(HDEVINFO list,
                                                        SP_DEVICE_INTERFACE_DATA* data,
                                                        SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                                        uint32_t detailSize, uint32_t* requiredSize,
                                                        void* deviceInfo);
Q7M_EXPORT int Q7M_API SetupDiDestroyDeviceInfoList(HDEVINFO list);

#ifdef __cplusplus
}
#endif

#endif /* Q7M_HID_PROVIDER_H */
