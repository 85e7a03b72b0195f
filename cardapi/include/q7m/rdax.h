/*
 * q7m/rdax.h - the card-reader API libRDAX.so: 63 functions that open a
 * motorised card reader (USB or serial), run card operations on it and
 * report every outcome as a 32-bit result code (q7m/rdax_result.h).
 *
 * How every operation behaves
 * ---------------------------
 * Handle. RDAX_OpenDevice returns the handle (const RDAX*); it is valid
 * until RDAX_CloseDevice. A null handle is answered RDAX_E_NULL_ARGUMENT
 * (nothing is stored for it); every other handle fault comes back as the
 * execution service reports it (usually RDAX_E_PARAMETER).
 *
 * Synchronous or asynchronous. Every "dispatched" export below takes a
 * completion event (Q7M_HANDLE from Q7M_CreateEvent) as its last argument:
 *   - null: the operation runs on the calling thread and its result is
 *     returned;
 *   - an event: the call returns RDAX_I_ASYNC_STARTED at once, the operation
 *     runs on a worker thread of the library, and the event is signalled
 *     when it has ended - by then the device is free again and the result is
 *     stored, so RDAX_GetResult returns it. The event, and every record the
 *     call names, must stay valid until the event is signalled.
 * Results every dispatched export can return besides its own:
 *   RDAX_E_BUSY        another operation runs on the device (in this or
 *                      another process; also a second asynchronous call on a
 *                      handle whose first has not ended yet)
 *   RDAX_E_RESTRICTED  only the exports marked "guarded": another session
 *                      holds the restriction (RDAX_StartRestriction)
 *   RDAX_E_COMMUNICATION, RDAX_E_FAULTY_REPLY, RDAX_F_NOT_CONNECTED,
 *   RDAX_F_LINE, RDAX_E_NO_DEVICE   transport outcomes
 *   RDAX_W_CANCELLED   RDAX_Cancel stopped it, or the reader answered "E"
 *   0x44xxxxxx, 0x84xxxxxx          the reader refused the command
 *   RDAX_F_SYSTEM      no memory or no thread (Q7M_GetLastError: 14, 155)
 *   RDAX_F_LINE        also: this build does not offer the operation yet
 * Each result of an operation is stored as the handle's last result.
 *
 * Threads. Every export may be called from any thread. One operation runs on
 * a device at a time; RDAX_Cancel and RDAX_GetResult may be called beside a
 * running one. The library keeps no lock of its own across calls.
 *
 * Trace. Every export writes an entry and an exit line, and a line per
 * warning, error or fatal result, to the trace file of section RDAX of
 * SCRIBEL.INI (bits 1 fatal, 2 error, 4 warning, 16 entry/exit).
 */
#ifndef Q7M_RDAX_H
#define Q7M_RDAX_H

#include <stddef.h>
#include <stdint.h>

#include "q7m/pdlnk.h"
#include "q7m/platform.h"
#include "q7m/rdax_result.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The device handle (opaque; never dereferenced by the library). */
typedef struct RDAX RDAX;

/* ---- open parameter block ----
 * Seven pointer-sized words handed to the execution service unchanged. For
 * a USB reader word 0 points to a list of 16-bit USB product ids and the low
 * 16 bits of word 1 hold its length; for a serial reader word 1 is the line
 * speed (0: default). A null block opens a USB reader of product 52 or 83. */
#define RDAX_OPEN_PARAM_WORDS 7
typedef struct RDAX_OPEN_PARAMS {
  uintptr_t words[RDAX_OPEN_PARAM_WORDS];
} RDAX_OPEN_PARAMS;
#define RDAX_DEFAULT_PRODUCT_ID_1 52u
#define RDAX_DEFAULT_PRODUCT_ID_2 83u

