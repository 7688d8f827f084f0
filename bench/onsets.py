#!/usr/bin/env python3
"""Onset accuracy of a renderer against the tempo map's ideal times.

  onsets.py make HITS.mid            writes a file of isolated percussion hits
  onsets.py measure HITS.mid OUT.wav prints how far each onset lies from its ideal frame

The hits fall between 64-frame blocks on purpose. Each hit is a side stick on
the percussion channel, a second apart, so that every onset stands alone.
"""
import struct
import sys
import wave

RATE = 44100
PPQ = 480
TEMPO = 500000  # 120 beats per minute: a tick is 500000/480 us
# Tick offsets chosen so that the hits land at odd places inside blocks.
OFFSETS = [0, 7, 13, 29, 41, 53, 67, 83, 97, 101, 113, 127, 139, 151, 163, 179]


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def hit_ticks():
    # One hit every two beats plus an offset.
    return [i * 2 * PPQ + off for i, off in enumerate(OFFSETS)]


def ideal_frame(tick):
    us = tick * TEMPO / PPQ
    return us * RATE / 1e6


def make(path):
    data = bytearray(b"\x00\xff\x51\x03" + TEMPO.to_bytes(3, "big"))
    now = 0
    for t in hit_ticks():
        data += vlq(t - now) + bytes([0x99, 37, 127])
        data += vlq(24) + bytes([0x89, 37, 0])
        now = t + 24
    data += vlq(PPQ * 4) + b"\xff\x2f\x00"
    smf = b"MThd" + struct.pack(">IHHH", 6, 0, 1, PPQ)
    smf += b"MTrk" + struct.pack(">I", len(data)) + bytes(data)
    with open(path, "wb") as f:
        f.write(smf)


def measure(mid, wav_path):
    with wave.open(wav_path) as w:
        assert w.getframerate() == RATE, "render at 44100 Hz"
        channels = w.getnchannels()
        width = w.getsampwidth()
        raw = w.readframes(w.getnframes())
    count = len(raw) // (width * channels)
    fmt = {2: "h", 4: "i"}[width]
    samples = struct.unpack("<%d%s" % (count * channels, fmt), raw)
    left = samples[0::channels]
    errors = []
    search_from = 0
    for tick in hit_ticks():
        ideal = ideal_frame(tick)
        start = max(search_from, int(ideal) - RATE // 4)
        onset = next((i for i in range(start, min(len(left), int(ideal) + RATE // 2))
                      if left[i] != 0), None)
        if onset is None:
            print("missing hit at frame %.1f" % ideal)
            sys.exit(1)
        errors.append(onset - ideal)
        # Skip past this hit's sound before looking for the next.
        search_from = int(ideal) + RATE // 2
    worst = max(abs(e) for e in errors)
    mean = sum(errors) / len(errors)
    print("hits %d  mean offset %+.1f frames  worst %.1f frames  (%s)" %
          (len(errors), mean, worst, " ".join("%+.0f" % e for e in errors)))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "measure":
        measure(sys.argv[2], sys.argv[3])
    else:
        print(__doc__)
        sys.exit(2)
