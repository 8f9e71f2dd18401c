#!/usr/bin/env python3
"""The multi-process soak: nine receiver instances in three host processes, one peer process per
slot sending numbered messages at full speed, instances deactivated and reactivated at random
(slots move), resets requested at random. Then checks that every message a peer got accepted
under an identifier that stayed until the end arrived, that nothing arrived twice, out of order or
damaged, and that the table's counters agree with the claims made.

With --kills, short-lived hosts also come and go while the peers send: each claims what slots it
can and is then killed with SIGKILL, leaving its slots held by a dead process. Then it also checks
that no live instance ever lost its slot to someone else, that nothing arrived at a receiver it
was not sent to, and that at the end a new host gets all nine slots (nothing stayed stuck).
    run_soak.py SOAK_HOST SOAK_PEER MESSAGES_PER_PEER [--kills]"""

import os
import pathlib
import random
import signal
import struct
import subprocess
import sys
import tempfile
import time


def start_host(host_program, work, environment, name, instances, stop, seed):
    ready = work / f"{name}.ready"
    host = subprocess.Popen([host_program, str(instances), str(stop), str(ready), str(work / f"{name}.log"), str(seed)],
                            env=environment)
    return host, ready


def wait_ready(host, ready, name):
    while not ready.exists():
        if host.poll() is not None:
            sys.exit(f"soak host {name} ended early")
        time.sleep(0.01)


def kill_hosts_at_random(host_program, work, environment, peers):
    """Starts short-lived hosts and kills them while the peers run; returns how many were killed."""
    never = work / "never"  # victims never see a stop file: they are killed
    rng = random.Random(7)
    victims, killed = [], 0
    while any(peer.poll() is None for peer in peers):
        if len(victims) < 2:
            victims.append(start_host(host_program, work, environment, f"victim-{killed + len(victims)}", rng.randint(1, 3),
                                      never, 1000 + killed + len(victims)))
        time.sleep(rng.uniform(0.005, 0.04))
        host, ready = victims.pop(rng.randrange(len(victims)))
        if ready.exists():
            host.send_signal(signal.SIGKILL)
            host.wait()
            killed += 1
        else:
            victims.append((host, ready))
    for host, _ in victims:
        host.send_signal(signal.SIGKILL)
        host.wait()
        killed += 1
    return killed


