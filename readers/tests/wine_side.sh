#!/usr/bin/env bash
# The usual Linux set-up: the host under Wine, the companion app native. The native C, Python
# and JavaScript readers, pointed at the Wine prefix's data folder while hostsim.exe drives
# QAV.dll there, must say live, then closed after the shutdown, never gone, and say that they
# did not check the writer (a Wine pid is no Linux pid). Beside them wine_clocks.py measures
# which Linux clock the documents' `written` follows, the one the readers judge the age by.
#   bash readers/tests/wine_side.sh [WORK]     after both builds (build/native, build/windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-$root/build/windows/wine-side}
wine=(bash "$root/scripts/wine.sh")
export WINEPREFIX=${WINEPREFIX:-$root/build/windows/wineprefix}
rm -rf "$work"
mkdir -p "$work"
# The judge of the clocks first, against made-up figures.
python3 "$root/readers/tests/test_wine_clocks.py" >"$work/judge.txt" 2>&1 ||
  { cat "$work/judge.txt"; exit 1; }

# The prefix's data folder by its real path (winepath answers through dosdevices/c:, a link to
# drive_c), without the last document of an earlier run.
folder=$("${wine[@]}" cmd /c 'echo %LOCALAPPDATA%\QAV' | tr -d '\r')
folder=$(realpath -m "$("${wine[@]}" winepath -u "$folder" | tr -d '\r')")
rm -f "$folder/telemetry.json"

names=(c python js)
commands=("$root/build/native/bin/qav-reader"
          "python3 $root/readers/python/qav_reader.py"
          "node $root/readers/js/qav-reader.js")
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
for i in "${!names[@]}"; do
  # shellcheck disable=SC2086 # the reader's command line
  ${commands[$i]} "$folder" >"$work/${names[$i]}.txt" 2>&1 &
  pids+=($!)
done
python3 "$root/readers/tests/wine_clocks.py" "$folder" 120 >"$work/clocks.txt" 2>&1 &
clocks=$!
trap 'kill "${pids[@]}" "$clocks" 2>/dev/null || true' EXIT
sleep 1
"${wine[@]}" "$root/build/windows/bin/hostsim.exe" >"$work/hostsim.txt" 2>&1 ||
  { cat "$work/hostsim.txt"; exit 1; }
sleep 1
kill "${pids[@]}"
wait "${pids[@]}" || true

failed=0
for name in "${names[@]}"; do
  out=$work/$name.txt
  # The verdicts after the waiting one, by their first word: live, stale, closed or host (gone).
  verdicts=$(sed -n 's/^verdict: \([a-z]*\).*/\1/p' "$out" | { grep -v waiting || true; } |
             uniq | paste -sd, -)
  wrong=
  case ",$verdicts," in
    *,host,*) wrong="said the host is gone" ;;
    ,live,*,closed, | ,live,closed,) ;;
    *) wrong="did not say live, then closed" ;;
  esac
  if [ -z "$wrong" ] && grep '^verdict: ' "$out" | grep -v '^verdict: waiting' |
       grep -qv '(writer not checked)'; then
    wrong="did not say that it could not check the writer"
  fi
  if [ -n "$wrong" ]; then
    echo "the $name reader $wrong (verdicts: ${verdicts:-none}):"
    cat "$out"
    failed=1
  else
    echo "the $name reader: $verdicts"
  fi
done

wait "$clocks" || failed=1
trap - EXIT
cat "$work/clocks.txt"
exit "$failed"
