#!/usr/bin/env bash
# The dashboard's tests, beside hostsim and the native plug-in:  run.sh HOSTSIM PLUGIN
# Installs the test-only browser driver from the lockfile first; it never fetches a browser
# (the tests drive Debian's chromium).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! node_modules/.package-lock.json -nt package-lock.json ]; then
  PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --ignore-scripts --loglevel=error
fi
QAV_HOSTSIM=$1 QAV_PLUGIN=$2 exec node --test test/http.test.js test/browser.test.js
