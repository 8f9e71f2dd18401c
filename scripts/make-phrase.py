#!/usr/bin/env python3
"""Writes demo/phrase.mid, the short phrase the demo plays: a Standard MIDI File of format 1
with a tempo track (120 bpm, slowing to 90 for the last bar, so the tempo map matters) and one
note track on channel 1. Standard library only; the file is committed, this is how it was made."""

import pathlib
import struct

from standard_midi_file import header, track

TICKS_PER_QUARTER = 480


def tempo(tick, bpm):
    return tick, b"\xff\x51\x03" + struct.pack(">I", round(60_000_000 / bpm))[1:]


def main():
    q = TICKS_PER_QUARTER
    tempo_track = [(0, b"\xff\x03\x06phrase"), tempo(0, 120), tempo(8 * q, 90)]

    notes = []
    melody = [60, 64, 67, 72, 67, 64, 60, 62, 65, 69, 72, 69, 65, 62]
    for i, key in enumerate(melody):
        notes.append((i * q // 2, key, q // 2 - 20))
    for key in (60, 64, 67, 72):  # a closing chord in the slower last bar
        notes.append((8 * q, key, 4 * q - 20))

    events = []
    for start, key, length in notes:
        events.append((start, bytes([0x90, key, 96])))
        events.append((start + length, bytes([0x80, key, 0])))
    events.sort(key=lambda event: (event[0], event[1][0] != 0x80))

    path = pathlib.Path(__file__).resolve().parent.parent / "demo" / "phrase.mid"
    path.write_bytes(header(1, 2, TICKS_PER_QUARTER) + track(tempo_track) + track(events))
    print(f"wrote {path}")


if __name__ == "__main__":
    main()
