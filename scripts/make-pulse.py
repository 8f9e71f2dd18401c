#!/usr/bin/env python3
"""Writes a steady pulse as a Standard MIDI File: COUNT notes (default 16) SPACING milliseconds
apart (default 500) at 120 bpm, each 100 ms long. Standard library only.
    make-pulse.py OUT.mid [COUNT] [SPACING_MS]"""

import sys

from standard_midi_file import header, track

TICKS_PER_QUARTER = 480
MS_PER_TICK = 500.0 / TICKS_PER_QUARTER  # 120 bpm


def main():
    out, count = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 16
    spacing = float(sys.argv[3]) if len(sys.argv) > 3 else 500.0
    events = []
    for i in range(count):
        on = round(i * spacing / MS_PER_TICK)
        events += [(on, bytes([0x90, 60, 100])), (on + round(100 / MS_PER_TICK), bytes([0x80, 60, 0]))]
    events.sort(key=lambda e: e[0])
    tempo = (0, b"\xff\x51\x03\x07\xa1\x20")  # 500000 us per quarter note
    with open(out, "wb") as f:
        f.write(header(0, 1, TICKS_PER_QUARTER) + track([tempo] + events))


if __name__ == "__main__":
    main()
