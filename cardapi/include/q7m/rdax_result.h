/*
 * q7m/rdax_result.h - the result codes of the card-reader API libRDAX.so.
 *
 * A result is a 32-bit unsigned value whose top two bits give its severity:
 * 00 success or information, 01 warning, 10 error, 11 fatal. Besides the
 * codes named here, the reader's own two-character error codes become
 * results of the forms 0x44xxxxxx (warning) and 0x84xxxxxx (error); the
 * table is documented with RDAX_SendCommand in q7m/rdax.h.
 */
#ifndef Q7M_RDAX_RESULT_H
#define Q7M_RDAX_RESULT_H

#define RDAX_SEVERITY(result) (((uint32_t)(result)) >> 30)
#define RDAX_SEVERITY_SUCCESS 0u
#define RDAX_SEVERITY_WARNING 1u
#define RDAX_SEVERITY_ERROR 2u
#define RDAX_SEVERITY_FATAL 3u

/* ---- the frame's own codes ---- */
#define RDAX_OK 0x00000000u
/* The request was accepted and runs on a worker thread: the completion
 * event will be signalled, the result is collected with RDAX_GetResult. */
#define RDAX_I_ASYNC_STARTED 0x00000001u
/* Cancelled by RDAX_Cancel, or the reader answered with the cancel reply. */
#define RDAX_W_CANCELLED 0x40000000u
/* RDAX_StartRestriction: this session holds the restriction already. */
#define RDAX_W_RESTRICTION_HELD 0x43000000u
/* RDAX_EndRestriction: this session does not hold the restriction. */
#define RDAX_W_RESTRICTION_NOT_HELD 0x43000001u
/* An argument value is out of range or inconsistent. */
#define RDAX_E_PARAMETER 0x82000000u
/* Null handle or null required pointer. */
#define RDAX_E_NULL_ARGUMENT 0x82000001u
#define RDAX_E_NO_DEVICE 0x83000000u
/* Communication time-out or line failure. */
#define RDAX_E_COMMUNICATION 0x83000001u
/* An operation is still running on this device (this or another process). */
#define RDAX_E_BUSY 0x83000002u
/* Another session holds the restriction of the reader. */
#define RDAX_E_RESTRICTED 0x83000003u
/* The reader's reply was faulty or too long. */
#define RDAX_E_FAULTY_REPLY 0x84030001u
/* A system call failed; Q7M_GetLastError() tells why (14: out of memory,
 * 155: no thread could be started, ...). */
#define RDAX_F_SYSTEM 0xC1000000u
/* Line error; also the answer of an operation this build does not offer. */
#define RDAX_F_LINE 0xC1000002u
/* The device is not connected or does not answer. */
#define RDAX_F_NOT_CONNECTED 0xC3000001u

/* ---- results made from reader error codes (the most useful ones) ---- */
/* An error code the table does not know. */
#define RDAX_E_READER_UNKNOWN 0x84000000u
/* "00" to "03": command not understood / parameter refused / ... */
#define RDAX_W_READER_COMMAND_00 0x44030000u
#define RDAX_W_READER_COMMAND_01 0x44030001u
#define RDAX_W_READER_COMMAND_02 0x44030002u
#define RDAX_W_READER_COMMAND_03 0x44030003u
/* "40" to "4F" in a track result: track read warnings; "46" still delivers
 * the track's data. */
#define RDAX_W_TRACK_FIRST 0x44040000u
#define RDAX_W_TRACK_LAST 0x4404000Fu
#define RDAX_W_TRACK_46 0x44040006u
/* "87": chip activated with a deviating answer to reset. */
#define RDAX_W_ICC_ATR_87 0x44050005u
/* "18": the reader reports a hardware fault. */
#define RDAX_F_READER_HARDWARE 0xC3000002u
#define RDAX_F_READER_DOWN 0xC3000000u
/* "70", "72": refused in this state (accepted by the download). */
#define RDAX_E_READER_70 0x84020000u
#define RDAX_E_READER_72 0x84020001u
/* "19", "71": ... and the further 0x8401xxxx codes of the device status. */
#define RDAX_E_READER_71 0x84010000u
/* "1Y", "1Z", "1H", "1J". */
#define RDAX_E_READER_1Y 0x84010007u
#define RDAX_E_READER_1Z 0x8401000Cu
#define RDAX_E_READER_1H 0x8401000Au
#define RDAX_E_READER_1J 0x8401000Bu
/* Firmware download: not a download file / image for another reader. */
#define RDAX_E_DOWNLOAD_FILE 0x84080001u
#define RDAX_E_DOWNLOAD_MISMATCH 0x84080002u

#endif /* Q7M_RDAX_RESULT_H */