/* ---- parameter constants ---- */
/* Chip standards (ICC and SAM). */
#define RDAX_SET_ICSTD_ISO 0u
#define RDAX_SET_ICSTD_SPECIAL01 4u
#define RDAX_SET_ICSTD_EMV 5u
#define RDAX_SET_ICSTD_ZKA 6u
/* The getters' answer when the reader reports no standard. */
#define RDAX_ICSTD_UNKNOWN (-1)
/* LED colours and blink cycles. */
#define RDAX_SET_LED_GREEN 1u
#define RDAX_SET_LED_RED 2u
#define RDAX_SET_LED_ORANGE 3u
#define RDAX_SET_LED_BLINK4HZ 0u
#define RDAX_SET_LED_BLINK2HZ 1u
#define RDAX_SET_LED_BLINK1HZ 2u
#define RDAX_SET_LED_BLINK1_2HZ 3u
#define RDAX_SET_LED_BLINK1_4HZ 4u
/* LED control mode. */
#define RDAX_SET_LED_MANUAL 0u
#define RDAX_SET_LED_AUTOMATIC 1u
/* Version selectors of RDAX_GetVersion. */
#define RDAX_VERSION_MASK 1u
#define RDAX_VERSION_FIRMWARE 2u
#define RDAX_VERSION_IC_FIRMWARE 3u
#define RDAX_VERSION_SAM_FIRMWARE 4u
/* Track masks (combine with |): 0 no track. */
#define RDAX_TRACK_1 1u
#define RDAX_TRACK_2 2u
#define RDAX_TRACK_3 4u
#define RDAX_TRACK_ALL 7u
/* Read direction of RDAX_TRANSACTION_SETTING. */
#define RDAX_READ_NONE 0u
#define RDAX_READ_ON_INSERT 1u
#define RDAX_READ_ON_PULLOUT 2u
/* Chip protocols (RdaxChipData.kind of ICC and SAM exchanges). */
#define RDAX_CHIPIO_PROTOCOL_UNKNOWN 0
#define RDAX_CHIPIO_PROTOCOL_T0 1
#define RDAX_CHIPIO_PROTOCOL_T1 2
/* Reset options of the chip activations. */
#define RDAX_RESET_COLD 1u
#define RDAX_RESET_WARM 2u
/* SAM slots. */
#define RDAX_SAM_FIRST 1u
#define RDAX_SAM_LAST 5u
/* SAM status of RDAX_GetSAMStatus. */
#define RDAX_SAM_STATUS_OTHER 0u
#define RDAX_SAM_STATUS_PRESENT 1u
#define RDAX_SAM_STATUS_REFUSED 4u
#define RDAX_SAM_STATUS_NO_ANSWER 7u
/* Memory card types. */
#define RDAX_MEMCARD_SLE4442 0u
#define RDAX_MEMCARD_SLE4432 1u
#define RDAX_MEMCARD_SLE4428 2u
#define RDAX_MEMCARD_SLE4418 3u
/* Contactless: what to look for, and the kinds of card entries found. */
#define RDAX_CONTACTLESS_MIFARE 2u
#define RDAX_CONTACTLESS_TYPEB 4u
#define RDAX_CONTACTLESS_BOTH 6u
#define RDAX_CARD_MIFARE 2u
#define RDAX_CARD_TYPEB 4u
#define RDAX_CARD_OTHER 8u
#define RDAX_MIFARE_KEY_A 0u
#define RDAX_MIFARE_KEY_B 1u
/* Detection modes (tamper, rear destroy); the getters answer -1 when the
 * reader's answer is neither. */
#define RDAX_DETECTION_OFF 0u
#define RDAX_DETECTION_ON 1u
/* Device status values of RDAX_STATUS.deviceStatus. */
#define RDAX_DEVICE_ONLINE 0u
#define RDAX_DEVICE_OFFLINE 1u
#define RDAX_DEVICE_POWER_OFF 2u
#define RDAX_DEVICE_NO_DEVICE 3u
#define RDAX_DEVICE_HARDWARE_ERROR 4u
#define RDAX_DEVICE_USER_ERROR 5u
#define RDAX_DEVICE_BUSY 6u
/* Largest data block of a chip, memory card or Type B exchange. */
#define RDAX_CHIP_DATA_MAX 2048u

/* ---- records ----
 * Records without pointers keep one byte layout on every platform; the
 * offsets are checked below. */

/* RDAX_GetVersion. Texts are zero-terminated. */
typedef struct RDAX_VERSION {
  char type[13];
  char revision[3];
  uint32_t sum;
} RDAX_VERSION;

/* RDAX_GetCapabilities. The values set before the query stay where the
 * reader's reply says nothing (see RDAX_GetCapabilities). */
typedef struct RDAX_CAPABILITIES {
  uint16_t type;
  uint32_t compound;
  uint16_t readTracks; /* RDAX_TRACK_* mask */
  uint16_t writeTracks;
  uint16_t chipProtocols;
  uint16_t capturedCards;
  uint16_t securityType;
  uint16_t powerOnOption;
  uint16_t powerOffOption;
  uint32_t fluxSensorProgrammable;
  uint32_t readWriteAfterEject;
  uint16_t writeMode;
  uint16_t chipPower;
  uint32_t extraUps;
  uint32_t extraSam;         /* 2: SAM supported, 1: second kind */
  uint16_t extraContactless; /* 1: field only; else 2/4/8 bits */
} RDAX_CAPABILITIES;

/* RDAX_GetStatus. */
typedef struct RDAX_STATUS {
  uint16_t deviceStatus; /* RDAX_DEVICE_* */
  uint16_t mediaStatus;
  uint16_t binStatus;
  uint16_t securityStatus;
  uint16_t capturedCards;
  uint16_t chipStatus;
  uint16_t extraBattery;
  uint16_t extraSamChip; /* bits 1,2,4,8,16: SAM 1..5 present */
} RDAX_STATUS;

/* RDAX_PrepareTransactionSetting (input). */
typedef struct RDAX_TRANSACTION_SETTING {
  uint32_t readDirection; /* RDAX_READ_* */
  uint32_t readTracks;    /* RDAX_TRACK_* mask, 0 to 7 */
  uint32_t lockOnInsert;  /* 0 off, other on */
  uint32_t lockOnPullOut; /* 0 off, other on */
} RDAX_TRANSACTION_SETTING;

/* RDAX_MonitorCardStatus: five decimal digits of the reader, in reply order. */
typedef struct RDAX_CARD_STATUS {
  uint32_t digit[5];
} RDAX_CARD_STATUS;

/* RDAX_ReadMagTrack. Only the entries of the requested tracks are written.
 * Data is as the reader sends it, not terminated. A track longer than its
 * area is cut to the area. */
