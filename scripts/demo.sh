#!/usr/bin/env bash
# The demo: builds QAV.dll and the host simulator, then plays a drive into the fresh DLL under
# Wine and prints every revision of telemetry.json as a reader sees it, and a summary.
# Arguments go to the simulator: a scenario file (relative to the repository), --record FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

echo "building QAV.dll and hostsim.exe (log: build/demo-build.log) ..."
mkdir -p build
if ! { cmake --preset windows && cmake --build --preset windows -j "$(nproc)" --target QAV hostsim; } \
     >build/demo-build.log 2>&1; then
  tail -n 30 build/demo-build.log
  exit 1
fi

bash scripts/wine.sh build/windows/bin/hostsim.exe "$@"
