#!/usr/bin/env python3
"""Writes demo/brisolde-demo.mid: a short piece made for Brisolde.

Format 1, a conductor track and four instrument tracks (piano melody, bass,
string pad, drums), 96 ticks per quarter note, 104 beats per minute with a
slight slow-down at the end. About 20 seconds long.
"""
import struct
import sys

PPQ = 96


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def track(events):
    """events: list of (tick, bytes); written sorted, with an end of track."""
    events = sorted(events, key=lambda e: (e[0], e[2] if len(e) > 2 else 0))
    data = bytearray()
    now = 0
    for ev in events:
        tick, payload = ev[0], ev[1]
        data += vlq(tick - now) + payload
        now = tick
    data += vlq(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + bytes(data)


def meta(kind, payload):
    return bytes([0xFF, kind]) + vlq(len(payload)) + payload


def note(events, ch, start, length, key, vel):
    events.append((start, bytes([0x90 | ch, key, vel]), 1))
    events.append((start + length, bytes([0x80 | ch, key, 0]), 0))


def name(text):
    return (0, meta(0x03, text.encode()), -1)


BAR = 4 * PPQ
# C major - A minor - F major - G major, twice, then a C ending.
chords = [(60, 64, 67), (57, 60, 64), (53, 57, 60), (55, 59, 62)] * 2 + [(60, 64, 67)]
bass_roots = [36, 33, 29, 31] * 2 + [36]
melody = [
    # (beat offset within the piece in eighths, length in eighths, key)
    (0, 2, 72), (2, 1, 74), (3, 1, 76), (4, 2, 79), (6, 2, 76),
    (8, 3, 77), (11, 1, 76), (12, 2, 74), (14, 2, 72),
    (16, 2, 69), (18, 2, 72), (20, 3, 77), (23, 1, 76),
    (24, 2, 74), (26, 2, 71), (28, 4, 67),
    (32, 2, 72), (34, 1, 74), (35, 1, 76), (36, 2, 79), (38, 2, 81),
    (40, 3, 79), (43, 1, 77), (44, 2, 76), (46, 2, 72),
    (48, 2, 69), (50, 2, 72), (52, 2, 74), (54, 2, 77),
    (56, 2, 79), (58, 2, 77), (60, 2, 74), (62, 2, 71),
    (64, 8, 72),
]

conductor = [
    (0, meta(0x03, b"Brisolde demo"), -1),
    (0, meta(0x02, b"Made for Brisolde, free to use"), -1),
    (0, meta(0x58, bytes([4, 2, 24, 8])), -1),
    (0, meta(0x59, bytes([0, 0])), -1),
    (0, meta(0x51, (576923).to_bytes(3, "big")), -1),  # 104 bpm
    (8 * BAR, meta(0x51, (652174).to_bytes(3, "big")), -1),  # 92 bpm for the last bar
]

piano = [name("Piano"), (0, bytes([0xC0, 0])), (0, bytes([0xB0, 7, 100])),
         (0, bytes([0xB0, 10, 72])), (0, bytes([0xB0, 91, 40]))]
for start, length, key in melody:
    note(piano, 0, start * PPQ // 2, length * PPQ // 2 - 6, key, 96)
piano.append((0, meta(0x01, b"melody"), -1))

bass = [name("Bass"), (0, bytes([0xC1, 33])), (0, bytes([0xB1, 7, 110])),
        (0, bytes([0xB1, 10, 56]))]
for bar, root in enumerate(bass_roots):
    if bar == 8:
        note(bass, 1, bar * BAR, BAR - 12, root, 100)
        continue
    for beat, offset in enumerate((0, 0, 7, 12)):
        note(bass, 1, bar * BAR + beat * PPQ, PPQ - 10, root + offset, 96 if beat == 0 else 84)

pad = [name("Strings"), (0, bytes([0xC2, 48])), (0, bytes([0xB2, 7, 70])),
       (0, bytes([0xB2, 10, 90])), (0, bytes([0xB2, 91, 80]))]
for bar, chord in enumerate(chords):
    for key in chord:
        note(pad, 2, bar * BAR, BAR - 4, key, 64)
# a gentle swell on the pad with the expression controller
for bar in range(len(chords)):
    for step in range(4):
        pad.append((bar * BAR + step * PPQ, bytes([0xB2, 11, 90 + step * 10]), -1))

drums = [name("Drums"), (0, bytes([0xB9, 7, 100]))]
for bar in range(8):
    for eighth in range(8):
        t = bar * BAR + eighth * PPQ // 2
        note(drums, 9, t, 20, 42, 70 if eighth % 2 else 90)  # closed hi-hat
        if eighth in (0, 4):
            note(drums, 9, t, 30, 36, 110)  # bass drum
        if eighth in (2, 6):
            note(drums, 9, t, 30, 38, 100)  # snare
note(drums, 9, 8 * BAR, 60, 49, 110)  # crash on the last chord
note(drums, 9, 8 * BAR, 60, 36, 110)

tracks = [conductor, piano, bass, pad, drums]
out = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), PPQ)
for t in tracks:
    out += track([(e[0], e[1], e[2] if len(e) > 2 else 0) for e in t])
path = sys.argv[1] if len(sys.argv) > 1 else "demo/brisolde-demo.mid"
with open(path, "wb") as f:
    f.write(out)
print(f"{path}: {len(out)} bytes")
