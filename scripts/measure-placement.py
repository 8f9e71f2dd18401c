#!/usr/bin/env python3
"""Measures where events land: plays a steady pulse and the demo phrase with `keyferry play` into
`keyferry-host` in real time, at 64, 512 and 2048 samples per block, with the host's clock at 0 and
+-0.5 % from the wall clock, once through the receiver's clock (timed, the default) and once as
events fall due (--as-due), and compares each note-on's place in the host's samples, relative to the
first, with its time in the file. Writes the table for docs/PERFORMANCE.md to stdout and the plot
to docs/placement.png (scripts/plot-placement.py). A benchmark, not a test: it runs in real time for a few minutes.
    measure-placement.py BUILD_DIR"""

import json
import os
import pathlib
import re
import struct
import subprocess
import sys
import tempfile
import time

RATE = 48000
ROOT = pathlib.Path(__file__).resolve().parent.parent


def read_note_on_times(path):
    """The note-on times, in seconds, of a Standard MIDI File timed in ticks, tempo map applied."""
    data = pathlib.Path(path).read_bytes()
    _, _, ntracks, division = struct.unpack(">IHHH", data[4:14])
    position, events, tempos = 14, [], [(0, 500000)]
    for _ in range(ntracks):
        length = struct.unpack(">I", data[position + 4:position + 8])[0]
        chunk, position = data[position + 8:position + 8 + length], position + 8 + length
        i, tick, status = 0, 0, 0
        while i < len(chunk):
            delta = 0
            while True:
                byte = chunk[i]
                i += 1
                delta = (delta << 7) | (byte & 0x7F)
                if byte < 0x80:
                    break
            tick += delta
            if chunk[i] >= 0x80:
                status = chunk[i]
                i += 1
            if status == 0xFF:
                kind, size = chunk[i], chunk[i + 1]
                if kind == 0x51:
                    tempos.append((tick, int.from_bytes(chunk[i + 2:i + 5], "big")))
                i += 2 + size
            elif status in (0xF0, 0xF7):
                size = chunk[i]
                i += 1 + size
            else:
                size = 1 if status & 0xF0 in (0xC0, 0xD0) else 2
                if status & 0xF0 == 0x90 and chunk[i + 1] > 0:
                    events.append(tick)
                i += size
    tempos.sort()

    def seconds(tick):
        total, last_tick, last_tempo = 0.0, 0, 500000
        for change_tick, tempo in tempos:
            if change_tick >= tick:
                break
            total += (change_tick - last_tick) * last_tempo / division / 1e6
            last_tick, last_tempo = change_tick, tempo
        return total + (tick - last_tick) * last_tempo / division / 1e6

    return sorted(seconds(t) for t in events)


def run(build, bundle, midi, block, drift, as_due):
    home = tempfile.mkdtemp(prefix="keyferry-placement-")
    env = dict(os.environ, HOME=home)
    host = subprocess.Popen([str(build / "tools/host/keyferry-host"), "run", str(bundle), f"--block={block}",
                             f"--rate={RATE}", f"--clock-drift={drift}"], env=env, stdout=subprocess.PIPE, text=True)
    first = host.stdout.readline()
    receiver = re.match(r"ready: receiver (\d)", first).group(1)
    command = [str(build / "tools/keyferry/keyferry"), "play", str(midi), receiver, "--quiet"] + (["--as-due"] if as_due else [])
    subprocess.run(command, env=env, check=True, stdout=subprocess.DEVNULL)
    time.sleep(0.3)
    host.terminate()
    output, _ = host.communicate(timeout=30)
    subprocess.run(["rm", "-rf", home])
    times = []
    for line in output.splitlines():
        fields = line.split()
        if len(fields) > 4 and fields[4:6] == ["Note", "on"]:
            times.append(float(fields[2]))
    return times


def main():
    build = pathlib.Path(sys.argv[1]).resolve()
    bundle = build / "plugin/KeyferryReceiver_artefacts/Release/VST3/Keyferry Receiver.vst3"
    work = pathlib.Path(tempfile.mkdtemp(prefix="keyferry-pulse-"))
    pulse = work / "pulse.mid"
    subprocess.run([sys.executable, str(ROOT / "scripts/make-pulse.py"), str(pulse), "16", "250"], check=True)
    files = {"pulse": pulse, "phrase": ROOT / "demo/phrase.mid"}

    rows, series = [], {}
    for name, midi in files.items():
        expected = read_note_on_times(midi)
        for block in (64, 512, 2048):
            for drift in (0.0, 0.5, -0.5):
                for as_due in (True, False):
                    landed = run(build, bundle, midi, block, drift, as_due)
                    if len(landed) != len(expected):
                        sys.exit(f"{name} {block} {drift} {'as due' if as_due else 'timed'}: "
                                 f"{len(landed)} of {len(expected)} notes came out")
                    errors = [round((l - landed[0] - (e - expected[0])) * RATE) for l, e in zip(landed, expected)]
                    worst = max(abs(e) for e in errors)
                    mean = sum(abs(e) for e in errors) / len(errors)
                    rows.append((name, block, drift, "as due" if as_due else "timed", len(errors), worst, mean))
                    series[(name, block, drift, as_due)] = errors

    print("| File | Block | Clock drift | Sending | Notes | Worst error (samples) | Mean error (samples) |")
    print("|---|---|---|---|---|---|---|")
    for name, block, drift, mode, count, worst, mean in rows:
        print(f"| {name} | {block} | {drift:+.1f} % | {mode} | {count} | {worst} ({worst / RATE * 1000:.2f} ms) | {mean:.1f} |")

    # Debian's matplotlib lives with Debian's own interpreter.
    data = work / "placement.json"
    data.write_text(json.dumps({f"{n}/{b}/{d}/{'due' if a else 'timed'}": e for (n, b, d, a), e in series.items()}))
    subprocess.run(["/usr/bin/python3", str(ROOT / "scripts/plot-placement.py"), str(data), str(ROOT / "docs/placement.png")],
                   check=True)


if __name__ == "__main__":
    main()
