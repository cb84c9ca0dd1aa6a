#!/usr/bin/env bash
# The companion kit's selftest.cmd, run under Wine as a companion author runs it on Windows
# (wine cmd /c selftest.cmd in the unpacked kit), in a folder whose name holds "&" and a space:
# both drives must pass, and selftest.txt must keep what it printed. Beside a live writer it
# must refuse, exit non-zero and leave that writer's session undisturbed; in a folder it
# cannot write it must never say PASSED without two drives behind it.
#   kit_selftest.sh dist/QAV-VERSION-companion-kit.zip
set -euo pipefail
kit=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
wine=$root/scripts/wine.sh
prefix=${WINEPREFIX:-$root/build/windows/wineprefix}
work=$(mktemp -d /tmp/qav-kit-XXXXXX)
trap 'rm -rf "$work"' EXIT
here="$work/kit & co"
mkdir "$here"
cd "$here"
unzip -q "$kit"
fail() { echo "FAIL: $*"; exit 1; }
# Runs selftest.cmd here, its console output in output.txt; returns its exit status.
selftest() { bash "$wine" cmd /c selftest.cmd | tr -d '\r' | tee "$work/output.txt"; return "${PIPESTATUS[0]}"; }
# Whether output.txt says PASSED with two drives behind it.
passed_with_drives() {
  grep -q '^selftest: PASSED, ' "$work/output.txt" &&
    [ "$(grep -c '^  result: *OK$' "$work/output.txt")" -eq 2 ] &&
    [ "$(grep -c '^  inside the plug-in: ' "$work/output.txt")" -eq 2 ] &&
    [ "$(grep -c '^  writes not replaced: ' "$work/output.txt")" -eq 2 ]
}

status=0
selftest || status=$?
[ $status -eq 0 ] || fail "selftest.cmd exited with $status"
passed_with_drives || fail "not PASSED with two drives OK, their figures and writes not replaced"
grep -q '^system: ' "$work/output.txt" || fail "it does not say which Windows it ran on"
grep -q '^telemetry.json: "C:\\' "$work/output.txt" || fail "it does not name the data folder"
grep -q 'host log  \[QAV\] .* [0-9.]* loaded' "$work/output.txt" || fail "it does not show QAV.dll's version"
[ "$(tr -d '\r' <selftest.txt | grep -c -e '^  result: *OK$' -e '^selftest: PASSED$')" -eq 3 ] ||
  fail "selftest.txt does not keep what it printed"
echo "in a folder named with & and a space: PASSED"

# Beside a live writer: a drive of the kit's own hostsim.exe, whose reader names any other
# program that writes into its folder.
rm selftest.txt
printf '0 start\n12 shutdown\n' >"$work/long.scenario"
bash "$wine" hostsim.exe "Z:${work//\//\\}\\long.scenario" >"$work/writer.txt" 2>&1 &
writer=$!
for _ in $(seq 300); do
  grep -q ' rev 2 ' "$work/writer.txt" && break
  sleep 0.1
done
status=0
selftest || status=$?
wait $writer || { cat "$work/writer.txt"; fail "the writer's drive failed beside the self-test"; }
[ $status -ne 0 ] || fail "beside a live writer selftest.cmd exited with 0"
grep -q 'QAV is writing for a running game: close the game and run this again' "$work/output.txt" ||
  fail "beside a live writer it did not say why it refused"
! grep -q 'the built-in drive' "$work/output.txt" || fail "beside a live writer it drove"
[ ! -e selftest.txt ] || fail "beside a live writer it wrote selftest.txt"
tr -d '\r' <"$work/writer.txt" | grep -q '^  result: *OK$' || fail "the writer's session was disturbed"
echo "beside a live writer: refused with $status, the writer's session OK"

# Read-only folders, each in a mount namespace of its own (unshare -rm lets any user mount).
if ! unshare -rm true 2>/dev/null; then
  echo "read-only folders: skipped, this machine lets no user make a mount namespace"
  exit 0
fi
temp=$(ls -d "$prefix"/drive_c/users/*/Temp | grep -v /Public/ | head -n 1)
mkdir -p "$temp"
rm -rf "$temp/QAV-selftest"
# folders made read-only | exit status | what it must say
rows=(
  "$here|0|This folder cannot be written"
  "$here:$temp|1|selftest: FAILED, nothing ran"
)
# The wineserver opens files for its clients: each row starts one of its own in its namespace,
# and none may outlive the rows.
settle() { WINEPREFIX=$prefix wineserver -w; }
trap 'settle; rm -rf "$work"' EXIT
for row in "${rows[@]}"; do
  IFS='|' read -r folders want says <<<"$row"
  settle
  status=0
  unshare -rm bash -c 'IFS=:; for f in $1; do mount --bind "$f" "$f" && mount -o remount,bind,ro "$f" "$f"; done
    bash "$2" cmd /c selftest.cmd | tr -d "\r" >"$3"; exit "${PIPESTATUS[0]}"' \
    - "$folders" "$wine" "$work/output.txt" || status=$?
  cat "$work/output.txt"
  [ $status -eq "$want" ] || fail "with $folders read-only: exit $status, not $want"
  grep -qF "$says" "$work/output.txt" || fail "with $folders read-only it did not say: $says"
  if grep -q 'PASSED' "$work/output.txt"; then
    passed_with_drives || fail "with $folders read-only: PASSED without two drives behind it"
    tr -d '\r' <"$temp/QAV-selftest/selftest.txt" | grep -q '^selftest: PASSED$' ||
      fail "the selftest.txt it named is not in $temp/QAV-selftest"
  fi
  echo "with $folders read-only: exit $status, $says"
done
echo "selftest passed"
