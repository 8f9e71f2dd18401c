#!/usr/bin/env python3
"""Turns a Google Benchmark JSON report of keyferry_benchmarks into docs/PERFORMANCE.md."""

import json
import platform
import sys


def medians(report):
    times = {}
    for run in report["benchmarks"]:
        if run.get("aggregate_name", "median") == "median":
            times[run["run_name"]] = run["cpu_time"]
    return times


def main():
    report = json.load(open(sys.argv[1]))
    t = medians(report)
    context = report["context"]
    lines = ["# Performance", "",
             "Measured by `scripts/benchmark.sh` (Google Benchmark, median of 5 repetitions, CPU time). "
             "Absolute times drift on shared machines, so every figure is a ratio against a baseline "
             "measured in the same run on the same data.", "",
             f"Machine: {context.get('num_cpus')} x {context.get('mhz_per_cpu')} MHz, {platform.system()} "
             f"{platform.release()}, {context.get('host_name', '')}, run {context.get('date', '')}.", ""]

    lines += ["## Draining and forwarding a ring", "",
              "The receiver's drain plus forward into the host's buffer, against adding the same events one by one "
              "with `juce::MidiBuffer::addEvent` and forwarding them with `addEvents` (which walks the buffer from "
              "its start for every event). Positions rise within a 64-sample block.", "",
              "| Ring | Messages | One by one (ns) | Receiver (ns) | Speed-up |", "|---|---|---|---|---|"]
    for count, size, label in ((1, 3, "one 3-byte message"), (64, 3, "64 3-byte messages"), (1000, 3, "full, 3-byte messages"),
                               (1, 256, "one 256-byte SysEx"), (1000, 256, "full, 256-byte SysEx")):
        base = t[f"BM_DrainForward_OneByOne/{count}/{size}"]
        ours = t[f"BM_DrainForward_Receiver/{count}/{size}"]
        messages = {1: 1, 64: 64}.get(count, 454 if size == 3 else 15)
        lines.append(f"| {label} | {messages} | {base:.0f} | {ours:.0f} | {base / ours:.2f}x |")

    lines += ["", "## processBlock", "",
              "The whole `processBlock` against `AudioBuffer::clear` alone on the same buffer.", "",
              "| Block | Situation | clear (ns) | processBlock (ns) | Overhead (ns) |", "|---|---|---|---|---|"]
    for block in (64, 512, 2048):
        base = t[f"BM_Block_ClearOnly/{block}"]
        for index, name in enumerate(("no slot", "empty ring", "reset request", "full ring")):
            ours = t[f"BM_Block_Process/{block}/{index}"]
            lines.append(f"| {block} | {name} | {base:.1f} | {ours:.1f} | {ours - base:.1f} |")

    without, withHead = t["BM_Block_ClockPublish/0"], t["BM_Block_ClockPublish/1"]
    lines += ["", "## The block clock", "",
              "What publishing the block clock adds to every `processBlock` (it is part of the figures above): "
              "reading `CLOCK_MONOTONIC` (through the vDSO, no system call), looking at the timed-delivery "
              "request, asking the play head, and writing the 128-byte record under its sequence counter. "
              "The budget is 50 ns a block.", "",
              "| Play head | Publish (ns) | Within 50 ns |", "|---|---|---|",
              f"| none | {without:.1f} | {'yes' if without <= 50 else 'no'} |",
              f"| playing, tempo, position, signature | {withHead:.1f} | {'yes' if withHead <= 50 else 'no'} |"]
    if len(sys.argv) > 3:
        lines += ["", "## Placement of events in the host's samples", "",
                  "`scripts/measure-placement.py`: a pulse of 16 notes 250 ms apart and the demo phrase, played "
                  "with `keyferry play` into `keyferry-host` in real time, once through the receiver's clock "
                  "(timed, the default) and once as events fall due (`--as-due`, how every peer sent before), "
                  "at three block lengths, with the host's sample clock on time and 0.5 % fast and slow "
                  "against the wall clock. Error: each note-on's place in the host's samples, relative to the "
                  "first note, minus its time in the file.", "",
                  open(sys.argv[3]).read().rstrip(), "",
                  "![Placement error per note of the pulse, as due and timed](placement.png)", ""]

    if len(sys.argv) > 4:
        lines += ["", "## OSC time tags and throughput", "",
                  "`scripts/measure-osc.py`: bundles tagged 50 ms ahead, one every 100 ms, sent to `keyferry osc` in front of the plug-in in `keyferry-host` (512 samples a block), against the host sample that belongs to the tag's moment (the host prints when its sample 0 is due on the monotonic clock). The tool maps a moment to samples through a least-squares fit of the receiver's last 512 block clocks, which follows the drift and averages out the callbacks' jitter. The receiver stamps a block's clock when the host calls it, and `keyferry-host` wakes for a block on average about 0.1 ms after it was due (it says how much when it stops), so every bundle lands that much early against the ideal schedule judged here; in a host, the callback is what the block's audio is timed from. The last column takes the host's mean lateness out: what is left is the tool's own error.", "", open(sys.argv[4]).read().rstrip(), ""]

    base, ours = t["BM_Send_Memcpy"], t["BM_Send_Append"]
    lines += ["", "## The sender's append", "",
              "| memcpy of the 9 bytes (ns) | RingWriter::append (ns) | Ratio |", "|---|---|---|",
              f"| {base:.2f} | {ours:.2f} | {ours / base:.1f}x |", "",
              "The append loads writePos and readPos and publishes writePos with a sequentially consistent store, "
              "as every process's operations on the shared fields are; on x86-64 that store is a locked exchange, "
              "which is most of the append's cost. A batch append publishes once for all its messages.", ""]
    if len(sys.argv) > 2:
        lines += ["## End to end across two processes", "",
                  "`keyferry_throughput`: a peer process appends 6-byte messages at full speed, waiting on back-pressure, "
                  "into a receiver driven at real block rate for 5 s. Ring use is the share of the 4096-byte ring "
                  "drained per block (after the first 100 blocks). Faults counts messages lost, repeated, out of "
                  "order or damaged. Every message comes out in the first block that drains after its writePos store, "
                  "because the drain loads writePos once, first, and takes everything up to it.", "",
                  "| Block | Rate | Messages per second | Ring use per block | Faults |", "|---|---|---|---|---|"]
        for line in open(sys.argv[2]):
            run = json.loads(line)
            lines.append(f"| {run['block']} | {run['rate']} | {run['messagesPerSecond']:.0f} | {100 * run['ringUse']:.1f} % | "
                         f"{run['faults']} |")
        lines.append("")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
