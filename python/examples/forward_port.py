#!/usr/bin/python3
"""Forwards a live MIDI input port (the first one, or the one named) into receiver 1 until Ctrl-C.
Needs Debian's python3-rtmidi for mido's ports."""
import sys

import mido

import keyferry

with keyferry.open(1) as link, mido.open_input(sys.argv[1] if len(sys.argv) > 1 else None) as port:
    for message in port:                             # blocks for each message as it comes
        if not message.is_realtime:
            link.send(message)
