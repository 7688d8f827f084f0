#!/usr/bin/env python3
"""Writes a dense MIDI file for the real-time benchmarks.

  dense.py OUT.mid [SECONDS] [TRACKS]

TRACKS tracks (120 by default) each play a note every tick for SECONDS
seconds (10 by default), at 840 ticks per quarter and 120 beats per minute:
1680 note ons a second per track, 201,600 a second with 120 tracks. Each note
lasts one tick (0.6 ms, shorter than a 64-frame block), on keys that move, on
the fifteen melodic channels, each with an instrument of its own.
"""
import struct
import sys

PPQ = 840
TEMPO = 500000


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def track(index, ticks):
    channel = [c for c in range(16) if c != 9][index % 15]
    data = bytearray()
    if index == 0:
        data += b"\x00\xff\x51\x03" + TEMPO.to_bytes(3, "big")
    data += bytes([0x00, 0xC0 | channel, (channel * 8) % 128])
    on = 0x90 | channel
    for tick in range(ticks):
        key = 36 + (index * 7 + tick * 5) % 60
        # On at this tick, off one tick later (running status, velocity 0).
        data += (b"\x00" if tick == 0 else b"") + bytes([on, key, 100])
        data += b"\x01" + bytes([key, 0])
        if tick + 1 < ticks:
            data += b"\x00"
    data += b"\x00\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + bytes(data)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        sys.exit(2)
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    tracks = int(sys.argv[3]) if len(sys.argv) > 3 else 120
    ticks = int(seconds * PPQ * 1000000 / TEMPO)
    with open(sys.argv[1], "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 1, tracks, PPQ))
        for i in range(tracks):
            f.write(track(i, ticks))


if __name__ == "__main__":
    main()
