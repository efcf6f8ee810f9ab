#!/usr/bin/env bash
# Builds the fuzzers (clang, libFuzzer) and runs each on what the host and the
# module read from outside. Without options: a fixed number of inputs from a
# fixed seed, starting from the seeds alone, so every run tries the same
# inputs (the test suite runs this). With --seconds N: N seconds a fuzzer,
# over a corpus in build/fuzz/corpus that grows from run to run.
# Inputs that fail are kept in build/fuzz/failures.
set -euo pipefail
. "$(dirname "$0")/common.sh"

seconds=0
if [ "${1:-}" = "--seconds" ] && [ -n "${2:-}" ]; then seconds=$2; fi

tree=$BUILD/fuzz
if [ ! -f "$tree/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUMBROLUX_FUZZ=ON >/dev/null
fi
cmake --build "$tree" -- -j"$(nproc)" >/dev/null

seeds=$tree/seeds
rm -rf "$seeds"
"$tree/bin/fuzz_seeds" "$seeds"
mkdir -p "$tree/failures"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for fuzzer in png tiff jpeg pngmeta jpegmeta exif module pipl version aete settings delivered; do
  if [ "$seconds" -gt 0 ]; then
    corpus=$tree/corpus/$fuzzer
    mkdir -p "$corpus"
    limits=(-max_total_time="$seconds")
  else
    corpus=$work/$fuzzer
    mkdir -p "$corpus"
    # The image readers run whole images and is slower per input than the
    # readers of small records, and the preview's reduction of delivered
    # bands compares with a whole pyramid each time.
    if [ "$fuzzer" = png ] || [ "$fuzzer" = tiff ] || [ "$fuzzer" = jpeg ] || [ "$fuzzer" = delivered ]; then runs=30000; else runs=200000; fi
    limits=(-runs="$runs" -seed=1)
  fi
  if "$tree/bin/fuzz_$fuzzer" "${limits[@]}" -rss_limit_mb=1024 -artifact_prefix="$tree/failures/$fuzzer-" \
       "$corpus" "$seeds/$fuzzer" >"$work/$fuzzer.log" 2>&1; then
    echo "fuzz $fuzzer: $(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$work/$fuzzer.log" | head -n 1)s, no failure"
  else
    echo "fuzz $fuzzer: FAILED" >&2
    tail -n 40 "$work/$fuzzer.log" >&2
    status=1
  fi
done
exit $status
