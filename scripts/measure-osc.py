#!/usr/bin/env python3
"""Measures `keyferry osc` in real time through `keyferry-host`: where bundles tagged 50 ms ahead
land against the host sample that belongs to the tag's moment, with the host's clock on time and
0.5 % fast and slow, and how many plain messages a second get through a flood. Writes a table for
docs/PERFORMANCE.md to stdout. A benchmark, not a test.
    measure-osc.py BUILD_DIR"""

import os
import pathlib
import re
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

RATE = 48000
BLOCK = 512


def pad(data):
    return data + b"\0" * (4 - len(data) % 4)


def message(address, *ints):
    return pad(address.encode()) + pad(("," + "i" * len(ints)).encode()) + b"".join(struct.pack(">i", i) for i in ints)


def bundle(unix_moment, element):
    t = unix_moment + 2208988800
    return pad(b"#bundle") + struct.pack(">Q", (int(t) << 32) | int((t % 1) * 2**32)) + struct.pack(">i", len(element)) + element


def start(build, env, drift, port):
    bundle_dir = build / "plugin/KeyferryReceiver_artefacts/Release/VST3/Keyferry Receiver.vst3"
    # Into a file: a pipe nobody reads while the host prints hundreds of events a block would
    # stall the host, and with it the receiver's drain.
    output = pathlib.Path(env["HOME"]) / "host.log"
    host = subprocess.Popen([str(build / "tools/host/keyferry-host"), "run", str(bundle_dir), f"--block={BLOCK}",
                             f"--rate={RATE}", f"--clock-drift={drift}"], env=env, stdout=open(output, "w"), text=True)
    host.output = output
    while "ready:" not in output.read_text():
        time.sleep(0.01)
    ready = re.search(r"ready: receiver (\d).*sample 0 at (\d+) ns", output.read_text())
    tool = subprocess.Popen([str(build / "tools/keyferry/keyferry"), "osc", ready.group(1), "--port", str(port)], env=env,
                            stdout=subprocess.PIPE, text=True)
    tool.stdout.readline()
    return host, tool, int(ready.group(2))


def landed_times(host):
    """The times the note-ons came out, and how late on average the host woke for a block (ms)."""
    host.terminate()
    host.wait(timeout=30)
    output = host.output.read_text()
    woke = re.search(r"woke ([0-9.]+) us after a block was due", output)
    times = []
    for line in output.splitlines():
        fields = line.split()
        if len(fields) > 4 and fields[0].isdigit() and fields[4:6] == ["Note", "on"]:
            times.append(float(fields[2]))
    return times, float(woke.group(1)) / 1000 if woke else float("nan")


def placement(build, drift):
    home = tempfile.mkdtemp(prefix="keyferry-osc-")
    env = dict(os.environ, HOME=home)
    port = 21000 + os.getpid() % 1000
    host, tool, sample0 = start(build, env, drift, port)
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    time.sleep(0.5)
    # A first message makes the tool link to the receiver and start fitting its clock.
    udp.sendto(message("/keyferry/cc", 1, 1, 0), ("127.0.0.1", port))
    time.sleep(3.0)
    expected = []
    for i in range(40):
        ahead = 0.05
        moment_mono = time.monotonic_ns() + ahead * 1e9
        udp.sendto(bundle(time.time() + ahead, message("/keyferry/note_on", 1, 60 + i % 12, 100)), ("127.0.0.1", port))
        # The host's sample for that moment: its clock runs 'drift' fast against this one.
        expected.append((moment_mono - sample0) / 1e9 * RATE * (1 + drift / 100))
        time.sleep(0.1)
    time.sleep(0.3)
    tool.terminate()
    tool.wait(timeout=10)
    landed, woke_late = landed_times(host)
    subprocess.run(["rm", "-rf", home])
    return [(l * RATE - e) / RATE * 1000 for l, e in zip(landed, expected)], len(landed), woke_late


def throughput(build):
    home = tempfile.mkdtemp(prefix="keyferry-osc-")
    env = dict(os.environ, HOME=home)
    port = 22000 + os.getpid() % 1000
    host, tool, _ = start(build, env, 0.0, port)
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    time.sleep(0.5)
    packet = message("/keyferry/note_on", 1, 60, 100)
    began, sent = time.monotonic(), 0
    while time.monotonic() - began < 2.0:
        for _ in range(100):
            udp.sendto(packet, ("127.0.0.1", port))
        sent += 100
        time.sleep(0.001)
    time.sleep(0.5)
    tool.terminate()
    status, _ = tool.communicate(timeout=10)
    landed, _ = landed_times(host)
    subprocess.run(["rm", "-rf", home])
    span = landed[-1] - landed[0] if len(landed) > 1 else 1.0
    return sent / 2.0, len(landed) / span, status.strip().splitlines()[-1]


def main():
    build = pathlib.Path(sys.argv[1]).resolve()
    # The host stamps each block's clock when it wakes for it, after the block was due: samples
    # placed by those stamps land that much early against the ideal schedule judged here.
    print("| Host clock | Bundles placed | Worst error (ms) | Mean error (ms) | 95 % within (ms) | Mean signed error (ms) "
          "| Host woke late by (ms) | Signed error less that (ms) |")
    print("|---|---|---|---|---|---|---|---|")
    for drift in (0.0, 0.5, -0.5):
        errors, count, woke_late = placement(build, drift)
        magnitudes = sorted(abs(e) for e in errors)
        p95 = magnitudes[int(0.95 * (len(magnitudes) - 1))]
        signed = statistics.mean(errors)
        print(f"| {drift:+.1f} % | {count} of 40 | {max(magnitudes):.3f} | {statistics.mean(magnitudes):.3f} | {p95:.3f} "
              f"| {signed:+.3f} | {woke_late:.3f} | {signed + woke_late:+.3f} |")
    offered, delivered, status = throughput(build)
    print()
    ring_rate = RATE / BLOCK * (4096 // 9)
    print(f"Flood of plain note-ons for 2 s at {BLOCK} samples per block: {offered:.0f} offered a second, "
          f"{delivered:.0f} a second came out of the plug-in (a ring a block is {ring_rate:.0f}); the tool said: "
          f"\"{status}\". Packets the system's UDP buffer dropped before the tool saw them are not in its count.")


if __name__ == "__main__":
    main()
