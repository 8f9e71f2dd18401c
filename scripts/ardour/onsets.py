#!/usr/bin/env python3
"""Finds the notes in a recording of the synth: an onset is the first sample it plays (above 1e-6)
after at least 50 ms below it. Prints each onset in samples and its distance from the one before,
and checks the distances against the expected spacing.
    onsets.py RECORDING.wav SPACING_MS [BEAT_SAMPLES]
With BEAT_SAMPLES it also prints where each onset falls on the beat grid of the recording."""

import struct
import sys

THRESHOLD = 1e-6  # the synth is digitally silent between notes: the first sample it plays
QUIET = 0.05  # seconds below the threshold before an onset


def read_wav(path):
    """A mono WAV file of 32-bit floats (as Ardour records) or 16-bit integers: rate, samples."""
    data = open(path, "rb").read()
    position, rate, fmt, samples = 12, 0, 0, b""
    while position + 8 <= len(data):
        kind, size = data[position:position + 4], struct.unpack("<I", data[position + 4:position + 8])[0]
        body = data[position + 8:position + 8 + size]
        if kind == b"fmt ":
            fmt, _, rate = struct.unpack("<HHI", body[:8])
        elif kind == b"data":
            samples = body
        position += 8 + size + (size & 1)
    if fmt == 3:
        return rate, struct.unpack(f"<{len(samples) // 4}f", samples)
    return rate, [v / 32768 for v in struct.unpack(f"<{len(samples) // 2}h", samples)]


def main():
    path, spacing_ms = sys.argv[1], float(sys.argv[2])
    beat = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    rate, values = read_wav(path)

    onsets, quiet_since = [], 0
    for i, value in enumerate(values):
        if abs(value) > THRESHOLD:
            if i - quiet_since >= QUIET * rate:
                onsets.append(i)
            quiet_since = i + 1
    expected = spacing_ms / 1000 * rate
    errors = []
    for previous, onset in zip(onsets, onsets[1:]):
        errors.append(onset - previous - expected)
    for n, onset in enumerate(onsets):
        extra = f"  beat grid offset {onset % beat}" if beat else ""
        gap = f"  spacing error {errors[n - 1]:+.1f} samples ({errors[n - 1] / rate * 1000:+.3f} ms)" if n else ""
        print(f"note {n + 1:2d} at sample {onset}{gap}{extra}")
    worst = max((abs(e) for e in errors), default=float("nan"))
    print(f"{len(onsets)} notes, worst spacing error {worst:.1f} samples ({worst / rate * 1000:.3f} ms)")
    return 0 if onsets and worst / rate * 1000 <= 0.1 else 1


if __name__ == "__main__":
    sys.exit(main())