def main():
    host_program, peer_program, per_peer = sys.argv[1], sys.argv[2], int(sys.argv[3])
    kills = "--kills" in sys.argv[4:]
    work = pathlib.Path(tempfile.mkdtemp(prefix="keyferry-soak-"))
    environment = dict(os.environ, HOME=str(work))
    table = work / ".config" / "Keyferry" / "receivers.dat"
    stop = work / "stop"

    hosts = []
    for h in range(3):
        hosts.append(start_host(host_program, work, environment, f"host-{h}", 3, stop, 100 + h))
        wait_ready(*hosts[-1], h)  # one at a time, so the slots are 0-8

    started = time.monotonic()
    peers = [subprocess.Popen([peer_program, str(table), str(slot), str(per_peer), str(stop), str(work / f"peer-{slot}.log"),
                               str(slot + 1)], env=environment) for slot in range(9)]
    killed = kill_hosts_at_random(host_program, work, environment, peers) if kills else 0
    deadline = started + 1800
    for peer in peers:
        if peer.wait(timeout=max(1, deadline - time.monotonic())) != 0:
            sys.exit("a soak peer failed")
    elapsed = time.monotonic() - started
    stop.touch()
    for host, _ in hosts:
        if host.wait(timeout=120) != 0:
            sys.exit("a soak host failed")

    # A new host claims all nine slots: none stayed held by a dead one.
    if kills:
        final, ready = start_host(host_program, work, environment, "final", 9, stop, 99)
        if final.wait(timeout=120) != 0:
            sys.exit("the final soak host failed")

    failures = []
    arrivals = {}  # (id, peer) -> (first, last, count, gaps)
    claims = 0
    ended_early = set()  # claims released before the stop, or whose host was killed: they may lose messages
    for log in sorted(work.glob("*.log")):
        if log.name.startswith("peer-"):
            continue
        for line in log.read_text().splitlines():
            fields = line.split()
            if fields[0] == "claimed":
                claims += 1
                if log.name.startswith("victim-"):
                    ended_early.add(fields[1])
            elif fields[0] == "released":
                ended_early.add(fields[1])
            elif fields[0] == "claims":
                if int(fields[3]) or int(fields[5]) or int(fields[7]):
                    failures.append(f"{log.stem}: {fields[3]} damaged, {fields[5]} out of order or twice, "
                                    f"{fields[7]} slots lost to another claim while held")
            else:
                arrivals[(fields[0], int(fields[1]))] = tuple(int(f) for f in fields[2:])
    mid_claim = 0
    if kills:
        # Every slot the final host did not get must be one whose holder was killed between its
        # claim and its holder record: such a claim cannot be judged, and is left alone.
        final_claims = sum(1 for line in (work / "final.log").read_text().splitlines() if line.startswith("claimed"))
        image, holders = table.read_bytes(), (table.parent / "holders.dat").read_bytes()
        for slot in range(9):
            start = 8 + 4180 * slot
            if image[start + 72] == 0:
                continue
            record = 16 + 128 * slot
            if image[start:start + 40] == holders[record + 8:record + 48]:
                failures.append(f"slot {slot} is still held by a dead host whose record names it")
            else:
                mid_claim += 1
        if final_claims + mid_claim != 9:
            failures.append(f"the final host got {final_claims} of 9 slots, {mid_claim} held by hosts killed mid-claim")

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
        # A peer can link to one claim more than once (the claim ended between its link and its
        # first send), so what it sent a claim is every epoch under that identifier together.
        accepted_under = {}
        for identifier, first, end in epochs:
            low, high = accepted_under.get(identifier, (first, end))
            accepted_under[identifier] = (min(low, first), max(high, end))
        for (identifier, peer), (first, last, _, _) in arrivals.items():
            if peer == slot and identifier in accepted_under:
                if first < accepted_under[identifier][0] or last >= accepted_under[identifier][1]:
                    failures.append(f"peer {slot}: {first}..{last} arrived at {identifier}, which they were not sent to")
            elif peer == slot:
                failures.append(f"peer {slot}: {first}..{last} arrived at {identifier}, which it never sent to")
        if epochs:
            identifier, first, end = epochs[-1]
            final = arrivals.get((identifier, slot))
            if end > first and identifier not in ended_early and (final is None or final[1] != end - 1):
                failures.append(f"peer {slot}: the last claim {identifier} did not deliver up to {end - 1}: {final}")

    change_counter, active_count = struct.unpack("<II", table.read_bytes()[:8])
    # A host killed between its claim and its holder record leaves that slot held for good, and
    # never logged the claim; it may have counted it (activeCount keeps it then) or not. One killed
    # between recording a claim and logging it leaves a claim (and the sweep's release) the logs
    # do not show. A host claims one slot at a time, so that is at most one per killed host.
    unlogged = range(0, killed + 1) if kills else range(1)
    if active_count > mid_claim or not any(change_counter == (2 * (claims + extra) + active_count) % 2**32
                                           for extra in unlogged):
        failures.append(f"counters: changeCounter {change_counter} for {claims} claims"
                        f"{f' and at most {killed} unlogged' if kills else ''}, activeCount {active_count} "
                        f"with {mid_claim} slots held by hosts killed mid-claim")

    print(f"soak: {accepted} messages accepted, {delivered} delivered, {claims} claims, {killed} hosts killed "
          f"({mid_claim} mid-claim), "
          f"{elapsed:.1f} s ({accepted / elapsed:.0f} messages per second)")
    if failures:
        print("soak failed:\n  " + "\n  ".join(failures))
        return 1
    subprocess.run(["rm", "-rf", str(work)])
    return 0


if __name__ == "__main__":
    sys.exit(main())
