#!/usr/bin/env bash
# Makes every recording in this folder again from the real plug-in (libQAV.so, driven by the
# native hostsim), and the hand-made ones from those: bash docs/recordings/make.sh [BIN]
# BIN holds hostsim and libQAV.so; by default build/native/bin.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=${1:-$root/build/native/bin}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each recording gets a data folder of its own: no other session's document gets into it.
hostsim() {
  local name=$1
  shift
  mkdir -p "$work/$name"
  XDG_DATA_HOME=$work/$name "$bin/hostsim" --plugin "$bin/libQAV.so" "$@" >>"$work/$name.out" 2>&1
}
record() {
  local name=$1
  shift
  hostsim "$name" --record "$here/$name.jsonl" "$@" || { cat "$work/$name.out"; exit 1; }
}

record drive
record texts "$here/texts.scenario"
record burst "$here/burst.scenario"
record job "$here/job.scenario"
record freeze "$root/tests/tools/freeze.scenario"
record crash "$root/tests/tools/crash.scenario"

# A watch sees a crashed session and the next one in the same folder.
mkdir -p "$work/after-crash"
XDG_DATA_HOME=$work/after-crash "$bin/hostsim" --watch --record "$here/after-crash.jsonl" \
  >"$work/watch.out" 2>&1 &
watch=$!
sleep 0.5
hostsim after-crash "$root/tests/tools/crash.scenario" || true
hostsim after-crash "$root/tests/tools/short.scenario" || true
wait "$watch" || true

# Two hosts on one data folder: the first one's reader sees both write.
hostsim two-hosts --record "$here/two-hosts.jsonl" "$root/tests/tools/short.scenario" &
first=$!
sleep 0.3
hostsim two-hosts "$root/tests/tools/short.scenario" || true
wait "$first" || true

# The plug-in writes the largest document but for pid, written, gameTime and eventSeq, which
# no scenario sets: make.sh sets them to their widest afterwards.
record largest "$root/tests/tools/largest.scenario"

python3 - "$here" <<'PY'
import json, re, sys
here = sys.argv[1]
def load(name):
    return [json.loads(line) for line in open(f"{here}/{name}.jsonl", encoding="utf-8")]
def save(name, lines):
    with open(f"{here}/{name}.jsonl", "w", encoding="utf-8", newline="\n") as f:
        for line in lines:
            f.write(json.dumps(line, ensure_ascii=False, separators=(",", ":")) + "\n")
def edited(line, **members):
    doc = line["document"]
    for key, value in members.items():
        doc = re.sub(f'"{key}":("[^"]*"|-?\\d+)', lambda m: f'"{key}":{json.dumps(value)}', doc, 1)
    return dict(line, cause=line["cause"] + " (edited by hand)", document=doc)

# By hand: the closing document lost, as a reader that held the file at shutdown leaves it.
drive = load("drive")
save("lost-closing", drive[:-1])

# By hand: eventSeq across the wrap, on the built-in drive's documents.
seqs = [(0, ""), (4294967294, "toll.paid"), (4294967295, "toll.paid"), (0, "player.fined"),
        (3, "toll.paid"), (3, "game.closed")]
save("wrap", [edited(line, eventSeq=seq, lastEvent=name)
              for line, (seq, name) in zip(drive[:5] + drive[-1:], seqs)])

# By hand: a restart that got the crashed host's pid, as Wine often gives it, read by a reader
# that polls every few seconds and so missed the new session's documents before its first
# gameplay event, the load document among them. The crashed session is given gameplay events,
# so that eventSeq falls at the restart (0, 0, 1, 2, then 1).
after = load("after-crash")
pid = json.loads(after[0]["document"])["pid"]
seq = [json.loads(line["document"])["eventSeq"] for line in after]
cut = next(i for i, line in enumerate(after) if json.loads(line["document"])["pid"] != pid)
first_event = next(i for i in range(cut, len(after)) if seq[i] > 0)
crashed = [edited(line, eventSeq=i - 1, lastEvent="toll.paid") if i > 1 else line
           for i, line in enumerate(after[:cut])]
save("same-pid", crashed + [edited(line, pid=pid) for line in after[first_event:]])

# By hand: pid, written, gameTime and eventSeq at their widest, in the largest document the
# plug-in wrote.
biggest = max(load("largest"), key=lambda line: len(line["document"].encode()))
save("largest", [edited(biggest, pid=4294967295, written=18446744073709551615,
                        gameTime=4294967295, eventSeq=4294967295)])
print("largest:", len(biggest["document"].encode()), "bytes as written,",
      len(load("largest")[0]["document"].encode()), "with four numbers at their widest")
PY
