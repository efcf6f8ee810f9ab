#!/usr/bin/env bash
# Sets up, builds and runs every test: the pure code natively, then the
# built module in the emulated host under Wine.
set -euo pipefail
. "$(dirname "$0")/common.sh"

"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"

trap 'stop_wine; stop_xvfb' EXIT
start_xvfb
start_wine

status=0
echo "== native tests"
ctest --test-dir "$BUILD/native" --output-on-failure -j"$(nproc)" || status=1

echo "== 64-bit module under Wine"
ctest --test-dir "$BUILD/win64" --output-on-failure -j"$(nproc)" || status=1

if can_run_i386; then
  echo "== 32-bit module under Wine"
  ctest --test-dir "$BUILD/win32" --output-on-failure -j"$(nproc)" || status=1
else
  echo "== 32-bit module: built and checked as a file; this machine cannot execute 32-bit x86 code"
fi
exit $status
