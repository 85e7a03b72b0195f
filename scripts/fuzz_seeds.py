#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets whose seeds are made rather
than copied: realistic inputs as the reader, the emulator's HID bus device,
the serial line and the project's own configuration files have them. Run
from the top of the tree; it rewrites the files it owns and leaves any other
seed (crash inputs kept for regression) alone."""
import os
import struct

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def write(folder, name, data):
    path = os.path.join(TOP, folder, 'corpus', name.split('/')[0])
    os.makedirs(path, exist_ok=True)
    if isinstance(data, str):
        data = data.encode('latin-1')
    with open(os.path.join(path, name.split('/')[1]), 'wb') as f:
        f.write(data)


def b(text):
    return text.encode('latin-1') if isinstance(text, str) else bytes(text)


# ---- the reader's replies (cardapi/fuzz, target replies) ----
# Input: operation, four argument bytes, then each reply as a 16-bit
# big-endian length and its bytes (an empty reply is a time-out).

def reply(*parts):
    return b''.join(b(p) for p in parts)


def replies(operation, args, *answers):
    out = bytes([operation]) + bytes(args)
    for a in answers:
        a = b(a)
        out += struct.pack('>H', len(a)) + a
    return out


MASK = 'MASK0001TYPE' + '01' + '123456'
LOADER = 'LOADER01    ' + '02' + '0000AB'
FIRMWARE = 'FIRMWARE0003' + '03' + '89ABCDEF'
V0 = 'PV000' + MASK + LOADER + FIRMWARE  # 67 bytes, as the security commands need
assert len(V0) == 67
CAPS = 'PN000' + '000' + '111' + '0' + '3' + '0' * 12 + '1' + '11000'
COUNTERS = 'PM000' + ''.join('%08d' % (k * 1111) for k in range(20))


MIFARE_BLOCK = bytes([1]) + b'\0' * 4 + b'\xCA\xFE\x00\x01' + b'\0' * 8
TYPEB_BLOCK = bytes([2]) + b'\x0B\x0B\x0B\x0B' + b'\x11\x22\x33\x44' + b'\0' * 5 + b'\x71\x81\x81'
assert len(MIFARE_BLOCK) == 17 and len(TYPEB_BLOCK) == 17

R = 'cardapi/fuzz'
seeds = {
    'capabilities.bin': replies(0, [0, 0, 0, 0], CAPS),
    'status_card_inside.bin': replies(1, [0, 0, 0, 0], 'P1000', 'P1101', CAPS),
    'status_refused_hardware.bin': replies(1, [0, 0, 0, 0], 'N10B0'),
    'sensor_levels.bin': replies(2, [0, 0, 0, 0], 'PL00012345678'),
    'version_firmware.bin': replies(3, [2, 0, 0, 0], V0),
    'version_chip.bin': replies(3, [3, 0, 0, 0], 'PV100ICFW00000001' + '01' + '00C0FFEE'),
    'serial_number.bin': replies(4, [0, 0, 0, 0], 'PUE00' + 'Q7M-MODEL-20'.ljust(20) + '123456'),
    'model_number_refused_00.bin': replies(5, [0, 0, 0, 0], 'NUE00'),
    'error_counts.bin': replies(6, [0, 0, 0, 0], COUNTERS),
    'action_counts_short.bin': replies(7, [0, 0, 0, 0], COUNTERS[:30]),
    'icc_standard.bin': replies(8, [0, 0, 0, 0], 'PY000' + '05' + '00000' + '??'),
    'set_standard.bin': replies(10, [5, 0, 0, 0], 'PY600'),
    'initial_reset_retried.bin': replies(12, [0, 0, 0, 0], '', 'E', 'P0000'),
    'monitor_card_status.bin': replies(14, [30, 0, 0, 0], 'P9200' + '10020'),
    'mag_tracks_all.bin': replies(15, [7, 0, 0, 0],
                                  'P6a00' + '7' + '00' + '00' + '40' + '016' + '011' + '000'
                                  + '%B4111111111111' + '1' + ';4111111111'),
    # Undefined behaviour once: an empty track last, its data at the reply's end.
    'mag_empty_last_track.bin': replies(15, [3, 0, 0, 0], 'P6a003' + '00' + '00' + '004' + '000' + 'ABCD'),
    'mag_track_46.bin': replies(15, [1, 0, 0, 0], 'P6a00' + '1' + '46' + '004' + 'AB?C'),
    'activate_icc.bin': replies(17, [1, 0, 0, 0], reply('PG100', '1', b'\x3B\x65\x00\x00\x9C\x02\x02\x01\x02')),
    'icc_t0_exchange.bin': replies(19, [1, 0, 5, 0], reply('PF000', b'\x6F\x0A\x84\x08\x90\x00')),
    'icc_t1_chain.bin': replies(19, [2, 1, 0x70, 0], reply('PF222'), reply('PF121', b'\x01' * 40),
                                reply('PF321', b'\x02' * 40), reply('PF320', b'\x90\x00')),
    'activate_sam.bin': replies(20, [1, 1, 0, 0], reply('Pe300', '10', '1', b'\x3B\x02\x14\x50')),
    'sam_t1_chain.bin': replies(22, [1, 0, 8, 2], reply('Pf100', '51', b'\xAA' * 20),
                                reply('Pf300', '50', b'\x90\x00')),
    'sam_status.bin': replies(23, [1, 0, 0, 0], 'Pe000' + '40'),
    'memory_card.bin': replies(24, [2, 0, 0, 0], reply('Pm500', b'\xA2\x13\x10\x91')),
    'memory_card_exchange.bin': replies(25, [2, 0, 3, 0], reply('Pm700', b'\x00\x11\x22')),
    'activate_contactless.bin': replies(27, [2, 5, 0, 0],
                                        reply('Pn000', '00', '010100', MIFARE_BLOCK, TYPEB_BLOCK)),
    'mifare_read.bin': replies(30, [0, 4, 0, 0], reply('Pn200', '01', bytes(range(16)))),
    'typeb_attribute.bin': replies(32, [0, 3, 4, 0], reply('Pn300', b'\x00\x00\x00\x04', b'\x50\x0B\x0B\x0B')),
    'typeb_chain.bin': replies(33, [0, 0, 8, 0], reply('Pn300', '71', b'\x00\x04', b'\x01\x02\x03\x04'),
                               reply('Pn300', '70', b'\x00\x02', b'\x90\x00')),
    'set_tamper_mode.bin': replies(34, [1, 0, 0, 0], V0, 'PSX00'),
    'get_tamper_mode.bin': replies(35, [0, 0, 0, 0], 'PSY00' + '1'),
    'recovery_short_version.bin': replies(36, [0, 0, 0, 0], V0[:40]),
    'host_watchdog.bin': replies(37, [30, 3, 10, 0], 'PW900'),
    'download.bin': replies(38, [0, 0, 0, 0], V0, 'Pd300', 'P0000', 'Pd000', 'Pd100', 'Pd100',
                            'Pd100', 'Pd200'),
    'late_answer_passed_over.bin': replies(0, [0, 0, 0, 0], 'P1000', CAPS),
}
for name, data in seeds.items():
    write(R, 'replies/' + name, data)

# ---- USB HID input reports (portdrv/fuzz, target input_report) ----
# Input: report length choice (< 0x80: index into the reader's sizes, else
# the low bits), caller buffer choice, key flag, then reports as above.
SIZES = [4, 12, 20, 36, 76, 140, 268, 372, 2068]


def report_id(used):
    for i, size in enumerate(SIZES[:8]):
        if size >= used:
            return i + 1
    return 9


def plain_report(message, length_field=None):
    message = b(message)
    rid = report_id(len(message) + 3)
    field = len(message) if length_field is None else length_field
    return (bytes([rid]) + struct.pack('>H', field) + message).ljust(SIZES[rid - 1], b'\0')


def reports(size_choice, caller_choice, flags, *items):
    out = bytes([size_choice, caller_choice, flags])
    for item in items:
        out += struct.pack('>H', len(item)) + item
    return out


P = 'portdrv/fuzz'
hid = {
    'plain_answers.bin': reports(8, 6, 0, plain_report('P1000'), plain_report(CAPS)),
    'raw_id_zero.bin': reports(1, 6, 0, b'\0' + b'P0000'.ljust(11, b'\0')),
    'zero_length.bin': reports(2, 6, 0, plain_report('P1000', 0)),
    'long_length.bin': reports(1, 6, 0, plain_report('P10', 10)),
    'cut_to_caller.bin': reports(4, 3, 0, plain_report(COUNTERS[:60])),
    'encrypted.bin': reports(8, 6, 1, (b'\x03' + struct.pack('>H', 17) + b'D'
                                       + struct.pack('>H', 5) + b'P1000' + b'\x5A' * 9).ljust(20, b'\0')),
    'encrypted_inner_too_long.bin': reports(8, 6, 1, (b'\x03' + struct.pack('>H', 9) + b'D'
                                                      + struct.pack('>H', 7) + b'P1000\0').ljust(12, b'\0')),
    'small_device.bin': reports(0x84, 4, 0, b'\x01\x00\x01P'),
    'short_report.bin': reports(8, 6, 0, b'\x01\x00'),
}
for name, data in hid.items():
    write(P, 'input_report/' + name, data)

# ---- the serial line (portdrv/fuzz, target serial_receiver) ----
# Input: line-error plan, then the bytes the reader sends.
DLE, STX, ETX, EOT, ENQ, ACK, NAK = 0x10, 0x02, 0x03, 0x04, 0x05, 0x06, 0x15


def frame(message, bcc=None):
    message = b(message)
    body = message.replace(bytes([DLE]), bytes([DLE, DLE]))
    check = ETX
    for c in message:
        check ^= c
    return bytes([DLE, STX]) + body + bytes([DLE, ETX, check if bcc is None else bcc])


serial = {
    'ack.bin': bytes([0, DLE, ACK]),
    'nak.bin': bytes([0, DLE, NAK]),
    'eot.bin': bytes([0, DLE, EOT]),
    'enq.bin': bytes([0, DLE, ENQ]),
    'ack_then_answer.bin': bytes([0, DLE, ACK]) + frame('P1000'),
    'answer_with_dle.bin': bytes([0]) + frame(reply('PF000', b'\x10\x90\x00\x10')),
    'bad_bcc.bin': bytes([0]) + frame('P1000', bcc=0x55),
    'noise_before_frame.bin': bytes([0, 0xFF, 0x00, 0x41, DLE, 0x41]) + frame('N1040'),
    'line_errors.bin': bytes([0x5A, DLE, ACK]) + frame('P1000'),
    'frame_longer_than_buffer.bin': bytes([0]) + frame(COUNTERS),
    'cut_short.bin': bytes([0]) + frame('P1000')[:6],
}
for name, data in serial.items():
    write(P, 'serial_receiver/' + name, data)

# ---- the virtual HID bus (portdrv/hid/fuzz) ----
# The emulator's report descriptor: vendor page, one collection, a report of
# each size up to the device's lengths.


def descriptor(input_length, output_length):
    out = bytes([0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08])
    for kind, limit in ((0x81, input_length), (0x91, output_length)):
        for rid, size in enumerate(SIZES, 1):
            if size > limit:
                break
            count = size - 1
            out += bytes([0x85, rid, 0x96, count & 0xFF, count >> 8, 0x09, 0x01, kind, 0x02])
    return out + bytes([0xC0])


H = 'portdrv/hid/fuzz'
write(H, 'report_descriptor/largest_reports.bin', descriptor(2068, 2068))
write(H, 'report_descriptor/small_reports.bin', descriptor(76, 36))
write(H, 'report_descriptor/unnumbered.bin', bytes([0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                                    0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01,
                                                    0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0]))
write(H, 'report_descriptor/feature_and_long_item.bin',
      descriptor(12, 12)[:-1] + bytes([0x85, 0x0A, 0x95, 0x08, 0x09, 0x01, 0xB1, 0x02, 0xFE, 0x02, 0x01, 0xAA, 0xBB, 0xC0]))
write(H, 'report_descriptor/cut_short.bin', descriptor(372, 372)[:40])


def accept(manufacturer, product, serial_number, desc, input_length=2068, output_length=2068,
           vendor=0x0590, product_id=0x0034):
    head = b'QHBA' + struct.pack('<HHHHHHHHHHHH', 1, 0, vendor, product_id, 0x0100, input_length,
                                  output_length, 0, len(manufacturer), len(product), len(serial_number),
                                  len(desc))
    assert len(head) == 28
    return head + b(manufacturer) + b(product) + b(serial_number) + desc


write(H, 'bus_answer/accept.bin', accept('Q7M', 'Card Reader', '000001', descriptor(2068, 2068)))
write(H, 'bus_answer/accept_no_descriptor.bin', accept('Q7M', 'Card Reader', '000002', b'', 76, 36))
write(H, 'bus_answer/accept_control_characters.bin', accept('Q7M\x01', 'Reader\x7f', '00\n003', b''))
write(H, 'bus_answer/refuse_busy.bin', b'QHBR' + struct.pack('<HH', 0, 1))
write(H, 'bus_answer/refuse_too_many.bin', b'QHBR' + struct.pack('<HH', 0, 4))
write(H, 'bus_answer/accept_cut_short.bin', accept('Q7M', 'Card Reader', '000001', descriptor(76, 76))[:60])

# ---- configuration text (platform/fuzz) ----
# ini_text: 8 bytes of names (section, then key, half each), then the file.
PL = 'platform/fuzz'
SCRIBEL = ('; SCRIBEL.INI\r\n[SCRIBEL]\r\nFILEPATH=$EXEPATH           ; the ring lives beside the program\r\n'
           'FILENAME=q7m-trace.log\r\nRECORDLENGTH=120\r\nMAXRECORD=20000\r\nFILEFLUSH=OFF\r\n\r\n'
           '[RDAX]\r\nTRACE=0xFFFFFFFF\r\n\r\n[SEQUOR]\r\nTRACE=0x00000006\r\n\r\n'
           '[PDLNK]\r\nTRACE=0x00000006\r\nFILENAME=pdlnk.log\r\n')
PDLNK = '[COM3]\nDevicePath=/dev/pts/7\nBaudRate=38400\n\n[USB]\nFilter=0x0590.0x0034 0x04A4.\n'
SCENARIO = ('[Simulator]\nReaders=front\n\n[front]\nLink=serial\nPdlnkIni=PDLNK.INI\nComPort=3\n'
            'CardPosition=inside\nTrack1=%B4111111111111111^DOE/JOHN^2512101000000000?\n'
            'Contactless1=mifare uid=CAFE0001 block.4=00112233445566778899AABBCCDDEEFF\n')
write(PL, 'ini_text/scribel.ini', 'RDAXTRAC' + SCRIBEL)
write(PL, 'ini_text/scribel_trace.ini', 'PDLNTRAC' + SCRIBEL)
write(PL, 'ini_text/pdlnk.ini', 'COM3Devi' + PDLNK)
write(PL, 'ini_text/scenario.ini', 'fronTrac' + SCENARIO)
write(PL, 'ini_text/quoted_and_blank.ini', 'SECTKEY ' + '[ SECT ]\r\n  KEY = "quoted value" \r\n\r\nKEY2=\r\n[SECT')
write(PL, 'ini_text/unterminated.ini', 'ABCDEFGH' + '[A\nB=1\n[C]D')

REG5 = ('Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q7M\\Trace]\r\n'
        '"FilePath"="/var/log/q7m"\r\n"Trace"=dword:0000001f\r\n')
write(PL, 'reg_text/trace_v5.reg', REG5)
write(PL, 'reg_text/trace_utf16.reg', b'\xff\xfe' + REG5.encode('utf-16-le'))
write(PL, 'reg_text/regedit4.reg', 'REGEDIT4\n\n[HKLM\\SOFTWARE\\Q7M\\Trace]\n"Name"="registry.log"\n'
      '"Length"=dword:00000010\n@="default"\n')
write(PL, 'reg_text/deletes_and_hex.reg', REG5 + '\r\n[-HKEY_CURRENT_USER\\Software\\Old\\\\Key\\]\r\n'
      '[HKCU\\Software\\Q7M]\r\n"Gone"=-\r\n"Blob"=hex:01,02,03,\\\r\n  04,05\r\n"Esc"="a\\"b\\\\c"\r\n')
write(PL, 'reg_text/surrogates_utf16.reg', b'\xff\xfe' + ('REGEDIT4\r\n[HKU\\S]\r\n"N"="\U0001F600"\r\n').encode('utf-16-le') + b'\x00\xd8')

# ---- RigTool (tester/fuzz) ----
T = 'tester/fuzz'
for name, text in {
    'command.txt': 'C00', 'apdu.txt': '{00 A4 04 00}', 'mixed.txt': 'AB{0D}',
    'commas.txt': '{1,2,3}', 'unclosed.txt': '{00 A4', 'single_digit.txt': '{0}',
    'decimal.txt': '1234', 'hex_number.txt': '0x1F', 'negative.txt': '-5',
    'large_number.txt': '99999999999999999999', 'empty.txt': '',
}.items():
    write(T, 'parameter_text/' + name, text)
LINES = ['GetCapabilities|||||\r\n', 'GetVersion|2||||\r\n', 'BlinkLED|3|2|||\r\n',
         'CommunicateIcc|2|{00 A4 04 00 07 A0 00 00 00 03 10 10}|||\r\n',
         'SendCommand|C00|3|5||\r\r\n', 'GetStatus\n', 'Unknown|a|b|c|d|e|f\r\n', '|||||\r\n']
for i, line in enumerate(LINES):
    write(T, 'list_line/line%02d.txt' % i, line)
