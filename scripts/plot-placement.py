#!/usr/bin/python3
"""Draws the placement error of each note of the pulse, as due against timed, from the figures
scripts/measure-placement.py measured. Needs Debian's python3-matplotlib.
    plot-placement.py FIGURES.json OUT.png"""

import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

RATE = 48000


def main():
    series = json.load(open(sys.argv[1]))
    figure, axes = plt.subplots(1, 3, figsize=(12, 3.6), sharey=True)
    for axis, block in zip(axes, (64, 512, 2048)):
        for drift, colour in ((0.0, "tab:grey"), (0.5, "tab:orange"), (-0.5, "tab:blue")):
            for mode, style in (("due", "o--"), ("timed", "s-")):
                errors = series[f"pulse/{block}/{drift}/{mode}"]
                label = f"{'as due' if mode == 'due' else 'timed'}, drift {drift:+.1f} %"
                axis.plot(range(len(errors)), [e / RATE * 1000 for e in errors], style, color=colour, markersize=3, label=label)
        axis.set_title(f"{block} samples per block")
        axis.set_xlabel("note of the pulse")
        axis.axhline(0, color="black", linewidth=0.5)
    axes[0].set_ylabel("placement error (ms)")
    axes[2].legend(fontsize=6)
    figure.tight_layout()
    figure.savefig(sys.argv[2], dpi=90)


if __name__ == "__main__":
    main()
