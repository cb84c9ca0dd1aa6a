#!/usr/bin/env bash
# The companion kit's selftest.cmd, run under Wine as a companion author runs it on Windows
# (wine cmd /c selftest.cmd in the unpacked kit): both drives must pass, and selftest.txt
# must keep what it printed.
#   kit_selftest.sh dist/QAV-VERSION-companion-kit.zip
set -euo pipefail
kit=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
wine=$(cd "$(dirname "$0")/../.." && pwd)/scripts/wine.sh
work=$(mktemp -d /tmp/qav-kit-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
unzip -q "$kit"
status=0
bash "$wine" cmd /c selftest.cmd | tr -d '\r' | tee output.txt || status=$?
[ $status -eq 0 ] || { echo "selftest.cmd exited with $status"; exit 1; }
[ "$(grep -c '^  result: *OK$' output.txt)" -eq 2 ] || { echo "not two drives OK"; exit 1; }
[ "$(grep -c '^  inside the plug-in: ' output.txt)" -eq 2 ] || { echo "no figures"; exit 1; }
grep -q '^selftest: PASSED, ' output.txt
[ "$(tr -d '\r' <selftest.txt | grep -c -e '^  result: *OK$' -e '^selftest: PASSED$')" -eq 3 ] ||
  { echo "selftest.txt does not keep what it printed"; exit 1; }
echo "selftest passed"
