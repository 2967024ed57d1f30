#!/usr/bin/env bash
# The main job: builds what is needed and runs the demos on built-in defaults.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh >/dev/null
cmake -G Ninja -B build -S . -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
for demo in build/bin/sentrel-demo build/bin/postvane-send-demo; do
  if [ -x "$demo" ]; then
    echo "=== $demo"
    "$demo"
  fi
done
