#!/usr/bin/python3
"""A generative arpeggio that follows the host's tempo: 4 bars of sixteenths on receiver 1,
starting at the next bar once the DAW's transport plays."""
import random

import keyferry

with keyferry.open(1) as link, link.scheduler(latency=0.05) as scheduler:
    chord = [60, 64, 67, 71]
    for step in range(64):                           # quarter notes on the host's timeline
        note = random.choice(chord) + 12 * random.randint(0, 1)
        scheduler.add(step / 4, [0x90, note, 90])
        scheduler.add(step / 4 + 0.2, [0x80, note, 0])
    scheduler.start_following()
    scheduler.run()
