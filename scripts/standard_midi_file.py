"""Writing Standard MIDI Files with the standard library alone, for the scripts that make test
and demo files."""

import struct


def variable_length(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def track(events):
    """An MTrk chunk of events: (absolute tick, bytes) in time order; the end-of-track is added."""
    data, now = b"", 0
    for tick, message in events:
        data += variable_length(tick - now) + message
        now = tick
    data += variable_length(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + data


def header(file_format, tracks, ticks_per_quarter):
    return b"MThd" + struct.pack(">IHHH", 6, file_format, tracks, ticks_per_quarter)
