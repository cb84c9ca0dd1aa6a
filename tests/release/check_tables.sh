#!/usr/bin/env bash
# What the host and the player's machine see of the plug-in's binary. QAV.dll: exactly the two
# entry points by their plain names, only system DLLs imported, a version resource, and the
# loader's hardening (ASLR with high-entropy addresses, no execution of data). libQAV.so: the
# same two entry points and no other function of ours.
#   check_tables.sh QAV.dll | libQAV.so
set -euo pipefail
file=$1
entry_points=$(printf 'scs_telemetry_init\nscs_telemetry_shutdown')
status=0
fail() { echo "$1"; status=1; }

case "$file" in
*.dll)
  dump=$(x86_64-w64-mingw32-objdump -p "$file")
  imports=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p' | tr '[:lower:]' '[:upper:]' | sort -u)
  exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
    | sed -n 's/^\s*\[\s*[0-9]*\] //p' | sort)
  echo "imports: $(echo $imports)"
  echo "exports: $(echo $exports)"
  for dll_name in $imports; do
    case "$dll_name" in
      KERNEL32.DLL|SHELL32.DLL|MSVCRT.DLL) ;;
      API-MS-WIN-CRT-*.DLL) ;; # the universal C runtime's forwarders, on every Windows 10+
      *) fail "unexpected import: $dll_name" ;;
    esac
  done
  [ "$exports" = "$entry_points" ] ||
    fail "exports must be exactly scs_telemetry_init and scs_telemetry_shutdown"
  resources=$(printf '%s\n' "$dump" | awk '/^Entry 2 .*Resource Directory/ {print $4}')
  echo "resource directory: ${resources:-none} bytes"
  [ -n "$resources" ] && [ "$((16#$resources))" -gt 0 ] ||
    fail "no resource directory: the version resource is missing"
  characteristics=$(printf '%s\n' "$dump" | sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p')
  echo "DllCharacteristics: $(echo $characteristics | cut -d' ' -f2- | sed 's/ SizeOf.*//')"
  for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
    printf '%s\n' "$characteristics" | grep -qw "$flag" || fail "DllCharacteristics lacks $flag"
  done
  ;;
*.so)
  defined=$(nm -D --defined-only "$file" | awk '$2 ~ /^[TtWwiDdBbRrVv]$/ {print $3}' | sort)
  echo "defined dynamic symbols: $(echo $defined)"
  [ "$defined" = "$entry_points" ] ||
    fail "libQAV.so must export exactly scs_telemetry_init and scs_telemetry_shutdown"
  ;;
*) fail "not a .dll or .so: $file" ;;
esac
exit $status
