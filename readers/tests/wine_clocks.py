"""Which Linux clock a host under Wine stamps `written` with, measured from outside.

    python3 wine_clocks.py FOLDER [SECONDS]

Watches FOLDER/telemetry.json (a Wine prefix's data folder) from a native process: whenever a
new document appears, it reads CLOCK_MONOTONIC, CLOCK_MONOTONIC_RAW and CLOCK_BOOTTIME in
milliseconds at once, then the document's `written`. For each clock it prints how far the
clock was ahead of `written` (smallest, median, largest over the documents), and how far
CLOCK_REALTIME was ahead of the file's last-write time, which is what a reader without the
first clocks can go by. Ends at the closing document, or after SECONDS (default 120).

A reader of a Wine host judges a document's age by CLOCK_MONOTONIC_RAW. A clock that follows
`written` leads it only by the time between the write and this look, a few milliseconds for
some of the documents at least. Exit status 1 when CLOCK_MONOTONIC_RAW does not: it was behind
`written` by more than a reader's 100 ms of slack, or its smallest lead is a second or more
(a third of the age that makes a host stale), or another clock's is 100 ms closer to 0. Exit
status 2 when no document, or only one, was seen.
"""
import json
import os
import statistics
import sys
import time

CLOCKS = [("CLOCK_MONOTONIC", time.CLOCK_MONOTONIC),
          ("CLOCK_MONOTONIC_RAW", time.CLOCK_MONOTONIC_RAW),
          ("CLOCK_BOOTTIME", time.CLOCK_BOOTTIME)]
READERS_CLOCK = "CLOCK_MONOTONIC_RAW"
SLACK_MS = 100  # a reader's allowance for a document stamped slightly ahead of its clock


def watch(path, seconds):
    """[(written, {clock: ms}, ms since the last write)] for every new document, until the closing one or the time."""
    seen, last, end = [], None, time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            st = os.stat(path)
        except FileNotFoundError:
            time.sleep(0.001)
            continue
        key = (st.st_ino, st.st_mtime_ns, st.st_size)
        if key != last:
            # The clocks first: the document was written before the rename that shows it here.
            now = {name: time.clock_gettime_ns(clock) // 1_000_000 for name, clock in CLOCKS}
            wall = time.clock_gettime_ns(time.CLOCK_REALTIME) - st.st_mtime_ns
            try:
                with open(path, "rb") as f:
                    data = f.read(8192)
                doc = json.loads(data)
            except (OSError, ValueError):
                continue  # replaced while being read: look again
            last = key
            seen.append((doc["written"], now, wall // 1_000_000))
            if doc["lastEvent"] == "game.closed" and doc["paused"] and doc["job"] is None:
                break
        time.sleep(0.001)
    return seen


def judge(leads):
    """From each clock's leads over written (ms, one per document): the clock written
    follows, and why READERS_CLOCK does not, or None when it does."""
    off = {name: abs(min(lead)) for name, lead in leads.items()}
    best = min(off, key=off.get)
    ours = min(leads[READERS_CLOCK])
    if ours < -SLACK_MS:
        return best, f"{READERS_CLOCK} was behind written by {-ours} ms"
    if ours >= 1000:
        return best, f"{READERS_CLOCK} was {ours} ms or more ahead of written"
    if off[best] + SLACK_MS <= off[READERS_CLOCK]:
        return best, f"{best} was {off[READERS_CLOCK] - off[best]} ms closer to written"
    return best, None


def main():
    folder = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 120
    seen = watch(os.path.join(folder, "telemetry.json"), seconds)
    if len(seen) < 2:
        print(f"wine clocks: {len(seen)} document(s) seen, too few to tell")
        return 2
    leads = {name: [now[name] - written for written, now, _ in seen] for name, _ in CLOCKS}
    print(f"wine clocks: {len(seen)} documents; how far each clock was ahead of written, in ms")
    for name, lead in leads.items():
        print(f"  {name:<20} smallest {min(lead):>7}  median {statistics.median(lead):>9}"
              f"  largest {max(lead):>7}")
    wall = [w for _, _, w in seen]
    print(f"  and CLOCK_REALTIME ahead of the file's last-write time: smallest {min(wall)},"
          f" median {statistics.median(wall)}, largest {max(wall)}")
    best, wrong = judge(leads)
    print(f"  written follows {best}")
    if wrong:
        print(f"wine clocks: written does not follow {READERS_CLOCK}, which readers use: {wrong}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