#define RDAX_TRACK1_CAPACITY 77u
#define RDAX_TRACK2_CAPACITY 38u
#define RDAX_TRACK3_CAPACITY 107u
typedef struct RDAX_TRACK_DATA {
  uint32_t result[3]; /* per track: 0 or a reader error result */
  uint8_t length[3];  /* data bytes delivered per track */
  uint8_t track1[RDAX_TRACK1_CAPACITY];
  uint8_t track2[RDAX_TRACK2_CAPACITY];
  uint8_t track3[RDAX_TRACK3_CAPACITY];
} RDAX_TRACK_DATA;

/* Input and output of the chip, memory card and Type B exchanges. */
typedef struct RdaxChipData {
  int32_t kind;    /* RDAX_CHIPIO_PROTOCOL_* or the memory card type */
  uint32_t length; /* data bytes; inputs above RDAX_CHIP_DATA_MAX refused */
  uint8_t data[RDAX_CHIP_DATA_MAX];
} RdaxChipData;

/* Contactless cards found by RDAX_ActivateContactless: a record of 1988
 * bytes (its mark) with room for 99 card entries. Cards beyond the 99th are
 * counted but not recorded. */
#define RDAX_CONTACTLESS_MARK 1988u
#define RDAX_CONTACTLESS_MAX_CARDS 99u
typedef struct RDAX_CONTACTLESS_CARD {
  uint32_t type; /* RDAX_CARD_* */
  uint8_t id[4];
  uint8_t applicationData[4]; /* Type B only */
  uint8_t protocolInfo[3];    /* Type B only */
  uint8_t reserved[5];
} RDAX_CONTACTLESS_CARD;
typedef struct RdaxContactlessCards {
  uint32_t mark; /* the caller sets RDAX_CONTACTLESS_MARK before first use */
  uint8_t mifareCount;
  uint8_t typeBCount;
  uint8_t otherCount;
  uint8_t reserved;
  RDAX_CONTACTLESS_CARD card[RDAX_CONTACTLESS_MAX_CARDS];
} RdaxContactlessCards;

/* Optional input of RDAX_TypeBAttribute. */
#define RDAX_TYPEB_ATTRIBUTE_MARK 24u
typedef struct RDAX_TYPEB_ATTRIBUTE {
  uint32_t mark; /* RDAX_TYPEB_ATTRIBUTE_MARK */
  uint32_t sofRequired;
  uint32_t eofRequired;
  uint8_t tr0; /* 0 to 2 */
  uint8_t tr1; /* 0 to 2 */
  uint8_t reserved1;
  uint8_t maxFrameSizeCode; /* 0 to 8 */
  uint8_t bitRateCode1;     /* 0 to 3 */
  uint8_t bitRateCode2;     /* 0 to 3 */
  uint8_t protocolType;     /* must be 1 */
  uint8_t reserved2;
  uint8_t cardIdentifier; /* must be 15 */
  uint8_t reserved3[3];
} RDAX_TYPEB_ATTRIBUTE;

#define RDAX_SERIAL_NUMBER_SIZE 7u /* 6 characters and the terminator */
#define RDAX_MODEL_NUMBER_SIZE 21u /* 20 characters and the terminator */

/* ======== open, close, result, cancel ======== */

/* Opens a reader. name: "COM1".."COM9" (serial), or a USB serial number,
 * null for the first USB reader (passed to the execution service as it
 * is). params: see RDAX_OPEN_PARAMS, or null. Returns the handle (its last
 * result is 0), or null with Q7M_GetLastError() telling why
 * (2: no such reader, ...). Any thread. */
Q7M_EXPORT const RDAX* Q7M_API RDAX_OpenDevice(const char* name, const RDAX_OPEN_PARAMS* params);
/* Closes the handle and gives back every lock it holds. RDAX_OK,
 * RDAX_E_NULL_ARGUMENT, RDAX_E_PARAMETER (not open), RDAX_F_SYSTEM.
 * Nothing is stored. Do not close a handle an asynchronous call still uses. */
Q7M_EXPORT uint32_t Q7M_API RDAX_CloseDevice(const RDAX* handle);
/* The result of the last operation on the handle (stored when it ended), or
 * RDAX_E_BUSY while an operation is running, RDAX_E_NULL_ARGUMENT. Stores
 * nothing; may run beside an operation. */
Q7M_EXPORT uint32_t Q7M_API RDAX_GetResult(const RDAX* handle);
/* Stops the exchange running on the handle (from another thread or beside an
 * asynchronous call) and sends the reader the cancel message. Returns the
 * outcome of the cancel itself (RDAX_OK: the reader answered it), which is
 * stored; the cancelled operation then ends with RDAX_W_CANCELLED and stores
 * that after it. Checks no lock. */
Q7M_EXPORT uint32_t Q7M_API RDAX_Cancel(const RDAX* handle);

/* ======== raw command ======== */

