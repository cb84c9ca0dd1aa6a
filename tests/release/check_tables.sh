#!/usr/bin/env bash
# The host finds QAV.dll's entry points by their plain names, and a player's machine has only
# system DLLs: fail on any other export or on any import outside that set.
set -euo pipefail
dll=$1
dump=$(x86_64-w64-mingw32-objdump -p "$dll")

imports=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p' | tr '[:lower:]' '[:upper:]' | sort -u)
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
  | sed -n 's/^\s*\[\s*[0-9]*\] //p' | sort)

echo "imports: $(echo $imports)"
echo "exports: $(echo $exports)"
status=0
for dll_name in $imports; do
  case "$dll_name" in
    KERNEL32.DLL|SHELL32.DLL|MSVCRT.DLL) ;;
    API-MS-WIN-CRT-*.DLL) ;; # the universal C runtime's forwarders, on every Windows 10+
    *) echo "unexpected import: $dll_name"; status=1 ;;
  esac
done
if [ "$exports" != "$(printf 'scs_telemetry_init\nscs_telemetry_shutdown')" ]; then
  echo "exports must be exactly scs_telemetry_init and scs_telemetry_shutdown"
  status=1
fi
exit $status
