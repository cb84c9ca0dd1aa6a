#!/usr/bin/env bash
# hostsim --watch as a user runs it, judged as the readers judge a host.
#
#   watch_run.sh replays RECORDINGS WORK QAV_READER HOSTSIM   (native)
#     each row replays a recording of RECORDINGS (changed as the row says) with --restamp, so
#     that its writer is the replay and its stamps are now. A watch beside it must end by
#     itself with the row's exit status after the row's verdicts, and the C reader's command,
#     watching too, must say the same verdicts in the same words. Then --once, which the kit's
#     self-test asks before it loads anything, on what may be in the folder.
#   watch_run.sh wine WORK HOSTSIM -- HOSTSIM_EXE...
#     the native HOSTSIM watches the Wine prefix's data folder while HOSTSIM_EXE (under Wine)
#     drives there: live, then closed, exit 0, never gone.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
mode=$1
shift
fail() { echo "FAIL: $*"; exit 1; }
# The verdicts a watch printed as they changed, one a line.
verdicts() { sed -n 's/^ *[0-9.]*  watch     //p' "$1"; }
# Waits up to 20 s for process $1, the watch writing to $watch, to end by itself; returns its
# exit status, or fails.
ends() {
  for _ in $(seq 200); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$1" 2>/dev/null; then
    kill -INT "$1"
    wait "$1" || true
    cat "$watch"
    fail "the watch did not end by itself"
  fi
  local got=0
  wait "$1" || got=$?
  return $got
}

case $mode in
replays)
  recordings=$1 work=$2 reader=$3 hostsim=$4
  rm -rf "$work" && mkdir -p "$work/to" && cd "$work"
  watch=watch.txt
  newer='s/\\"version\\":\\"1.0.0\\"/\\"version\\":\\"1.1.0\\",\\"fuel\\":{\\"litres\\":200}/'
  # name | recording | sed program for its lines | exit status | the watch's verdicts
  rows=(
    "a 1.1 document with an added member|drive.jsonl|$newer|0|waiting for the plug-in,live,closed"
    "a host that crashed|lost-closing.jsonl||3|waiting for the plug-in,live,host gone without a closing document"
  )
  for row in "${rows[@]}"; do
    IFS='|' read -r name recording edit want says <<<"$row"
    rm -f to/telemetry.json
    sed "$edit" "$recordings/$recording" >replay.jsonl
    "$hostsim" --watch to >watch.txt 2>&1 &
    watcher=$!
    $reader to >reader.txt 2>&1 &
    follower=$!
    sleep 0.3
    "$hostsim" --replay replay.jsonl --to to --restamp --speed 4 >/dev/null
    got=0
    ends $watcher || got=$?
    sleep 1.2 # the C reader looks at the writer's process once a second
    kill -TERM $follower && wait $follower || fail "$name: the C reader's command did not end well"
    cat watch.txt
    [ $got -eq "$want" ] || fail "$name: the watch exited with $got, not $want"
    [ "$(verdicts watch.txt | paste -sd,)" = "$says" ] || fail "$name: the watch did not say $says"
    [ "$(sed -n 's/^verdict: //p' reader.txt | paste -sd,)" = "$says" ] ||
      { cat reader.txt; fail "$name: the C reader said otherwise"; }
    echo "$name: $says, exit $got, as the C reader says"
  done

  # --once: one look; a writer that runs says live. The verdict is on its last line.
  rm -f to/telemetry.json
  "$hostsim" --replay "$recordings/drive.jsonl" --to to --restamp >/dev/null &
  replayer=$!
  sleep 1
  # name | what is put in the folder first | exit status | what it must say
  rows=(
    "a live writer|:|0|verdict: live"
    "nothing yet|rm -f to/telemetry.json|3|verdict: waiting for the plug-in"
    "a folder at the name|mkdir to/telemetry.json|3|telemetry.json is a directory"
  )
  for row in "${rows[@]}"; do
    IFS='|' read -r name setup want says <<<"$row"
    [ "$name" = "a live writer" ] || { kill -INT $replayer 2>/dev/null && wait $replayer || true; }
    eval "$setup"
    got=0
    "$hostsim" --watch to --once >watch.txt 2>&1 || got=$?
    cat watch.txt
    [ $got -eq "$want" ] || fail "--once on $name exited with $got, not $want"
    grep -qF "$says" watch.txt || fail "--once on $name did not say: $says"
  done
  ;;
wine)
  # Run from here: the commands may be relative to this folder.
  work=$1 hostsim=$2
  shift 3
  rm -rf "$work" && mkdir -p "$work"
  watch=$work/watch.txt
  printf '0 start\n1.5 pause\n2 start\n4 shutdown\n' >"$work/wine.scenario"
  prefix=${WINEPREFIX:-$root/build/windows/wineprefix}
  # The prefix, its user's folders and its system.reg, which tells a prefix, exist from here on:
  # a new prefix's registry reaches the disk when its wineserver ends.
  "$@" --print-default >/dev/null
  WINEPREFIX=$prefix wineserver -w
  data=$(ls -d "$prefix"/drive_c/users/*/AppData/Local | grep -v /Public/ | head -n 1)/QAV
  mkdir -p "$data"
  rm -f "$data/telemetry.json"
  "$hostsim" --watch "$data" >"$watch" 2>&1 &
  watcher=$!
  "$@" "$work/wine.scenario" >"$work/drive.txt" 2>&1 || { cat "$work/drive.txt"; fail "the drive under Wine failed"; }
  got=0
  ends $watcher || got=$?
  cat "$watch"
  says="waiting for the plug-in,live (writer not checked),closed (writer not checked)"
  [ $got -eq 0 ] || fail "the watch of a Wine prefix exited with $got, not 0"
  [ "$(verdicts "$watch" | paste -sd,)" = "$says" ] || fail "the watch of a Wine prefix did not say: $says"
  echo "a Wine prefix: $says, exit 0"
  ;;
*) fail "unknown mode $mode" ;;
esac
