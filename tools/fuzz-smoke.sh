#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each briefly on a scratch copy of its committed seed corpus. Longer runs by
# hand: FUZZ_SECONDS=600 tools/fuzz-smoke.sh
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-10}
dir=build-fuzz

# target name -> committed corpus
declare -A corpus=(
  [events_page_walk_fuzz]=tests/events/fuzz/corpus
  [support_fuzz_dict]=tests/support/fuzz/corpus/dict
  [support_fuzz_numbers]=tests/support/fuzz/corpus/numbers
  [support_fuzz_text]=tests/support/fuzz/corpus/text
  [fuzz_event_decoder]=tests/engine/fuzz/corpus
)

CC=clang CXX=clang++ cmake -G Ninja -B "$dir" -S . -DVEM_SANITIZE=address -DVEM_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$dir" -j "$(nproc)" --target "${!corpus[@]}"

for target in "${!corpus[@]}"; do
  scratch=$(mktemp -d)
  cp -r "${corpus[$target]}/." "$scratch/"
  echo "=== fuzz $target for ${seconds}s"
  "$dir/bin/$target" -max_total_time="$seconds" -max_len=65536 -malloc_limit_mb=4400 \
    -artifact_prefix="$dir/crash-$target-" "$scratch" 2>&1 | tail -n 3
  rm -rf "$scratch"
done
echo "=== fuzz targets ran clean"