/* Sends one command message (mark "C", two-character code, parameters) and
 * delivers the raw response ("P", "N" or "E", echoed code, two status or
 * error characters, data) into response/responseSize, its length into
 * *responseLength. Time limits in seconds. Dispatched (sync/async, see
 * above), not guarded; the command is copied, so its buffer may be reused
 * at once. The result is the transport's alone: a refusing "N" reply gives
 * RDAX_OK and stays in the buffer for the caller to read.
 * RDAX_E_NULL_ARGUMENT (command null), RDAX_E_PARAMETER (length 0, response
 * null, size 0, length pointer null).
 *
 * Reader error codes ("N" replies of the other operations) become results
 * as follows: "1Y" 0x84010007, "1Z" 0x8401000C, "1H" 0x8401000A,
 * "1J" 0x8401000B; "00".."8F", "A0".."BF" 0x84000000 + the code read as hex,
 * "J0".."JF" 0x84000130 + the second digit, except the listed warnings
 * (0x44xxxxxx: "00".."03", "33", "40".."46", "49", "4A", "61", "64", "80",
 * "82", "84".."87", "89", "8A", "A0", "A2", "A4".."A7", "A9", "J0", "J2",
 * "J4", "J9", "JB") and errors ("07", "08", "0A", "0B", "10", "11", "18",
 * "19", "60", "70".."72", "81", "88"); "90".."9F" answer as "A0".."AF";
 * anything else RDAX_E_READER_UNKNOWN. */
Q7M_EXPORT uint32_t Q7M_API RDAX_SendCommand(const RDAX* handle, const char* command,
                                             uint32_t commandLength, uint32_t sendTimeout,
                                             char* response, uint32_t responseSize,
                                             uint32_t* responseLength, uint32_t receiveTimeout,
                                             Q7M_HANDLE completionEvent);

/* ======== device listing, port reset, user trace line (direct) ========
 * These call the execution service at once: no event, no lock, nothing
 * stored unless said. Any thread. */

/* *count = the attached USB readers of product 52. RDAX_OK (also with
 * none), RDAX_E_NULL_ARGUMENT, RDAX_F_SYSTEM. */
Q7M_EXPORT uint32_t Q7M_API RDAX_EnumerateDevices(uint32_t* count);
/* Starts a listing of the attached USB readers: set info->recordSize =
 * sizeof(PDLNK_FIND_INFO); the record describes the first reader. RDAX_OK,
 * RDAX_E_NULL_ARGUMENT, RDAX_E_PARAMETER (record size), RDAX_E_NO_DEVICE,
 * RDAX_F_SYSTEM (also: no reader, or the end of the list). End every listing
 * with RDAX_FindClose. */
Q7M_EXPORT uint32_t Q7M_API RDAX_FindFirst(PDLNK_FIND_INFO* info);
/* The next reader of the listing; results as RDAX_FindFirst (RDAX_F_SYSTEM
 * at the end of the list). */
Q7M_EXPORT uint32_t Q7M_API RDAX_FindNext(PDLNK_FIND_INFO* info);
/* Ends the listing (a null record is ignored). */
Q7M_EXPORT void Q7M_API RDAX_FindClose(PDLNK_FIND_INFO* info);
/* Writes "RDAX:User=<text>" into the trace whatever the trace mask.
 * RDAX_OK, RDAX_E_NULL_ARGUMENT (handle or text), RDAX_E_PARAMETER (empty
 * text); the result is stored (not for a null handle). */
Q7M_EXPORT uint32_t Q7M_API RDAX_LogErrorData(const RDAX* handle, const char* text);

/* ======== device information, status, LEDs (dispatched) ======== */

/* Replies cut short. The library never reads beyond the bytes the reader
 * sent. A field of a positive reply that did not arrive reads as 0 (numbers,
 * digits, counters, sensor levels, sums), as an empty text (type, revision,
 * serial and model number: terminated where they would have started), as
 * RDAX_ICSTD_UNKNOWN (standards) or as "not reported" (capabilities and
 * status keep their presets; a missing "C11" status reads as media 0, chip
 * 7). Whatever did arrive is written, and the export then returns
 * RDAX_E_FAULTY_REPLY instead of RDAX_OK, so a short reply is never taken
 * for a complete one. A reader that refuses "CUE" with "00" has no serial or
 * model number: the text is empty and the result RDAX_OK. */

/* Fills *caps. The record is preset first (type 3, chipProtocols 3,
 * securityType 1, powerOnOption 1, powerOffOption 1, readWriteAfterEject 1,
 * chipPower 14, everything else 0); readTracks, extraSam and
 * extraContactless then come from the reader. After a failure the presets
 * stay. RDAX_E_NULL_ARGUMENT (caps). */
Q7M_EXPORT uint32_t Q7M_API RDAX_GetCapabilities(const RDAX* handle, RDAX_CAPABILITIES* caps,
                                                 Q7M_HANDLE completionEvent);
/* Fills *status: device, media and chip status from the reader's status
 * queries, extraSamChip from its capabilities. The record is preset first
 * (binStatus 2, securityStatus 1, chipStatus 7, the rest 0); a failed query
 * still reports deviceStatus (RDAX_DEVICE_*: e.g. RDAX_DEVICE_OFFLINE for
 * RDAX_F_NOT_CONNECTED, RDAX_DEVICE_BUSY for RDAX_E_BUSY) and chipStatus.
 * RDAX_E_NULL_ARGUMENT (status), or the first failure's result. */
