#!/usr/bin/env bash
# The package a player downloads: exactly the five files, its DLL the very DLL the Windows
# tests ran against, and SHA256SUMS true of what is inside.
#   check_package.sh dist/QAV-VERSION-windows-x64.zip TESTED/QAV.dll
set -euo pipefail
zip=$1
tested=$2
work=$(mktemp -d /tmp/qav-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "$1"; status=1; }

unzip -q "$zip" -d "$work"
listing=$(cd "$work" && find . -mindepth 1 | sed 's|^\./||' | sort)
expected=$(printf '%s\n' INSTALL.txt QAV.dll SHA256SUMS telemetry.md telemetry.schema.json)
echo "in $zip: $(echo $listing)"
[ "$listing" = "$expected" ] || fail "the package must hold exactly: $(echo $expected)"
if [ -f "$work/QAV.dll" ]; then
  cmp -s "$work/QAV.dll" "$tested" || fail "its QAV.dll is not the DLL the tests ran against"
fi
if [ -f "$work/SHA256SUMS" ]; then
  (cd "$work" && sha256sum -c --strict SHA256SUMS) || fail "SHA256SUMS does not verify"
fi
[ $status -eq 0 ] && echo "package good"
exit $status
