#!/usr/bin/env python3
"""Checks brisolde-inspect against mido, an independent MIDI file reader, on
well-formed files: every event's music time, real time, track and bytes.

usage: compare_with_mido.py INSPECT FILE_OR_FOLDER...
Files that mido refuses, or that the loader warns about, are skipped: on damaged
files the two readers are allowed to differ.
"""
import os
import subprocess
import sys
from fractions import Fraction

import mido

KEPT_META = {0x01, 0x02, 0x03, 0x05, 0x06, 0x07, 0x2F, 0x51, 0x58, 0x59}


def expected_lines(path):
    midi = mido.MidiFile(path, clip=True)
    division = midi.ticks_per_beat
    if division & 0x8000:
        return None  # mido has no SMPTE timing
    events = []
    for index, track in enumerate(midi.tracks):
        tick = 0
        for message in track:
            tick += message.time
            events.append((tick, index, message))
    if midi.type == 2:
        return None  # mido does not chain format 2 tracks
    events.sort(key=lambda e: e[0])  # stable: equal ticks keep track order
    tempos = sorted(((t, m.tempo) for t, _, m in events
                     if m.is_meta and m.type == 'set_tempo' and m.tempo > 0), key=lambda e: e[0])
    lines = []
    for tick, index, message in events:
        if message.is_meta:
            data = message.bytes()
            if data[1] not in KEPT_META:
                continue
            # FF, type, then the data without its length.
            length_bytes = 1
            while data[1 + length_bytes] & 0x80:
                length_bytes += 1
            data = data[:2] + data[2 + length_bytes:]
        else:
            data = message.bytes()
        lines.append('%d %d %d %s' % (tick * 768 // division, real_time(tick, tempos, division),
                                      index, ' '.join('%02X' % b for b in data)))
    return lines


def escape_as_mido(line):
    """mido wraps the bytes of an F7 escape in F0 ... F7; so does this, to compare."""
    fields = line.split()
    if len(fields) > 3 and fields[3] not in ('FF', 'F0') and not 0x80 <= int(fields[3], 16) < 0xF0:
        return ' '.join(fields[:3] + ['F0'] + fields[3:] + ['F7'])
    return line


def real_time(tick, tempos, division):
    elapsed = Fraction(0)
    last_tick, tempo = 0, 500000
    for change_tick, change_tempo in tempos:
        if change_tick > tick:
            break
        elapsed += Fraction((change_tick - last_tick) * tempo, division)
        last_tick, tempo = change_tick, change_tempo
    elapsed += Fraction((tick - last_tick) * tempo, division)
    return elapsed.numerator // elapsed.denominator


def main():
    inspect = sys.argv[1]
    paths = []
    for target in sys.argv[2:]:
        if os.path.isdir(target):
            for root, _, names in os.walk(target):
                paths += [os.path.join(root, n) for n in names
                          if n.lower().endswith(('.mid', '.midi', '.kar'))]
        elif os.path.exists(target):
            paths.append(target)
    if not paths:
        print('no files to compare; skipped')
        return 0
    compared = failures = 0
    for path in sorted(paths):
        run = subprocess.run([inspect, path], capture_output=True, text=True)
        if run.returncode != 0 or run.stderr:
            continue
        try:
            expected = expected_lines(path)
        except Exception:  # mido refuses it: damaged on purpose
            continue
        if expected is None:
            continue
        header = run.stdout.splitlines()[0].split()
        if int(header[3]) != len(mido.MidiFile(path, clip=True).tracks):
            continue  # mido gave up on some tracks
        compared += 1
        actual = [escape_as_mido(line) for line in run.stdout.splitlines()[2:]]
        if actual != expected:
            failures += 1
            for i, (a, e) in enumerate(zip(actual + [''] * len(expected), expected + [''] * len(actual))):
                if a != e:
                    print('%s: line %d: got %r, mido says %r' % (path, i + 3, a, e))
                    break
    print('%d files compared, %d differ' % (compared, failures))
    return 1 if failures or compared == 0 else 0


if __name__ == '__main__':
    sys.exit(main())
