#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs the whole test suite
# in a plain build, an AddressSanitizer + UndefinedBehaviorSanitizer build and a
# ThreadSanitizer build (threaded tests only); the fuzz targets run briefly in between.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
if [ -f tests/forward/package-lock.json ]; then
  (cd tests/forward && npm ci --no-audit --no-fund --loglevel=error)
fi

jobs=$(nproc)
run_tree() {
  local dir=$1
  shift
  echo "=== $dir: configure and build"
  cmake -G Ninja -B "$dir" -S . "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "=== $dir: ctest"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

run_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo
tools/fuzz-smoke.sh
run_tree build-asan -DVEM_SANITIZE=address -DVEM_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
run_tree build-tsan -DVEM_SANITIZE=thread -DVEM_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
echo "=== all test trees passed"
