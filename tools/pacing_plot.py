#!/usr/bin/env python3
"""Draws a `hostsim --record` recording as one picture of the drive's pacing.

    pacing_plot.py RECORDING PICTURE.png

Lanes show when the simulation ran or was paused, when a job was on and when gameplay
events came; every document the reader saw is marked at the time it was read, by why it was
written; below them, the truck's speed as the documents carried it.
"""
import json
import sys

import matplotlib

matplotlib.use("Agg")  # a file, never a window
import matplotlib.pyplot as plt  # noqa: E402

# How each cause is marked; a document with several causes takes its first.
MARKS = {
    "load": ("s", "black"),
    "first": ("s", "black"),
    "first frame": ("o", "black"),
    "paced": ("o", "tab:gray"),
    "follow-up": ("o", "tab:olive"),
    "started": (">", "tab:green"),
    "paused": ("|", "tab:red"),
    "job": ("D", "tab:blue"),
    "no job": ("d", "tab:cyan"),
    "event": ("*", "tab:orange"),
    "closing": ("X", "tab:purple"),
    "invalid": ("x", "red"),
}
LANES = ["documents", "events", "job", "running"]


def read(path):
    seen = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = json.loads(line)
            try:
                document = json.loads(line["document"])
            except ValueError:
                document = None
            seen.append((line["at"], line["cause"], document))
    return seen


def spans(seen, end, holds):
    """(start, width) of the stretches between documents in which `holds` is true."""
    out = []
    for i, (at, _, doc) in enumerate(seen):
        until = seen[i + 1][0] if i + 1 < len(seen) else end
        if doc is None or not holds(doc):
            continue
        if out and out[-1][0] + out[-1][1] == at:
            out[-1] = (out[-1][0], until - out[-1][0])
        else:
            out.append((at, until - at))
    return out


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    seen = read(sys.argv[1])
    if not seen:
        sys.exit("%s: no documents" % sys.argv[1])
    end = seen[-1][0] + 0.2
    figure, (lanes, speed) = plt.subplots(
        2, 1, sharex=True, figsize=(11, 5.5), height_ratios=[3, 2])

    row = {name: i for i, name in enumerate(LANES)}
    lanes.broken_barh(spans(seen, end, lambda d: not d["paused"]), (row["running"] - 0.3, 0.6),
                      color="tab:green", alpha=0.35)
    lanes.broken_barh(spans(seen, end, lambda d: d["paused"]), (row["running"] - 0.3, 0.6),
                      color="tab:red", alpha=0.2)
    lanes.broken_barh(spans(seen, end, lambda d: d["job"] is not None), (row["job"] - 0.3, 0.6),
                      color="tab:blue", alpha=0.35)
    for at, _, doc in seen:
        if doc is not None and doc["job"] is not None:
            lanes.text(at, row["job"], " " + doc["job"]["cargo"], va="center", fontsize=8)
            break
    previous = 0
    for at, _, doc in seen:
        if doc is not None and doc["eventSeq"] != previous:
            lanes.plot(at, row["events"], "*", color="tab:orange", markersize=10)
            lanes.text(at, row["events"] + 0.25, doc["lastEvent"], fontsize=8, rotation=15)
            previous = doc["eventSeq"]
    shown = set()
    for at, cause, _ in seen:
        first = cause.split("+")[0]
        marker, colour = MARKS.get(first, ("o", "black"))
        lanes.plot(at, row["documents"], marker, color=colour, markersize=8,
                   label=None if first in shown else first)
        shown.add(first)
    lanes.set_yticks(range(len(LANES)))
    lanes.set_yticklabels(["documents", "events", "job", "running / paused"])
    lanes.set_ylim(-0.7, len(LANES) - 0.3)
    lanes.legend(loc="upper left", bbox_to_anchor=(1.01, 1), fontsize=8, title="written for")
    lanes.set_title("telemetry.json as the reader saw it")

    points = [(at, doc["speed"] * 3.6) for at, _, doc in seen
              if doc is not None and doc["speed"] is not None]
    speed.plot([p[0] for p in points], [p[1] for p in points], "-o", color="tab:blue", markersize=3)
    speed.set_ylabel("speed, km/h")
    speed.set_xlabel("seconds since the simulator started")
    speed.set_xlim(0, end)
    speed.grid(alpha=0.3)
    figure.tight_layout()
    figure.savefig(sys.argv[2], dpi=100)


if __name__ == "__main__":
    main()
