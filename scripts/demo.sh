#!/usr/bin/env bash
# Builds QAV.dll, loads it into a host program under Wine, and shows the snapshot it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" >/dev/null
export WINEPREFIX=$PWD/build/windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine build/windows/bin/dll_host_tests.exe --gtest_filter='*ChannelsJobAndGameplay*' --gtest_brief=1
echo "telemetry.json:"
cat "$WINEPREFIX"/drive_c/users/*/AppData/Local/QAV/telemetry.json