Q7M_EXPORT uint32_t Q7M_API RDAX_GetStatus(const RDAX* handle, RDAX_STATUS* status,
                                           Q7M_HANDLE completionEvent);
/* Lights the front LED in `colour` (RDAX_SET_LED_GREEN/RED/ORANGE, else
 * RDAX_E_PARAMETER, nothing sent). */
Q7M_EXPORT uint32_t Q7M_API RDAX_TurnonLED(const RDAX* handle, uint32_t colour,
                                           Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_TurnoffLED(const RDAX* handle, Q7M_HANDLE completionEvent);
/* Blinks the LED in `colour` at `cycle` (RDAX_SET_LED_BLINK*); either out of
 * range: RDAX_E_PARAMETER, nothing sent. */
Q7M_EXPORT uint32_t Q7M_API RDAX_BlinkLED(const RDAX* handle, uint32_t colour, uint32_t cycle,
                                          Q7M_HANDLE completionEvent);
/* levels[4]: the four sensor levels (0 to 99), written on success.
 * RDAX_E_NULL_ARGUMENT (levels). */
Q7M_EXPORT uint32_t Q7M_API RDAX_GetSensorLevel(const RDAX* handle, uint32_t* levels,
                                                Q7M_HANDLE completionEvent);
/* Fills *version with the version `selector` names (RDAX_VERSION_*, else
 * RDAX_E_PARAMETER). Any warning or error of the query is returned and
 * leaves the record as it was. RDAX_E_NULL_ARGUMENT (version). */
Q7M_EXPORT uint32_t Q7M_API RDAX_GetVersion(const RDAX* handle, uint32_t selector,
                                            RDAX_VERSION* version, Q7M_HANDLE completionEvent);
/* The reader's 6-character serial number into buffer (at least
 * RDAX_SERIAL_NUMBER_SIZE bytes), zero-terminated. RDAX_E_NULL_ARGUMENT. */
Q7M_EXPORT uint32_t Q7M_API RDAX_GetSerialNumber(const RDAX* handle, char* buffer,
                                                 Q7M_HANDLE completionEvent);
/* The reader's 20-character model number into buffer (at least
 * RDAX_MODEL_NUMBER_SIZE bytes), zero-terminated. RDAX_E_NULL_ARGUMENT. */
Q7M_EXPORT uint32_t Q7M_API RDAX_GetModelNumber(const RDAX* handle, char* buffer,
                                                Q7M_HANDLE completionEvent);
/* counters[16]: the reader's error counters, written on success.
 * RDAX_E_NULL_ARGUMENT (counters). */
Q7M_EXPORT uint32_t Q7M_API RDAX_GetErrorCount(const RDAX* handle, uint32_t* counters,
                                               Q7M_HANDLE completionEvent);
/* counters[4]: the reader's action counters, written on success.
 * RDAX_E_NULL_ARGUMENT (counters). */
Q7M_EXPORT uint32_t Q7M_API RDAX_GetActionCount(const RDAX* handle, uint32_t* counters,
                                                Q7M_HANDLE completionEvent);
/* *standard = the chip standard the reader applies to the card's chip /
 * the SAMs: RDAX_SET_ICSTD_*, or RDAX_ICSTD_UNKNOWN when it reports none.
 * RDAX_E_NULL_ARGUMENT (standard). */
Q7M_EXPORT uint32_t Q7M_API RDAX_GetICCStandardType(const RDAX* handle, int32_t* standard,
                                                    Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_GetSAMStandardType(const RDAX* handle, int32_t* standard,
                                                    Q7M_HANDLE completionEvent);
/* Sets the chip standard: RDAX_SET_ICSTD_* (else RDAX_E_PARAMETER, nothing
 * sent). */
Q7M_EXPORT uint32_t Q7M_API RDAX_SetICCStandardType(const RDAX* handle, uint32_t standard,
                                                    Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_SetSAMStandardType(const RDAX* handle, uint32_t standard,
                                                    Q7M_HANDLE completionEvent);
/* mode RDAX_SET_LED_MANUAL/AUTOMATIC (else RDAX_E_PARAMETER). Guarded. */
Q7M_EXPORT uint32_t Q7M_API RDAX_SetLEDControlMode(const RDAX* handle, uint32_t mode,
                                                   Q7M_HANDLE completionEvent);

/* ======== card transport and magnetic stripe (dispatched, guarded) ======== */

/* Resets the reader ("C00", 3 s for the answer); when no answer comes in
 * time, sends the cancel "E" (its outcome ignored) and "C00" once more with
 * 30 s, whose outcome is the result. */
Q7M_EXPORT uint32_t Q7M_API RDAX_InitialReset(const RDAX* handle, Q7M_HANDLE completionEvent);
/* How the next card is taken in and read ("C:6": direction, the reader's
 * track set character, insertion lock, pull-out lock). RDAX_E_NULL_ARGUMENT
 * (setting), RDAX_E_PARAMETER (direction above 2, mask above 7); both
 * stored, nothing sent. */
Q7M_EXPORT uint32_t Q7M_API RDAX_PrepareTransactionSetting(const RDAX* handle,
                                                           const RDAX_TRANSACTION_SETTING* setting,
                                                           Q7M_HANDLE completionEvent);
/* Watches the card slot for `seconds` (0 to 99, else RDAX_E_PARAMETER,
 * nothing sent): the reader answers when the card moves or the time is up,
 * and the call waits that long plus 2 s. Fills *status with the reader's
 * five digits only when the answer is a success; a reply cut short leaves
 * the record alone and gives RDAX_E_FAULTY_REPLY. */
Q7M_EXPORT uint32_t Q7M_API RDAX_MonitorCardStatus(const RDAX* handle, uint32_t seconds,
                                                   RDAX_CARD_STATUS* status,
                                                   Q7M_HANDLE completionEvent);
/* Reads the tracks of `mask` (1 to 7, else RDAX_E_PARAMETER) into *tracks;
 * only the requested tracks' entries are written. Per track: result 0, or
 * the reader's error for it (RDAX_W_TRACK_*); data is delivered for 0 and
 * for RDAX_W_TRACK_46, length 0 otherwise. Bounds: a track longer than its
 * area (RDAX_TRACK1/2/3_CAPACITY) is cut to the area, the tracks after it
 * still read from where the reader put them. A track whose result, length
 * or data did not arrive in full gets RDAX_E_FAULTY_REPLY and length 0, as
 * do the data tracks after it. Returns the first non-zero track result in
 * track order, or RDAX_OK; another warning or error of the reply leaves the
 * record alone. */
Q7M_EXPORT uint32_t Q7M_API RDAX_ReadMagTrack(const RDAX* handle, uint32_t mask,
                                              RDAX_TRACK_DATA* tracks,
                                              Q7M_HANDLE completionEvent);
/* Clears the track data the reader holds. */
Q7M_EXPORT uint32_t Q7M_API RDAX_ClearReadData(const RDAX* handle, Q7M_HANDLE completionEvent);
/* Engages / releases the card lock. */
Q7M_EXPORT uint32_t Q7M_API RDAX_Lock(const RDAX* handle, Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_Unlock(const RDAX* handle, Q7M_HANDLE completionEvent);

/* ======== chip cards (dispatched; guarded except RDAX_GetSAMStatus) ======== */

/* Powers the card's chip (reset RDAX_RESET_COLD/WARM, else
 * RDAX_E_PARAMETER); *answer receives the protocol and the answer to reset.
 * RDAX_W_ICC_ATR_87 still fills it (protocol unknown). RDAX_E_NULL_ARGUMENT
 * (answer). */
Q7M_EXPORT uint32_t Q7M_API RDAX_ActivateICC(const RDAX* handle, uint32_t reset,
                                             RdaxChipData* answer, Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_DeactivateICC(const RDAX* handle, Q7M_HANDLE completionEvent);
/* One APDU exchange with the card's chip (or a SAM, or a memory card
 * below); input->kind RDAX_CHIPIO_PROTOCOL_T0 or _T1, input->length at most
 * RDAX_CHIP_DATA_MAX (else RDAX_E_PARAMETER). output->length is the length
 * of the card's answer; its data is cut to RDAX_CHIP_DATA_MAX.
 * RDAX_E_NULL_ARGUMENT (input, output). A T=1 answer comes in parts; a
 * reader still sending parts after 64 of them is faulty: RDAX_E_FAULTY_REPLY,
 * *output holding what arrived (the same for RDAX_CommunicateSAM and
 * RDAX_TypeBCommunication). */
Q7M_EXPORT uint32_t Q7M_API RDAX_CommunicateICC(const RDAX* handle, const RdaxChipData* input,
                                                RdaxChipData* output,
                                                Q7M_HANDLE completionEvent);
/* sam RDAX_SAM_FIRST..RDAX_SAM_LAST. */
Q7M_EXPORT uint32_t Q7M_API RDAX_ActivateSAM(const RDAX* handle, uint32_t sam, uint32_t reset,
                                             RdaxChipData* answer, Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_DeactivateSAM(const RDAX* handle, uint32_t sam,
                                               Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_CommunicateSAM(const RDAX* handle, uint32_t sam,
                                                const RdaxChipData* input, RdaxChipData* output,
                                                Q7M_HANDLE completionEvent);
/* *status = RDAX_SAM_STATUS_*; RDAX_OK even when the reader refuses (status
 * RDAX_SAM_STATUS_REFUSED); a failed exchange returns its result with
 * RDAX_SAM_STATUS_NO_ANSWER. Not guarded. */
Q7M_EXPORT uint32_t Q7M_API RDAX_GetSAMStatus(const RDAX* handle, uint32_t sam, uint16_t* status,
                                              Q7M_HANDLE completionEvent);
/* type RDAX_MEMCARD_*. */
Q7M_EXPORT uint32_t Q7M_API RDAX_ActivateMemoryCard(const RDAX* handle, uint32_t type,
                                                    RdaxChipData* answer,
                                                    Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_DeactivateMemoryCard(const RDAX* handle,
                                                      Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_CommunicateMemoryCard(const RDAX* handle,
                                                       const RdaxChipData* input,
                                                       RdaxChipData* output,
                                                       Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_VerifyMemoryCard(const RDAX* handle, const RdaxChipData* input,
                                                  Q7M_HANDLE completionEvent);

/* ======== contactless cards (dispatched, guarded) ======== */

/* Switches the field on and looks for cards of `type` (RDAX_CONTACTLESS_*)
 * for up to `seconds` (0 to 99); fills the counts and the card entries of
 * *cards, whose mark must be RDAX_CONTACTLESS_MARK. RDAX_E_NULL_ARGUMENT
 * (cards), RDAX_E_PARAMETER (mark, type, time). */
Q7M_EXPORT uint32_t Q7M_API RDAX_ActivateContactless(const RDAX* handle, uint32_t type,
                                                     uint32_t seconds,
                                                     RdaxContactlessCards* cards,
                                                     Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_DeactivateContactless(const RDAX* handle,
                                                       Q7M_HANDLE completionEvent);
/* Authenticates `sector` (0 to 16) of Mifare card number `card` (its rank
 * among the Mifare entries of *cards) with the 6-byte key of `keyType`
 * (RDAX_MIFARE_KEY_A/B). RDAX_E_NULL_ARGUMENT (cards, key),
 * RDAX_E_PARAMETER (ranges, mark, no such card). */
Q7M_EXPORT uint32_t Q7M_API RDAX_MifareAuthenticate(const RDAX* handle,
                                                    const RdaxContactlessCards* cards,
                                                    uint8_t card, uint8_t keyType, uint8_t sector,
                                                    const uint8_t* key,
                                                    Q7M_HANDLE completionEvent);
/* Reads / writes the 16-byte block at `address` (0 to 64) of an
 * authenticated Mifare card. RDAX_E_NULL_ARGUMENT (cards, block),
 * RDAX_E_PARAMETER (ranges, no such card). */
Q7M_EXPORT uint32_t Q7M_API RDAX_MifareRead(const RDAX* handle, const RdaxContactlessCards* cards,
                                            uint8_t card, uint8_t address, uint8_t* block,
                                            Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_MifareWrite(const RDAX* handle,
                                             const RdaxContactlessCards* cards, uint8_t card,
                                             uint8_t address, const uint8_t* block,
                                             Q7M_HANDLE completionEvent);
/* Selects Type B card number `card` with optional attribute (mark
 * RDAX_TYPEB_ATTRIBUTE_MARK) and optional input data (at most 256 bytes);
 * the card's answer goes to *output. RDAX_E_NULL_ARGUMENT (cards, output),
 * RDAX_E_PARAMETER (limits, mark, no such card). TypeBCommunication
 * exchanges input (1 to RDAX_CHIP_DATA_MAX bytes) with the selected card;
 * *output keeps what arrived before a failure. */
Q7M_EXPORT uint32_t Q7M_API RDAX_TypeBAttribute(const RDAX* handle,
                                                const RdaxContactlessCards* cards, uint8_t card,
                                                const RDAX_TYPEB_ATTRIBUTE* attribute,
                                                const RdaxChipData* input, RdaxChipData* output,
                                                Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_TypeBCommunication(const RDAX* handle,
                                                    const RdaxContactlessCards* cards,
                                                    uint8_t card, const RdaxChipData* input,
                                                    RdaxChipData* output,
                                                    Q7M_HANDLE completionEvent);

/* ======== security, restriction, recovery ======== */

/* Direct, stored (warnings too): reserve the reader for this session, across
 * processes, until RDAX_EndRestriction or the session's close (a process
 * that dies gives it back). Meanwhile the exports marked guarded answer
 * RDAX_E_RESTRICTED to every other session without touching the reader.
 * RDAX_OK, RDAX_W_RESTRICTION_HELD / RDAX_W_RESTRICTION_NOT_HELD,
 * RDAX_E_RESTRICTED (another session holds it). */
Q7M_EXPORT uint32_t Q7M_API RDAX_StartRestriction(const RDAX* handle);
Q7M_EXPORT uint32_t Q7M_API RDAX_EndRestriction(const RDAX* handle);
/* Direct, guarded, stored. RDAX_E_BUSY while an operation runs. Line
 * encryption is not offered: RDAX_F_LINE once the checks pass. */
Q7M_EXPORT uint32_t Q7M_API RDAX_CreateNewSessionKey(const RDAX* handle);
/* Switches tamper / rear-destroy detection (RDAX_DETECTION_OFF/ON, else
 * RDAX_E_PARAMETER, nothing sent). Not guarded. Reads the versions ("CV0")
 * and sends the mode with the reader's mask version, which proves to the
 * reader that the command is meant for it. The reader's refusal of the
 * version query ("71", "0A", "0B", "70", "72", "18") is the result; a
 * version reply of another length than 67 bytes sets nothing and gives
 * RDAX_E_FAULTY_REPLY. */
Q7M_EXPORT uint32_t Q7M_API RDAX_SetTamperDetectionMode(const RDAX* handle, uint32_t mode,
                                                        Q7M_HANDLE completionEvent);
/* *mode = 0, 1, or -1 when the reader's answer is neither.
 * RDAX_E_NULL_ARGUMENT (mode). Not guarded. */
Q7M_EXPORT uint32_t Q7M_API RDAX_GetTamperDetectionMode(const RDAX* handle, int32_t* mode,
                                                        Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_SetRearDestroyDetectionMode(const RDAX* handle, uint32_t mode,
                                                             Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_GetRearDestroyDetectionMode(const RDAX* handle, int32_t* mode,
                                                             Q7M_HANDLE completionEvent);
/* Guarded. Clears the reader's abnormal or rear-destroyed state: both
 * recoveries send the same command, with the mask version as the setters
 * do, and answer as they do. */
Q7M_EXPORT uint32_t Q7M_API RDAX_RecoverFromAbnormalStatus(const RDAX* handle,
                                                           Q7M_HANDLE completionEvent);
Q7M_EXPORT uint32_t Q7M_API RDAX_RecoverFromRearDestroy(const RDAX* handle,
                                                        Q7M_HANDLE completionEvent);
/* The reader's watch of its host: after `monitoringTime` without a command
 * it resets itself, then every `retryTime`, `resets` times in all (the
 * emulator counts seconds; 0 switches it off). monitoring 0..99, resets
 * 0..9, retry 0..99, else RDAX_E_PARAMETER with nothing sent. Not guarded. */
Q7M_EXPORT uint32_t Q7M_API RDAX_SetHostWDTReset(const RDAX* handle, uint32_t monitoringTime,
                                                 uint32_t resets, uint32_t retryTime,
                                                 Q7M_HANDLE completionEvent);

/* ======== firmware download (dispatched, guarded) ======== */

/* Loads the firmware file `fileName` into the reader (the name is copied).
 * The file (format in docs/download-files.md) is checked whole before the
 * reader hears of the download, then the download is announced, the reader
 * reset, started and sent one block per exchange; two one-second waits. The
 * file is closed on every way out. Results: RDAX_OK, also when the reader
 * refuses a step (the download then ends early); RDAX_E_NULL_ARGUMENT;
 * RDAX_E_DOWNLOAD_FILE (not a download file, damaged, cut short, more than
 * 10 entries, block size outside 1..2048); RDAX_E_DOWNLOAD_MISMATCH (no
 * entry names the reader's mask); RDAX_F_SYSTEM (cannot be opened: last
 * error 2; cannot be read: the system's error); RDAX_W_CANCELLED; the
 * transport outcomes. */
Q7M_EXPORT uint32_t Q7M_API RDAX_ExecuteDownload(const RDAX* handle, const char* fileName,
                                                 Q7M_HANDLE completionEvent);

#ifdef __cplusplus
} /* extern "C" */

/* Resets the port of the handle's reader (not the reader itself): no lock,
 * nothing stored. RDAX_OK, RDAX_E_NULL_ARGUMENT, or the mapped outcome of
 * the port driver. Exported under its C++ name, so it is callable from C++
 * only. */
Q7M_EXPORT unsigned long Q7M_API RDAX_ResetDevice(const RDAX* handle);

static_assert(sizeof(RDAX_VERSION) == 20 && offsetof(RDAX_VERSION, revision) == 13 &&
              offsetof(RDAX_VERSION, sum) == 16);
static_assert(sizeof(RDAX_CAPABILITIES) == 48 && offsetof(RDAX_CAPABILITIES, compound) == 4 &&
              offsetof(RDAX_CAPABILITIES, fluxSensorProgrammable) == 24 &&
              offsetof(RDAX_CAPABILITIES, writeMode) == 32 &&
              offsetof(RDAX_CAPABILITIES, extraUps) == 36 &&
              offsetof(RDAX_CAPABILITIES, extraContactless) == 44);
static_assert(sizeof(RDAX_STATUS) == 16 && offsetof(RDAX_STATUS, extraSamChip) == 14);
static_assert(sizeof(RDAX_TRANSACTION_SETTING) == 16);
static_assert(sizeof(RDAX_CARD_STATUS) == 20);
static_assert(offsetof(RDAX_TRACK_DATA, length) == 12 && offsetof(RDAX_TRACK_DATA, track1) == 15 &&
              offsetof(RDAX_TRACK_DATA, track2) == 92 && offsetof(RDAX_TRACK_DATA, track3) == 130);
static_assert(sizeof(RdaxChipData) == 2056 && offsetof(RdaxChipData, data) == 8);
static_assert(sizeof(RDAX_CONTACTLESS_CARD) == 20 &&
              offsetof(RDAX_CONTACTLESS_CARD, protocolInfo) == 12);
static_assert(offsetof(RdaxContactlessCards, card) == 8 &&
              sizeof(RdaxContactlessCards) == 8 + 20 * RDAX_CONTACTLESS_MAX_CARDS &&
              sizeof(RdaxContactlessCards) == RDAX_CONTACTLESS_MARK);
static_assert(sizeof(RDAX_TYPEB_ATTRIBUTE) == RDAX_TYPEB_ATTRIBUTE_MARK &&
              offsetof(RDAX_TYPEB_ATTRIBUTE, tr0) == 12 &&
              offsetof(RDAX_TYPEB_ATTRIBUTE, maxFrameSizeCode) == 15 &&
              offsetof(RDAX_TYPEB_ATTRIBUTE, protocolType) == 18 &&
              offsetof(RDAX_TYPEB_ATTRIBUTE, cardIdentifier) == 20);
#endif /* __cplusplus */

#endif /* Q7M_RDAX_H */
