#!/usr/bin/env python3
"""Writes small MIDI files that reach every part of the loader, as fuzz seeds.

usage: make_seeds.py FOLDER
"""
import os
import struct
import sys


def var_len(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def header(fmt, tracks, division):
    return b'MThd' + struct.pack('>IHHH', 6, fmt, tracks, division)


def track(events):
    return b'MTrk' + struct.pack('>I', len(events)) + events


def meta(delta, kind, data):
    return var_len(delta) + bytes([0xFF, kind]) + var_len(len(data)) + data


END = meta(0, 0x2F, b'')
NOTES = bytes([0x00, 0x90, 0x3C, 0x40, 0x60, 0x3C, 0x00, 0x00, 0xC0, 0x05, 0x81, 0x00, 0xE0, 0x00, 0x40])
CONDUCTOR = (meta(0, 0x51, b'\x07\xa1\x20') + meta(0, 0x58, b'\x04\x02\x18\x08') +
             meta(0, 0x59, b'\xfd\x01') + meta(0, 0x03, b'name') + meta(96, 0x51, b'\x0f\x42\x40'))
SYSEX = (bytes([0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7]) +
         bytes([0x00, 0xF0, 0x02, 0x43, 0x10, 0x10, 0xF7, 0x02, 0x4C, 0xF7]) +
         bytes([0x00, 0xF7, 0x02, 0xF3, 0x01]) + bytes([0x00, 0xF0, 0x01, 0x41, 0x00, 0x91, 0x30, 0x30]))


def riff(smf):
    data = b'data' + struct.pack('<I', len(smf)) + smf + (b'\x00' if len(smf) % 2 else b'')
    info = b'LIST' + struct.pack('<I', 5) + b'INFOa\x00'
    body = b'RMID' + info + data
    return b'RIFF' + struct.pack('<I', len(body)) + body


SEEDS = {
    'format0.mid': header(0, 1, 96) + track(CONDUCTOR + NOTES + SYSEX + END),
    'format1.mid': header(1, 3, 480) + track(CONDUCTOR + END) + track(NOTES + END) + track(SYSEX + END),
    'format2.mid': header(2, 2, 96) + track(NOTES + END) + track(CONDUCTOR + NOTES + END),
    'smpte.mid': header(0, 1, 0xE350) + track(CONDUCTOR + NOTES + END),
    'riff.rmi': riff(header(1, 2, 192) + track(CONDUCTOR + END) + track(NOTES + END)),
    'damaged.mid': header(1, 3, 96) + b'MTrk\x00\x00\x00\x04' + NOTES + b'Junk\x00\x00\x00\x01x' +
                   track(bytes([0x00, 0xF1, 0x10, 0x00, 0xF4])) + b'MTrk\x01\x00\x00\x00' + NOTES,
}


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, content in SEEDS.items():
        with open(os.path.join(folder, name), 'wb') as out:
            out.write(content)


if __name__ == '__main__':
    main()
