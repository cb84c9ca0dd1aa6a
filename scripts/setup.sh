#!/usr/bin/env bash
# Installs what building and testing QAV needs on a Debian machine, and nothing when it is
# all there already. Needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(cmake make g++ googletest libgtest-dev libbenchmark-dev
          g++-mingw-w64-x86-64-win32 wine64 wine
          nlohmann-json3-dev python3 python3-jsonschema python3-matplotlib nodejs zip unzip
          clang-14 libclang-rt-14-dev chromium)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# npm, for the dashboard's test-only browser driver; some builds of nodejs bring their own
command -v npm >/dev/null 2>&1 || missing+=(npm)
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
