#!/usr/bin/env python3
"""The multi-process soak: nine receiver instances in three host processes, one peer process per
slot sending numbered messages at full speed, instances deactivated and reactivated at random
(slots move), resets requested at random. Then checks that every message a peer got accepted
under an identifier that stayed until the end arrived, that nothing arrived twice, out of order or
damaged, and that the table's counters agree with the claims made.
    run_soak.py SOAK_HOST SOAK_PEER MESSAGES_PER_PEER"""

import collections
import os
import pathlib
import struct
import subprocess
import sys
import tempfile
import time


def main():
    host_program, peer_program, per_peer = sys.argv[1], sys.argv[2], int(sys.argv[3])
    work = pathlib.Path(tempfile.mkdtemp(prefix="keyferry-soak-"))
    environment = dict(os.environ, HOME=str(work))
    table = work / ".config" / "Keyferry" / "receivers.dat"
    stop = work / "stop"

    hosts = []
    for h in range(3):
        ready = work / f"host-{h}.ready"
        hosts.append((subprocess.Popen([host_program, "3", str(stop), str(ready), str(work / f"host-{h}.log"), str(100 + h)],
                                       env=environment), ready))
        while not ready.exists():  # one at a time, so the slots are 0-8
            if hosts[-1][0].poll() is not None:
                sys.exit(f"soak host {h} ended early")
            time.sleep(0.01)

    started = time.monotonic()
    peers = [subprocess.Popen([peer_program, str(table), str(slot), str(per_peer), str(stop), str(work / f"peer-{slot}.log"),
                               str(slot + 1)], env=environment) for slot in range(9)]
    deadline = started + 1800
    for peer in peers:
        if peer.wait(timeout=max(1, deadline - time.monotonic())) != 0:
            sys.exit("a soak peer failed")
    elapsed = time.monotonic() - started
    stop.touch()
    for host, _ in hosts:
        if host.wait(timeout=120) != 0:
            sys.exit("a soak host failed")

    failures = []
    arrivals = {}  # (id, peer) -> (first, last, count, gaps)
    claims = 0
    for h in range(3):
        for line in (work / f"host-{h}.log").read_text().splitlines():
            fields = line.split()
            if fields[0] == "claims":
                claims += int(fields[1])
                if int(fields[3]) or int(fields[5]):
                    failures.append(f"host {h}: {fields[3]} damaged, {fields[5]} out of order or twice")
            else:
                arrivals[(fields[0], int(fields[1]))] = tuple(int(f) for f in fields[2:])

    accepted = delivered = 0
    for slot in range(9):
        epochs = [line.split() for line in (work / f"peer-{slot}.log").read_text().splitlines()]
        epochs = [(identifier, int(first), int(end)) for identifier, first, end in epochs]
        accepted += sum(end - first for _, first, end in epochs)
        received = sorted((arrived for (identifier, peer), arrived in arrivals.items() if peer == slot), key=lambda a: a[0])
        delivered += sum(count for _, _, count, _ in received)
        for (first, last, count, gaps), following in zip(received, received[1:] + [None]):
            if gaps or count != last - first + 1:
                failures.append(f"peer {slot}: a gap within one claim ({first}..{last}, {count} messages)")
            if following and following[0] <= last:
                failures.append(f"peer {slot}: messages {following[0]}..{last} arrived twice")
        if epochs:
            identifier, first, end = epochs[-1]
            final = arrivals.get((identifier, slot))
            if end > first and (final is None or final[1] != end - 1):
                failures.append(f"peer {slot}: the last claim {identifier} did not deliver up to {end - 1}: {final}")

    change_counter, active_count = struct.unpack("<II", table.read_bytes()[:8])
    if active_count != 0 or change_counter != (2 * claims) % 2**32:
        failures.append(f"counters: changeCounter {change_counter} for {claims} claims, activeCount {active_count}")

    print(f"soak: {accepted} messages accepted, {delivered} delivered, {claims} claims, {elapsed:.1f} s "
          f"({accepted / elapsed:.0f} messages per second)")
    if failures:
        print("soak failed:\n  " + "\n  ".join(failures))
        return 1
    subprocess.run(["rm", "-rf", str(work)])
    return 0


if __name__ == "__main__":
    sys.exit(main())
